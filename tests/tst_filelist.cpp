#include "platform/dosfilesystem.h"
#include "support/testworld.h"
#include "ui/widgets/filelist.h"

#include <QFile>
#include <QFontDatabase>
#include <QSignalSpy>
#include <QTest>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

using namespace zelv;

namespace {

QStringList entries(const FileList &list)
{
    QStringList names;
    for (int i = 0; i < list.listCount(); ++i)
        names << list.list(i);
    return names;
}

QList<int> selectedRows(const FileList &list)
{
    QList<int> rows;
    for (int i = 0; i < list.listCount(); ++i)
        if (list.selected(i))
            rows << i;
    return rows;
}

} // namespace

class TestFileList : public QObject {
    Q_OBJECT
private slots:
    void everyScriptHasAFont_data();
    void everyScriptHasAFont();
    void listing_data();
    void listing();
    void pathSpelling_data();
    void pathSpelling();
    void unopenableFolderChangesNothing_data();
    void unopenableFolderChangesNothing();
    void patternReloads();
    void refreshClearsSelectionAndReadsAgain();
    void unchangedFolderIsNotReadAgain();
    void reloadDropsCurrentEntry();
    void selectionByIndex();
    void extendedSelectionByMouse();
    void mouseSignals();

private:
    // A folder of its own on drive c: with the given files ("name/" makes a folder);
    // returns its DOS path.
    QString folderWith(const QString &name, const QStringList &entries);
    void showAndWait(FileList &list);

    test::TestWorld m_world;
    DosFileSystem m_files{m_world.drives()};
};

QString TestFileList::folderWith(const QString &name, const QStringList &names)
{
    const QString host = m_world.makeFolder(m_world.onDrive(u'c', name));
    for (const QString &entry : names) {
        if (entry.endsWith(u'/'))
            m_world.makeFolder(host + u'/' + entry);
        else
            m_world.writeFile(host + u'/' + entry, "x");
    }
    return QStringLiteral("C:\\") + name;
}

void TestFileList::showAndWait(FileList &list)
{
    list.resize(300, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
}

void TestFileList::listing_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");

    const QStringList volumes{"x.RAR", "x.r00", "x.reg", "a.001", "b.zip", ".hidden.rar", "d.r00/"};
    QTest::newRow("rar volumes, no folder, nothing hidden")
        << volumes << "*.R??;*.0??" << QStringList{"a.001", "x.r00", "x.RAR", "x.reg"};
    QTest::newRow("every name, with or without a dot")
        << QStringList{"README", "b.zip", ".profile", "sub/"} << "*.*" << QStringList{"b.zip", "README"};
    QTest::newRow("name order ignores case")
        << QStringList{"beta.txt", "GAMMA.txt", "alpha2.txt", "Alpha.txt"} << "*.txt"
        << QStringList{"Alpha.txt", "alpha2.txt", "beta.txt", "GAMMA.txt"};
    QTest::newRow("letters beyond ASCII, ties upper case first")
        << QStringList{"Ölfass.txt", "Zebra.txt", "ärger.txt", "ÖLFASS.txt", "apfel.txt", "Äpfel.txt"} << "*.TXT"
        << QStringList{"apfel.txt", "Zebra.txt", "Äpfel.txt", "ärger.txt", "ÖLFASS.txt", "Ölfass.txt"};
    QTest::newRow("blanks around patterns")
        << QStringList{"p.ace", "p.c00", "p.zip"} << " *.ACE ; *.C?? " << QStringList{"p.ace", "p.c00"};
    QTest::newRow("nothing matches") << QStringList{"a.txt"} << "*.zip" << QStringList{};
    QTest::newRow("empty pattern lists nothing") << QStringList{"a.txt"} << "" << QStringList{};
    // clang-format on
}

void TestFileList::listing()
{
    QFETCH(QStringList, present);
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);

    const QString folder = folderWith(QString::fromUtf8(QTest::currentDataTag()), present);
    FileList list(m_files);
    QCOMPARE(list.pattern(), QStringLiteral("*.*"));
    list.setPattern(pattern);
    QVERIFY(list.setPath(folder));
    QCOMPARE(entries(list), expected);
    QCOMPARE(list.listCount(), expected.size());
    QCOMPARE(list.list(-1), QString());
    QCOMPARE(list.list(list.listCount()), QString());
}

void TestFileList::pathSpelling_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder in lower case") << "c:\\games" << "C:\\Games";
    QTest::newRow("trailing backslash") << "C:\\GAMES\\" << "C:\\Games";
    QTest::newRow("deeper, mixed") << "c:\\games\\NEW" << "C:\\Games\\New";
    QTest::newRow("drive alone is its root") << "c:" << "C:\\";
    QTest::newRow("root") << "c:\\" << "C:\\";
    QTest::newRow("dot dot") << "c:\\games\\new\\.." << "C:\\Games";
    // clang-format on
}

void TestFileList::pathSpelling()
{
    QFETCH(QString, given);
    QFETCH(QString, expected);
    m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("Games/New/setup.exe")), "x");
    FileList list(m_files);
    QVERIFY(list.setPath(given));
    QCOMPARE(list.path(), expected);
}

