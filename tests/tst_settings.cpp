#include "core/settingsfile.h"
#include "support/testworld.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTest>

#include <sys/stat.h>

using namespace zelv;

namespace {

// A window as the settings see it: the values it was given, and what was asked of it.
class RecordingWindow : public SettingsWindow {
public:
    int state = 0;
    double top = 100, left = 200, height = 4005, width = 6000;
    double screenH = 7200, screenW = 9600;
    int pane = 375;
    QString list;
    QString tree;
    bool shownNow = false;
    QSet<QString> folders;  // folders that exist
    QSet<QString> notReady; // folders whose test fails

    int windowState() const override { return state; }
    bool setWindowState(int s) override
    {
        if (s < 0 || s > 2)
            return false;
        state = s;
        return true;
    }
    double windowTop() const override { return top; }
    double windowLeft() const override { return left; }
    double windowHeight() const override { return height; }
    double windowWidth() const override { return width; }
    void setWindowTop(double v) override { top = v; }
    void setWindowLeft(double v) override { left = v; }
    void setWindowHeight(double v) override { height = v; }
    void setWindowWidth(double v) override { width = v; }
    double screenHeight() const override { return screenH; }
    double screenWidth() const override { return screenW; }
    void showWindowNow() override { shownNow = true; }
    int paneWidth() const override { return pane; }
    void setPaneWidth(int w) override { pane = w; }
    QString listFolder() const override { return list; }
    bool setListFolder(const QString &f) override
    {
        list = f;
        return true;
    }
    bool setTreeFolder(const QString &f) override
    {
        tree = f;
        return true;
    }
    std::optional<bool> folderExists(const QString &f) const override
    {
        if (notReady.contains(f))
            return std::nullopt;
        return folders.contains(f);
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void numberText_data();
    void numberText();
    void numberReading_data();
    void numberReading();
    void lineCounting_data();
    void lineCounting();
    void firstRunWritesTheDefaultFile();
    void shortFileIsReplaced();
    void maximisedSkipsThePlacement();
    void negativePlacement();
    void unreadableValueKeepsTheDesignedOne();
    void olderVersionAndExtraLinesReadAlike();
    void savedFolderMissingOrNotReady();
    void saveRoundTrip();
    void saveReplacesTheOldFileWhole();
    void oddThingsUnderTheName_data();
    void oddThingsUnderTheName();
    void sameBytesLeaveTheFileAlone_data();
    void sameBytesLeaveTheFileAlone();

private:
    std::unique_ptr<test::TestWorld> m_world;
    QString m_path;
};

void TestSettings::init()
{
    m_world = std::make_unique<test::TestWorld>();
    m_path = m_world->programFolder() + QStringLiteral("/Zelv32.ini");
}

void TestSettings::numberText_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << " 0";
    QTest::newRow("whole") << 375.0 << " 375";
    QTest::newRow("half") << 2897.5 << " 2897.5";
    QTest::newRow("negative") << -60.0 << "-60";
    QTest::newRow("negative fraction") << -45.25 << "-45.25";
    QTest::newRow("below one") << 0.5 << " 0.5";
    QTest::newRow("large") << 123456789.0 << " 123456789";
    // clang-format on
}

void TestSettings::numberText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(formatSettingsNumber(value), text);
    QCOMPARE(parseSettingsNumber(text), std::optional<double>(value));
}

void TestSettings::numberReading_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value"); // NaN: no number
    const double none = qQNaN();
    QTest::newRow("leading blanks") << "   12" << 12.0;
    QTest::newRow("trailing letters") << " 12abc" << 12.0;
    QTest::newRow("letters") << "abc" << none;
    QTest::newRow("empty") << "" << none;
    QTest::newRow("sign alone") << "-" << none;
    QTest::newRow("second point ends it") << " 1.5.5" << 1.5;
    QTest::newRow("point first") << " .5" << 0.5;
    // clang-format on
}

void TestSettings::numberReading()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    const auto read = parseSettingsNumber(text);
    if (qIsNaN(value))
        QVERIFY(!read);
    else
        QCOMPARE(read, std::optional<double>(value));
}

void TestSettings::lineCounting_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("final line end starts nothing") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("no final line end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("bare line feeds") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("empty lines count") << QByteArray("\r\n\r\n") << QStringList{"", ""};
    QTest::newRow("code page text") << QByteArray("Dir=C:\\Spi\xe9le\r\n") << QStringList{QString::fromUtf8("Dir=C:\\Spiéle")};
    // clang-format on
}

void TestSettings::lineCounting()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    m_world->writeFile(m_path, bytes);
    const Result<QStringList> read = readTextLines(m_path);
    QVERIFY(read);
    QCOMPARE(*read, lines);
}

