// The help viewer: reading help files, the index and the search, and finding one's way in the
// window; and the help file that ships with the program.
#include "helpers/winhelp/helpfile.h"
#include "helpers/winhelp/helpviewer.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

using namespace zelv;

namespace {

const QByteArray kSample = "Zelvant32 help\r\n"
                           "== contents | Welcome\r\n"
                           "keywords: Start; help\r\n"
                           "Read [installing](#install) or [the web](https://zelvant32.example.org/).\r\n"
                           "\r\n"
                           "== install | Installing zip disks\n"
                           "keywords: install; zip disks;  ; errors.txt\n"
                           "Select the **disks** and press Ctrl+I.\n"
                           "== Not-A-Topic | stays in the body\n"
                           "=== errors | Error messages\n"
                           "keywords: errors.txt; Zip CRC error\n"
                           "A damaged disk gives *Zip CRC error*.\n"
                           "Title\n"
                           "=====\n"
                           "== drives | Drives\n"
                           "Drive letters and [a missing topic](#nowhere).\n";

HelpFile sample()
{
    auto file = HelpFile::parse(kSample);
    Q_ASSERT_X(file, "sample", qPrintable(file ? QString() : file.error().text()));
    return *file;
}

QStringList topicIds(const HelpFile &file, const QList<int> &topics)
{
    QStringList ids;
    for (int t : topics)
        ids << file.topics()[t].id;
    return ids;
}

} // namespace

class TestHelpViewer : public QObject {
    Q_OBJECT
private slots:
    void refusedFiles_data();
    void refusedFiles();
    void topicsKeywordsAndBodies();
    void indexAndSearch_data();
    void indexAndSearch();
    void findingOnesWay();
    void typeToFind_data();
    void typeToFind();
    void unreadableFileSaysWhyInOneLine();
    void shippedHelpFile();
    void wholeOnTheScreen();
};

void TestHelpViewer::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("why");
    // clang-format off
    QTest::newRow("empty") << QByteArray() << "it is not a Zelvant32 help file";
    QTest::newRow("another text") << QByteArray("Hello\n== a | A\n") << "it is not a Zelvant32 help file";
    QTest::newRow("not UTF-8") << QByteArray("Zelvant32 help\n== a | \xff\xfe\n") << "it is not UTF-8 text";
    QTest::newRow("text before a topic") << QByteArray("Zelvant32 help\n\nstray\n== a | A\n") << "line 3 comes before the first topic";
    QTest::newRow("no topic") << QByteArray("Zelvant32 help\n\n") << "it has no topics";
    QTest::newRow("id twice") << QByteArray("Zelvant32 help\n== a | A\n=== a | Again\n") << "topic a is named twice";
    // clang-format on
}

void TestHelpViewer::refusedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);
    const auto parsed = HelpFile::parse(bytes);
    QVERIFY(!parsed);
    QCOMPARE(parsed.error().text(), why);
}

void TestHelpViewer::topicsKeywordsAndBodies()
{
    const HelpFile file = sample();
    QCOMPARE(file.topics().size(), 4);
    const HelpTopic &install = file.topics()[1];
    QCOMPARE(install.title, QStringLiteral("Installing zip disks"));
    QCOMPARE(install.level, 1);
    QCOMPARE(install.keywords, (QStringList{"install", "zip disks", "errors.txt"}));
    // A line that only looks like a topic's start, and a Markdown underline, stay in the body.
    QVERIFY(install.markdown.contains(QStringLiteral("== Not-A-Topic | stays in the body")));
    QCOMPARE(file.topics()[2].level, 2);
    QVERIFY(file.topics()[2].markdown.endsWith(QStringLiteral("Title\n=====\n")));
    QVERIFY(file.topics()[3].keywords.isEmpty());
    QCOMPARE(file.topics()[0].markdown.contains(u'\r'), false);
    QCOMPARE(file.topicById(QStringLiteral("drives")), 3);
    QCOMPARE(file.topicById(QStringLiteral("nowhere")), -1);
}

void TestHelpViewer::indexAndSearch_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("found");
    // clang-format off
    QTest::newRow("one word") << "disk" << QStringList{"install", "errors"};
    QTest::newRow("every word") << "damaged crc" << QStringList{"errors"};
    QTest::newRow("letter case and markup") << "DISKS and" << QStringList{"install"};
    QTest::newRow("the title counts") << "welcome" << QStringList{"contents"};
    QTest::newRow("a word nowhere") << "disk floppy" << QStringList{};
    QTest::newRow("nothing asked") << "   " << QStringList{};
    // clang-format on
}

void TestHelpViewer::indexAndSearch()
{
    QFETCH(QString, query);
    QFETCH(QStringList, found);
    const HelpFile file = sample();
    QCOMPARE(topicIds(file, file.search(query)), found);

    // The index: sorted without regard to letter case; a keyword of two topics in file order.
    QStringList index;
    for (const HelpIndexEntry &e : file.index())
        index << e.keyword + u'>' + file.topics()[e.topic].id;
    QCOMPARE(index, (QStringList{"errors.txt>install", "errors.txt>errors", "help>contents", "install>install",
                                 "Start>contents", "Zip CRC error>errors", "zip disks>install"}));
}