void TestFileList::unopenableFolderChangesNothing_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("given");
    QTest::newRow("missing folder") << "c:\\keep\\nowhere";
    QTest::newRow("a file") << "c:\\keep\\one.zip";
    QTest::newRow("no such drive") << "q:\\";
    QTest::newRow("no drive at all") << "keep";
    QTest::newRow("empty") << "";
    // clang-format on
}

void TestFileList::unopenableFolderChangesNothing()
{
    QFETCH(QString, given);
    const QString folder = folderWith(QStringLiteral("keep"), {"one.zip", "two.zip"});
    FileList list(m_files);
    QVERIFY(list.setPath(folder));
    list.setSelected(1, true);
    QVERIFY(!list.setPath(given));
    QCOMPARE(list.path(), QStringLiteral("C:\\keep"));
    QCOMPARE(entries(list), QStringList({"one.zip", "two.zip"}));
    QCOMPARE(selectedRows(list), QList<int>{1});
}

void TestFileList::patternReloads()
{
    const QString folder = folderWith(QStringLiteral("patterns"), {"a.zip", "b.rar", "c.arj"});
    FileList list(m_files);
    QVERIFY(list.setPath(folder));
    QCOMPARE(list.listCount(), 3);
    list.setPattern(QStringLiteral("*.ZIP"));
    QCOMPARE(list.pattern(), QStringLiteral("*.ZIP"));
    QCOMPARE(entries(list), QStringList{"a.zip"});

    // The folder goes away: the next reading finds nothing, the path stays.
    QVERIFY(QDir(m_world.onDrive(u'c', QStringLiteral("patterns"))).removeRecursively());
    list.setPattern(QStringLiteral("*.*"));
    QCOMPARE(list.listCount(), 0);
    QCOMPARE(list.path(), folder);
}

void TestFileList::refreshClearsSelectionAndReadsAgain()
{
    const QString folder = folderWith(QStringLiteral("refresh"), {"b.zip", "d.zip"});
    FileList list(m_files);
    QVERIFY(list.setPath(folder));
    list.selectAll();
    m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("refresh/C.zip")), "x");
    QCOMPARE(list.listCount(), 2); // nothing is read until asked
    list.refresh();
    QCOMPARE(entries(list), QStringList({"b.zip", "C.zip", "d.zip"}));
    QCOMPARE(selectedRows(list), QList<int>{});
}

// A refresh of a folder unchanged since it was read (a zip test refreshes after every disk)
// costs no reading, yet leaves the list as a reading would: nothing selected, no current entry.
void TestFileList::unchangedFolderIsNotReadAgain()
{
    const QString folder = folderWith(QStringLiteral("stale"), {"a.zip", "b.zip"});
    const QByteArray host = QFile::encodeName(m_world.onDrive(u'c', QStringLiteral("stale")));
    const timespec past[2] = {{0, UTIME_OMIT}, {time(nullptr) - 60, 0}};
    QVERIFY(utimensat(AT_FDCWD, host.constData(), past, 0) == 0);
    FileList list(m_files);
    QVERIFY(list.setPath(folder));
    list.refresh();
    QSignalSpy resets(list.model(), &QAbstractItemModel::modelReset);
    list.selectAll();
    list.setCurrentIndex(list.model()->index(1, 0));
    list.refresh();
    QCOMPARE(resets.size(), 0);
    QCOMPARE(selectedRows(list), QList<int>{});
    QCOMPARE(list.listIndex(), -1);

    // A change is read at once, however soon after the last reading.
    m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("stale/c.zip")), "x");
    list.refresh();
    QCOMPARE(resets.size(), 1);
    QCOMPARE(entries(list), QStringList({"a.zip", "b.zip", "c.zip"}));
}

void TestFileList::reloadDropsCurrentEntry()
{
    const QString folder = folderWith(QStringLiteral("current"), {"a.zip", "b.zip", "c.zip"});
    FileList list(m_files);
    showAndWait(list);
    list.setFocus();
    QVERIFY(list.setPath(folder));
    QCOMPARE(list.listIndex(), -1);
    list.setCurrentIndex(list.model()->index(2, 0));
    QCOMPARE(list.listIndex(), 2);

    list.refresh();
    QCOMPARE(list.listIndex(), -1);
    list.setCurrentIndex(list.model()->index(1, 0));
    list.setPattern(QStringLiteral("*.zip"));
    QCOMPARE(list.listIndex(), -1);
    list.setCurrentIndex(list.model()->index(0, 0));
    QVERIFY(list.setPath(folder));
    QCOMPARE(list.listIndex(), -1);
    QCoreApplication::processEvents();
    QCOMPARE(list.listIndex(), -1);
}