void TestSettings::firstRunWritesTheDefaultFile()
{
    RecordingWindow w;
    const LoadOutcome out = LoadSettings(m_path, w, QString());
    QVERIFY(out.newlyWritten);
    QCOMPARE(out.savedDirLine, QStringLiteral("Dir=C:\\"));
    // A screen of 640 by 480 pixels and the designed window: centred across, 1300 twips low.
    QCOMPARE(readAll(m_path), QByteArray("Version=\r\nState= 0\r\nTop= 2897.5\r\nLeft= 1800\r\nHeight= 4005\r\n"
                                         "Width= 6000\r\nPanel1.width= 375\r\nDir=C:\\\r\n"));
    QCOMPARE(w.top, 2897.5);
    QCOMPARE(w.left, 1800.0);
}

void TestSettings::shortFileIsReplaced()
{
    m_world->writeFile(
        m_path, "Version=v2.72\r\nState= 0\r\nTop= 1\r\nLeft= 2\r\nHeight= 3\r\nWidth= 4\r\nPanel1.width= 5\r\n");
    RecordingWindow w;
    const LoadOutcome out = LoadSettings(m_path, w, QStringLiteral("v2.72"));
    QVERIFY(out.newlyWritten);
    QCOMPARE(readTextLines(m_path)->size(), 8);
    QCOMPARE(readTextLines(m_path)->first(), QStringLiteral("Version=v2.72"));
    QCOMPARE(w.top, 2897.5);
    QCOMPARE(w.pane, 375);
}

void TestSettings::maximisedSkipsThePlacement()
{
    m_world->writeFile(m_path, "Version=v2.72\r\nState= 2\r\nTop= 11\r\nLeft= 22\r\nHeight= 33\r\nWidth= 44\r\n"
                               "Panel1.width= 400\r\nDir=C:\\games\r\n");
    RecordingWindow w;
    w.folders.insert(QStringLiteral("C:\\games"));
    const LoadOutcome out = LoadSettings(m_path, w, QString());
    QVERIFY(!out.newlyWritten);
    QVERIFY(w.shownNow);
    QCOMPARE(w.state, 2);
    QCOMPARE(w.top, 100.0);
    QCOMPARE(w.width, 6000.0);
    QCOMPARE(w.pane, 400);
    QCOMPARE(out.savedDirLine, QStringLiteral("Dir=C:\\games"));
    QCOMPARE(w.list, QStringLiteral("C:\\games"));
    QCOMPARE(w.tree, QStringLiteral("C:\\games"));
}

void TestSettings::negativePlacement()
{
    m_world->writeFile(m_path, "Version=v2.72\r\nState= 0\r\nTop=-45\r\nLeft=-60\r\nHeight= 5000\r\nWidth= 7000\r\n"
                               "Panel1.width= 375\r\nDir=C:\\\r\n");
    RecordingWindow w;
    w.state = 1;
    LoadSettings(m_path, w, QString());
    QCOMPARE(w.state, 0);
    QVERIFY(!w.shownNow);
    QCOMPARE(w.top, -45.0);
    QCOMPARE(w.left, -60.0);
    QCOMPARE(w.height, 5000.0);
    QCOMPARE(w.width, 7000.0);
}

void TestSettings::unreadableValueKeepsTheDesignedOne()
{
    m_world->writeFile(m_path, "Version=v2.72\r\nState=x\r\nTop=abc\r\nLeft= 60\r\nHeight= 5000\r\nWidth= 7000\r\n"
                               "Panel1.width= 200\r\nDir=C:\\\r\n");
    RecordingWindow w;
    w.state = 1;
    w.folders.insert(QStringLiteral("C:\\"));
    LoadSettings(m_path, w, QString());
    QCOMPARE(w.state, 0); // a state without a number reads as 0
    QCOMPARE(w.top, 100.0);
    QCOMPARE(w.left, 60.0);
    QCOMPARE(w.width, 7000.0);
    QCOMPARE(w.pane, 200);
    QCOMPARE(w.list, QStringLiteral("C:\\"));
}

void TestSettings::olderVersionAndExtraLinesReadAlike()
{
    // Values are found by position: the labels and anything past line eight do not matter.
    m_world->writeFile(m_path, "Version=v1.0\r\nState= 0\r\nTop= 150\r\nLeft= 300\r\nHeight= 4500\r\nWidth= 6500\r\n"
                               "Panel1.width= 500\r\nDir=C:\\old\r\nExtra=1\r\n");
    RecordingWindow w;
    const LoadOutcome out = LoadSettings(m_path, w, QString());
    QVERIFY(!out.newlyWritten);
    QCOMPARE(w.top, 150.0);
    QCOMPARE(w.pane, 500);
    QCOMPARE(out.savedDirLine, QStringLiteral("Dir=C:\\old"));
}

void TestSettings::savedFolderMissingOrNotReady()
{
    const QByteArray file = "Version=v2.72\r\nState= 0\r\nTop= 1\r\nLeft= 2\r\nHeight= 3000\r\nWidth= 4000\r\n"
                            "Panel1.width= 375\r\nDir=E:\\setup\r\n";
    m_world->writeFile(m_path, file);
    RecordingWindow missing;
    LoadOutcome out = LoadSettings(m_path, missing, QString());
    QVERIFY(!out.folderFailed);
    QVERIFY(missing.list.isEmpty());
    QCOMPARE(out.savedDirLine, QStringLiteral("Dir=E:\\setup"));

    RecordingWindow notReady;
    notReady.notReady.insert(QStringLiteral("E:\\setup"));
    out = LoadSettings(m_path, notReady, QString());
    QVERIFY(out.folderFailed);
    QVERIFY(notReady.list.isEmpty());
    QCOMPARE(readAll(m_path), file); // reading never writes
}

