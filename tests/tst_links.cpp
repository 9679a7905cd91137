// The Help menu's links: webdial.exe refuses anything that is not one of its two forms, in one
// line; the window's commands start it with the project's own addresses.
#include "support/childrun.h"
#include "support/commandworld.h"
#include "support/testworld.h"
#include "support/zipmaker.h"
#include "ui/shell/shellcommands.h"

#include <QFile>
#include <QTest>

using namespace zelv;

class TestLinks : public QObject {
    Q_OBJECT
private slots:
    void refused_data();
    void refused();
    void windowStartsTheLinks();
};

void TestLinks::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("no argument") << QStringList{} << 2 << "webdial.exe: usage: webdial.exe $ADDRESS, webdial.exe >mailto:ADDRESS or webdial.exe #FOLDER";
    QTest::newRow("another form") << QStringList{"http://x.org"} << 1 << "webdial.exe: http://x.org is neither $ADDRESS, >mailto:ADDRESS nor #FOLDER";
    // A file, which the desktop would open or run, is never handed on.
    QTest::newRow("a file for a folder") << QStringList{"#c:\\notes.txt"} << 1 << "webdial.exe: c:\\notes.txt is not a folder";
    QTest::newRow("a folder on no drive") << QStringList{"#q:\\x"} << 1 << "webdial.exe: q:\\x is not a folder";
    QTest::newRow("not a web address") << QStringList{"$file:///etc/passwd"} << 1 << "webdial.exe: file:///etc/passwd is not a web address";
    QTest::newRow("not a mail address") << QStringList{">mailto:nobody"} << 1 << "webdial.exe: nobody is not an e-mail address";
    // clang-format on
}

void TestLinks::refused()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    test::TestWorld world;
    world.installHelper(QStringLiteral("webdial.exe"));
    world.writeFile(world.onDrive(u'c', QStringLiteral("notes.txt")), "a file");
    qputenv("ZELV_WINDOW_HINT", "0");
    const test::ChildRun run = test::runProgram(world.programFolder() + QStringLiteral("/webdial.exe"), args);
    qunsetenv("ZELV_WINDOW_HINT");
    QCOMPARE(run.err, message);
    QCOMPARE(run.exitCode, code);
}

void TestLinks::windowStartsTheLinks()
{
    // webdial.exe stands in as argdump: it writes down the arguments and the window hint.
    test::CommandWorld w;
    w.world.installTestTool(QStringLiteral("argdump"), QStringLiteral("webdial.exe"));
    const QString log = w.world.root() + QStringLiteral("/webdial.txt");
    qputenv("ZELV_ARGDUMP_FILE", QFile::encodeName(log));
    OpenWebPage(w.context);
    QTRY_VERIFY_WITH_TIMEOUT(test::readBytes(log).contains("$https://zelvant32.example.org/"), 20000);
    QFile::remove(log);
    WriteMail(w.context);
    QTRY_VERIFY_WITH_TIMEOUT(test::readBytes(log).contains(">mailto:support@zelvant32.example.org"), 20000);
    QFile::remove(log);
    // The install folder: told when there is none or it went, else handed on.
    OpenInstallFolder(w.context);
    w.state.LastInstallDir = QStringLiteral("c:\\Zelv002");
    OpenInstallFolder(w.context);
    QCOMPARE(w.dialogs.shownTexts(),
             QStringList({"No install has put files anywhere yet", "c:\\Zelv002 is no longer there"}));
    w.world.makeFolder(w.world.onDrive(u'c', QStringLiteral("Zelv002")));
    OpenInstallFolder(w.context);
    QTRY_VERIFY_WITH_TIMEOUT(test::readBytes(log).contains("#c:\\Zelv002"), 20000);
    qunsetenv("ZELV_ARGDUMP_FILE");
    QCOMPARE(w.dialogs.shown().size(), 2);
}

QTEST_GUILESS_MAIN(TestLinks)
#include "tst_links.moc"