void TestFileList::selectionByIndex()
{
    QStringList names;
    for (int i = 0; i < 500; ++i)
        names << QStringLiteral("f%1.zip").arg(i, 3, 10, QLatin1Char('0'));
    const QString folder = folderWith(QStringLiteral("many"), names);
    FileList list(m_files);
    QVERIFY(list.setPath(folder));
    QCOMPARE(list.listCount(), 500);

    list.setSelected(7, true);
    list.setSelected(9, true);
    list.setSelected(9, false);
    list.setSelected(-1, true); // outside the list: ignored
    list.setSelected(500, true);
    QCOMPARE(selectedRows(list), QList<int>{7});
    QVERIFY(!list.selected(-1));
    QVERIFY(!list.selected(500));
    QCOMPARE(list.listIndex(), -1); // selecting by index does not move the current entry

    list.selectAll();
    QCOMPARE(selectedRows(list).size(), 500);
    QCOMPARE(list.selectionModel()->selection().size(), 1);
    list.setSelected(0, false);
    QVERIFY(!list.selected(0));
    QVERIFY(list.selected(1));

    // An empty list: nothing to select, nothing breaks.
    list.setPattern(QStringLiteral("*.none"));
    list.selectAll();
    QCOMPARE(list.listCount(), 0);
    QVERIFY(list.selectionModel()->selection().isEmpty());
}

void TestFileList::extendedSelectionByMouse()
{
    const QString folder =
        folderWith(QStringLiteral("clicks"), {"0.zip", "1.zip", "2.zip", "3.zip", "4.zip", "5.zip", "6.zip"});
    FileList list(m_files);
    QVERIFY(list.setPath(folder));
    showAndWait(list);
    const auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers,
                          list.visualRect(list.model()->index(row, 0)).center());
    };

    click(1, Qt::NoModifier);
    QCOMPARE(selectedRows(list), QList<int>{1});
    QCOMPARE(list.listIndex(), 1);
    click(3, Qt::ControlModifier);
    QCOMPARE(selectedRows(list), QList<int>({1, 3}));
    click(5, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(selectedRows(list), QList<int>({1, 3, 4, 5}));
    click(3, Qt::ControlModifier);
    QCOMPARE(selectedRows(list), QList<int>({1, 4, 5}));
    QCOMPARE(list.listIndex(), 3);
    click(2, Qt::NoModifier);
    click(4, Qt::ShiftModifier);
    QCOMPARE(selectedRows(list), QList<int>({2, 3, 4}));
    click(0, Qt::ShiftModifier);
    QCOMPARE(selectedRows(list), QList<int>({0, 1, 2}));
    click(6, Qt::NoModifier);
    QCOMPARE(selectedRows(list), QList<int>{6});
}

void TestFileList::mouseSignals()
{
    const QString folder = folderWith(QStringLiteral("mouse"), {"a.zip", "b.zip"});
    FileList list(m_files);
    QVERIFY(list.setPath(folder));
    showAndWait(list);
    QSignalSpy pressed(&list, &FileList::mousePressed);
    QSignalSpy released(&list, &FileList::mouseReleased);
    QSignalSpy doubled(&list, &FileList::entryDoubleClicked);

    const QPoint onB = list.visualRect(list.model()->index(1, 0)).center();
    QTest::mousePress(list.viewport(), Qt::RightButton, Qt::NoModifier, onB);
    QCOMPARE(pressed.size(), 1);
    QCOMPARE(pressed[0][0].value<Qt::MouseButton>(), Qt::RightButton);
    QCOMPARE(pressed[0][1].toPoint(), list.viewport()->mapToGlobal(onB));
    QCOMPARE(released.size(), 0);
    QTest::mouseRelease(list.viewport(), Qt::RightButton, Qt::NoModifier, onB);
    QCOMPARE(released.size(), 1);
    QCOMPARE(released[0][0].value<Qt::MouseButton>(), Qt::RightButton);
    QCOMPARE(released[0][1].toPoint(), list.viewport()->mapToGlobal(onB));
    QCOMPARE(doubled.size(), 0);

    QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, onB);
    QCOMPARE(doubled.size(), 1);
    QVERIFY(list.selected(1));

    // Below the last entry there is nothing to open.
    const QPoint below(onB.x(), list.viewport()->height() - 2);
    QVERIFY(!list.indexAt(below).isValid());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, below);
    QCOMPARE(doubled.size(), 1);
}

void TestFileList::everyScriptHasAFont_data()
{
    QTest::addColumn<int>("script");
    QTest::addColumn<QString>("name");
    QTest::newRow("Japanese") << int(QFontDatabase::Japanese) << QStringLiteral("ゲーム.zip");
    QTest::newRow("Chinese") << int(QFontDatabase::SimplifiedChinese) << QStringLiteral("游戏.zip");
    QTest::newRow("Korean") << int(QFontDatabase::Korean) << QStringLiteral("게임.zip");
}

void TestFileList::everyScriptHasAFont()
{
    // Without a font that has their letters, such names show as boxes; the machine's set-up
    // installs one.
    QFETCH(int, script);
    QFETCH(QString, name);
    const QStringList families = QFontDatabase::families(QFontDatabase::WritingSystem(script));
    QVERIFY2(!families.isEmpty(), qPrintable(name));
    const QFontMetrics metrics(QFont(families.first()));
    for (const QChar c : name.left(name.indexOf(u'.')))
        QVERIFY2(metrics.inFont(c), qPrintable(name));
}

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"