void TestSettings::saveRoundTrip()
{
    RecordingWindow w;
    w.state = 0;
    w.top = -45;
    w.left = 2137.5;
    w.height = 5010;
    w.width = 7005;
    w.pane = 420;
    w.list = QStringLiteral("C:\\Games\\New");
    QVERIFY(SaveSettings(m_path, w, QStringLiteral("v2.72")));
    QCOMPARE(readAll(m_path), QByteArray("Version=v2.72\r\nState= 0\r\nTop=-45\r\nLeft= 2137.5\r\nHeight= 5010\r\n"
                                         "Width= 7005\r\nPanel1.width= 420\r\nDir=C:\\Games\\New\r\n"));
    RecordingWindow back;
    back.folders.insert(w.list);
    LoadSettings(m_path, back, QString());
    QCOMPARE(settingsFromWindow(back, QStringLiteral("v2.72")), settingsFromWindow(w, QStringLiteral("v2.72")));
}

void TestSettings::saveReplacesTheOldFileWhole()
{
    m_world->writeFile(m_path, QByteArray(5000, 'x'));
    RecordingWindow w;
    w.list = QStringLiteral("C:\\\x0436\x0443\x043A"); // a folder name outside the code page
    QVERIFY(SaveSettings(m_path, w, QStringLiteral("v2.72")));
    const auto lines = readTextLines(m_path);
    QCOMPARE(lines->size(), 8);
    QCOMPARE(lines->last(), QStringLiteral("Dir=") + w.list);
    // Nothing is left beside it from the way it was written.
    QCOMPARE(QDir(m_world->programFolder()).entryList(QDir::Files), QStringList{"Zelv32.ini"});
}

void TestSettings::oddThingsUnderTheName_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a FIFO, which no one writes") << "fifo";
    QTest::newRow("a link to another file") << "link";
    QTest::newRow("a folder") << "folder";
}

// What stands under the settings file's name is read only when it is a plain file, never
// waited on, and a new file takes the name's place without writing through a link.
void TestSettings::oddThingsUnderTheName()
{
    QFETCH(QString, kind);
    const QString other = m_world->writeFile(m_world->root() + QStringLiteral("/other.txt"), "someone's own");
    if (kind == u"fifo")
        QCOMPARE(mkfifo(QFile::encodeName(m_path).constData(), 0600), 0);
    else if (kind == u"link")
        QVERIFY(QFile::link(other, m_path));
    else
        m_world->makeFolder(m_path);
    RecordingWindow w;
    const LoadOutcome out = LoadSettings(m_path, w, QString());
    QVERIFY(out.newlyWritten);
    QCOMPARE(readAll(other), QByteArray("someone's own"));
    if (kind == u"folder") {
        QVERIFY(QFileInfo(m_path).isDir()); // a folder is nobody's to replace
        return;
    }
    QVERIFY(!QFileInfo(m_path).isSymLink());
    QCOMPARE(readTextLines(m_path)->size(), 8);
}

void TestSettings::sameBytesLeaveTheFileAlone_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("keptAsItWas");
    QTest::newRow("the same bytes") << "same" << true;
    QTest::newRow("one value changed") << "changed" << false;
    QTest::newRow("the same bytes and more") << "longer" << false;
    QTest::newRow("a link to a file of the same bytes") << "link" << false;
}

// Writing what the file holds already leaves it untouched; anything else under the name, a
// link to the very same bytes included, is replaced by a new plain file.
void TestSettings::sameBytesLeaveTheFileAlone()
{
    QFETCH(QString, before);
    QFETCH(bool, keptAsItWas);
    const QStringList lines{QStringLiteral("Version=v2.72"), QStringLiteral("Dir=C:\\")};
    const QByteArray bytes("Version=v2.72\r\nDir=C:\\\r\n");
    const QString other = m_world->root() + QStringLiteral("/other.ini");
    if (before == u"link") {
        m_world->writeFile(other, bytes);
        QVERIFY(QFile::link(other, m_path));
    } else {
        m_world->writeFile(m_path, before == u"same"     ? bytes
                                   : before == u"longer" ? bytes + "Top=1\r\n"
                                                         : QByteArray("Version=v2.71\r\nDir=C:\\\r\n"));
    }
    struct stat was {};
    QCOMPARE(lstat(QFile::encodeName(m_path).constData(), &was), 0);

    QVERIFY(writeTextLines(m_path, lines));
    struct stat now {};
    QCOMPARE(lstat(QFile::encodeName(m_path).constData(), &now), 0);
    QCOMPARE(now.st_ino == was.st_ino, keptAsItWas);
    QVERIFY(S_ISREG(now.st_mode));
    QCOMPARE(readAll(m_path), bytes);
    if (before == u"link")
        QCOMPARE(readAll(other), bytes);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