void TestHelpViewer::findingOnesWay()
{
    HelpViewer viewer(sample(), QString());
    QCOMPARE(viewer.currentTopic(), 0);
    QVERIFY(viewer.pageText().startsWith(QStringLiteral("Welcome")));
    QVERIFY(!viewer.canGoBack() && !viewer.canGoForward());

    viewer.followLink(QUrl(QStringLiteral("#install")));
    QCOMPARE(viewer.currentTopic(), 1);
    QVERIFY(viewer.pageText().contains(QStringLiteral("Select the disks")));
    viewer.followLink(QUrl(QStringLiteral("#nowhere"))); // a broken link goes nowhere
    viewer.followLink(QUrl(QStringLiteral("file:///etc/passwd")));
    QCOMPARE(viewer.currentTopic(), 1);
    viewer.showTopic(3);
    viewer.goBack();
    QCOMPARE(viewer.currentTopic(), 1);
    viewer.goBack();
    QCOMPARE(viewer.currentTopic(), 0);
    QVERIFY(!viewer.canGoBack());
    viewer.goForward();
    QCOMPARE(viewer.currentTopic(), 1);
    // A new way from the middle drops what lay ahead.
    viewer.showTopic(2);
    QVERIFY(!viewer.canGoForward());

    viewer.showIndex();
    QCOMPARE(viewer.currentTab(), HelpViewer::Tab::Index);
    viewer.showContents();
    QCOMPARE(viewer.currentTab(), HelpViewer::Tab::Contents);
    QCOMPARE(viewer.currentTopic(), 0);

    QCOMPARE(viewer.searchFor(QStringLiteral("disk")), 2);
    QCOMPARE(viewer.currentTab(), HelpViewer::Tab::Search);
    QCOMPARE(viewer.searchFor(QStringLiteral("floppy")), 0);
}

void TestHelpViewer::typeToFind_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("selected");
    // clang-format off
    QTest::newRow("first of two") << "err" << "errors.txt";
    QTest::newRow("letter case") << "ZIP C" << "Zip CRC error";
    QTest::newRow("between two") << "j" << "Start";
    QTest::newRow("after the last") << "zz" << "zip disks";
    // clang-format on
}

void TestHelpViewer::typeToFind()
{
    QFETCH(QString, typed);
    QFETCH(QString, selected);
    HelpViewer viewer(sample(), QString());
    viewer.showIndex();
    auto *find = viewer.findChild<QLineEdit *>(QStringLiteral("indexFind"));
    auto *list = viewer.findChild<QListWidget *>(QStringLiteral("indexList"));
    QTest::keyClicks(find, typed);
    QVERIFY(list->currentItem());
    QVERIFY2(list->currentItem()->text().startsWith(selected), qPrintable(list->currentItem()->text()));
    // Down moves on from the find box; Enter opens the topic of the entry chosen.
    const int row = list->currentRow();
    QTest::keyClick(find, Qt::Key_Down);
    QCOMPARE(list->currentRow(), std::min(row + 1, list->count() - 1));
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(viewer.currentTopic(), list->currentItem()->data(Qt::UserRole).toInt());
}

void TestHelpViewer::unreadableFileSaysWhyInOneLine()
{
    test::TestWorld world;
    const auto none = HelpFile::load(world.root() + QStringLiteral("/none.hlp"), QStringLiteral("c:\\zv\\Zelv32.hlp"));
    QVERIFY(!none);
    QCOMPARE(none.error().text(),
             QStringLiteral("The help file c:\\zv\\Zelv32.hlp cannot be opened: No such file or directory"));
    const auto folder = HelpFile::load(world.root(), QStringLiteral("c:\\zv"));
    QVERIFY(!folder);
    const QString why = folder.error().text();
    QVERIFY2(why.startsWith(QStringLiteral("The help file c:\\zv cannot be opened: ")), qPrintable(why));

    HelpViewer viewer(std::nullopt, why);
    QCOMPARE(viewer.pageText(), why);
    QCOMPARE(viewer.currentTopic(), -1);
    viewer.showContents(); // nothing to show, and no harm
    QCOMPARE(viewer.searchFor(QStringLiteral("x")), 0);
}

void TestHelpViewer::shippedHelpFile()
{
    const QString path = test::TestWorld::builtProgramFolder() + QStringLiteral("/Zelv32.HLP");
    const auto file = HelpFile::load(path, path);
    QVERIFY2(file, qPrintable(file ? QString() : file.error().text()));
    QCOMPARE(file->topics().first().id, QStringLiteral("contents"));
    static const QRegularExpression link(QStringLiteral(R"(\]\(#([^)]*)\))"));
    for (const HelpTopic &topic : file->topics()) {
        QVERIFY2(!topic.keywords.isEmpty(), qPrintable(topic.id));
        for (const QRegularExpressionMatch &m : link.globalMatch(topic.markdown))
            QVERIFY2(file->topicById(m.captured(1)) >= 0,
                     qPrintable(topic.id + QStringLiteral(" links to ") + m.captured(1)));
    }
    // What a stuck person looks up is in the index.
    for (const char *word : {"install", "F1", "errors.txt", "dosdevices", "Zelv001", "nfo"}) {
        const bool listed = std::any_of(file->index().begin(), file->index().end(), [&](const HelpIndexEntry &e) {
            return e.keyword.startsWith(QLatin1StringView(word), Qt::CaseInsensitive);
        });
        QVERIFY2(listed, word);
    }
}

// Put where its bottom would pass the screen's, and larger than the screen, the viewer still
// comes up whole on it.
void TestHelpViewer::wholeOnTheScreen()
{
    HelpViewer viewer(sample(), QString());
    const QRect room = viewer.screen()->availableGeometry();
    viewer.resize(room.size() + QSize(140, 40));
    viewer.move(room.left() + 40, room.top() + room.height() * 3 / 8);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTRY_VERIFY2(room.contains(viewer.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                       .arg(viewer.frameGeometry().x())
                                                                       .arg(viewer.frameGeometry().y())
                                                                       .arg(viewer.frameGeometry().width())
                                                                       .arg(viewer.frameGeometry().height())));
}

QTEST_MAIN(TestHelpViewer)
#include "tst_helpviewer.moc"
