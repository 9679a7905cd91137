// The help system from the program's side: the help file's path, the command lines that start
// the viewer, one viewer taking every request for its file, and the quit request at shutdown.
#include "core/helpercommands.h"
#include "platform/localchannel.h"
#include "support/commandworld.h"
#include "support/testworld.h"
#include "support/zipmaker.h"
#include "ui/shell/shellcommands.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zelv;

namespace {

const QByteArray kHelpFile = "Zelvant32 help\n"
                             "== contents | Contents\nkeywords: contents\nSee [the index](#index).\n"
                             "== index | Index\nkeywords: index\nEvery keyword.\n";

QList<QByteArray> reportLines(const QString &path)
{
    QList<QByteArray> lines = test::readBytes(path).split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

QByteArray pidOf(const QByteArray &line) { return line.mid(line.lastIndexOf(" pid=") + 5); }

bool processRuns(const QByteArray &pid) { return ::kill(pid.toInt(), 0) == 0; }

// The rows' doors to the help: 0 the contents, 1 the index, 2 the F1 key.
void askForHelp(CommandContext &c, int door)
{
    if (door == 0)
        ShowHelpContents(c);
    else if (door == 1)
        ShowHelpIndex(c);
    else
        PressHelpKey(c);
}

// A command world with the real help viewer and a help file in its program folder, reporting
// what the viewer does.
struct HelpWorld : test::CommandWorld {
    QString report = world.root() + QStringLiteral("/winhelp.txt");

    HelpWorld()
    {
        world.installHelper(QStringLiteral("winhelp.exe"));
        world.writeFile(inProgramFolder(QStringLiteral("Zelv32.HLP")), kHelpFile);
        state.HelpFile = QStringLiteral("Zelv32.hlp");
        qputenv("ZELV_WINHELP_REPORT", QFile::encodeName(report));
    }
    ~HelpWorld()
    {
        // A viewer left open by a failing test is not left behind.
        for (const QByteArray &line : reportLines(report))
            ::kill(pidOf(line).toInt(), SIGTERM);
        qunsetenv("ZELV_WINHELP_REPORT");
    }

    bool waitForLines(int count) const
    {
        return QTest::qWaitFor([&] { return reportLines(report).size() >= count; }, 20000) &&
               reportLines(report).size() == count;
    }
};

} // namespace

class TestHelp : public QObject {
    Q_OBJECT
private slots:
    void helpFilePath_data();
    void helpFilePath();
    void viewerCommandLines_data();
    void viewerCommandLines();
    void oneViewerTakesEveryRequest();
    void quitLeavesAViewerOpenedByHand();
    void anotherUserIsNotAnswered();
    void missingViewerIsReportedOnce_data();
    void missingViewerIsReportedOnce();
};

void TestHelp::helpFilePath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("helpFile");
    QTest::addColumn<QString>("f1CommandLine");
    // clang-format off
    QTest::newRow("folder") << "d:\\tools\\zv" << "d:\\tools\\zv\\Zelv32.HLP" << "winhelp.exe d:\\tools\\zv\\Zelv32.hlp";
    QTest::newRow("trailing backslash") << "d:\\tools\\zv\\" << "d:\\tools\\zv\\Zelv32.HLP" << "winhelp.exe d:\\tools\\zv\\Zelv32.hlp";
    QTest::newRow("root") << "d:\\" << "d:\\Zelv32.HLP" << "winhelp.exe d:\\Zelv32.hlp";
    QTest::newRow("blank") << "c:\\my tools" << "c:\\my tools\\Zelv32.HLP" << "winhelp.exe \"c:\\my tools\\Zelv32.hlp\"";
    // clang-format on
}

void TestHelp::helpFilePath()
{
    QFETCH(QString, folder);
    QFETCH(QString, helpFile);
    QFETCH(QString, f1CommandLine);
    QCOMPARE(helpercommands::helpFilePath(folder), helpFile);
    QCOMPARE(helpercommands::showHelp(folder).commandLine, f1CommandLine);
    QCOMPARE(int(helpercommands::showHelp(folder).hint), int(WindowHint::NoActivate));
}

void TestHelp::viewerCommandLines_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("started");
    const QByteArray owner = thisProcessHelpOwner().toUtf8();
    // clang-format off
    QTest::newRow("contents") << 0 << "hint=1\n-owner\n" + owner + "\nPROGRAM\\Zelv32.HLP\nend\n";
    QTest::newRow("index") << 1 << "hint=1\n-index\n-owner\n" + owner + "\nPROGRAM\\Zelv32.HLP\nend\n";
    // F1: the help system's start, then the viewer as a program of its own, without the focus.
    QTest::newRow("F1") << 2 << "hint=1\n-owner\n" + owner + "\nPROGRAM\\Zelv32.hlp\nend\n"
                                "hint=4\nPROGRAM\\Zelv32.hlp\nend\n";
    // clang-format on
}

void TestHelp::viewerCommandLines()
{
    QFETCH(int, command);
    QFETCH(QByteArray, started);
    // No viewer is open, so each request starts winhelp.exe, here argdump writing down how.
    test::CommandWorld w;
    w.state.HelpFile = QStringLiteral("Zelv32.hlp");
    w.world.installTestTool(QStringLiteral("argdump"), QStringLiteral("winhelp.exe"));
    const QString log = w.world.root() + QStringLiteral("/winhelp.txt");
    qputenv("ZELV_ARGDUMP_FILE", QFile::encodeName(log));
    askForHelp(w.context, command);
    started.replace("PROGRAM", w.context.programFolder.toUtf8());
    const auto written = [&] {
        QByteArray runs = test::readBytes(log);
        // The program's own path opens each run's first line.
        static const QRegularExpression runLine(QStringLiteral("run [^\\n]* (hint=)"));
        return QString::fromUtf8(runs).replace(runLine, QStringLiteral("\\1")).toUtf8();
    };
    QTRY_COMPARE_WITH_TIMEOUT(written().size(), started.size(), 20000);
    QCOMPARE(written(), started);
    qunsetenv("ZELV_ARGDUMP_FILE");
    QVERIFY(w.dialogs.shown().isEmpty());
}

void TestHelp::oneViewerTakesEveryRequest()
{
    HelpWorld w;
    ShowHelpContents(w.context);
    QVERIFY(w.waitForLines(1));
    ShowHelpIndex(w.context);
    QVERIFY(w.waitForLines(2));
    // F1: the help system's request and a second winhelp.exe both reach the viewer.
    PressHelpKey(w.context);
    QVERIFY(w.waitForLines(4));
    QList<QByteArray> lines = reportLines(w.report);
    const QByteArray pid = pidOf(lines[0]);
    QCOMPARE(lines[0], "contents topic=contents tab=contents owners=1 pid=" + pid);
    QCOMPARE(lines[1], "index topic=contents tab=index owners=1 pid=" + pid);
    QCOMPARE(lines[2], "contents topic=contents tab=contents owners=1 pid=" + pid);
    QCOMPARE(lines[3], "contents topic=contents tab=contents owners=1 pid=" + pid);
    QVERIFY(w.dialogs.shown().isEmpty());

    // Shutdown's quit request closes the viewer this program opened.
    QuitHelp(w.context);
    QVERIFY(w.waitForLines(5));
    QCOMPARE(reportLines(w.report).last(), "closed pid=" + pid);
    QTRY_VERIFY_WITH_TIMEOUT(!processRuns(pid), 10000);
    // With nothing open, a quit request does nothing and starts nothing.
    QuitHelp(w.context);
    QTest::qWait(300);
    QCOMPARE(reportLines(w.report).size(), 5);
}

void TestHelp::quitLeavesAViewerOpenedByHand()
{
    HelpWorld w;
    QProcess byHand;
    byHand.start(w.inProgramFolder(QStringLiteral("winhelp.exe")), {w.inProgramFolder(QStringLiteral("Zelv32.HLP"))});
    QVERIFY(w.waitForLines(1));
    QVERIFY(reportLines(w.report)[0].startsWith("contents topic=contents tab=contents owners=0 "));
    QuitHelp(w.context);
    QVERIFY(w.waitForLines(2));
    QVERIFY(reportLines(w.report)[1].startsWith("quit "));
    QVERIFY(byHand.state() == QProcess::Running);
    // Asked for by the program too, it is the program's to close.
    ShowHelpIndex(w.context);
    QuitHelp(w.context);
    QVERIFY(byHand.waitForFinished(10000));
    QCOMPARE(byHand.exitCode(), 0);
}

void TestHelp::anotherUserIsNotAnswered()
{
    if (geteuid() != 0)
        QSKIP("only root can speak as another user");
    HelpWorld w;
    ShowHelpContents(w.context);
    QVERIFY(w.waitForLines(1));
    const QByteArray pid = pidOf(reportLines(w.report)[0]);

    // Another user who knows where the channel is and the owner asks the viewer to quit.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const Result<QString> path = localChannelPath(helpChannelName(w.inProgramFolder(QStringLiteral("Zelv32.HLP"))));
    QVERIFY(path);
    const QByteArray name = QFile::encodeName(*path);
    memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const socklen_t length = socklen_t(sizeof address);
    const QByteArray quit = encodeHelpRequest({HelpCommand::Quit, 4, thisProcessHelpOwner()});
    const pid_t child = fork();
    if (child == 0) {
        char answer[16];
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        const bool answered = setgid(65534) == 0 && setuid(65534) == 0 &&
                              ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
                              send(fd, quit.constData(), size_t(quit.size()), MSG_NOSIGNAL) == quit.size() &&
                              read(fd, answer, sizeof answer) > 0;
        _exit(answered ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 1);
    QTest::qWait(200);
    QVERIFY(processRuns(pid));
    QCOMPARE(reportLines(w.report).size(), 1);
    QuitHelp(w.context);
    QVERIFY(w.waitForLines(2));
}

void TestHelp::missingViewerIsReportedOnce_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("contents") << 0;
    QTest::newRow("index") << 1;
    QTest::newRow("F1") << 2;
}

void TestHelp::missingViewerIsReportedOnce()
{
    QFETCH(int, command);
    test::CommandWorld w;
    w.state.HelpFile = QStringLiteral("Zelv32.hlp");
    askForHelp(w.context, command);
    QCOMPARE(w.dialogs.shown().size(), 1);
    QVERIFY2(w.dialogs.shown()[0].text.contains(QStringLiteral("winhelp.exe")), qPrintable(w.dialogs.shown()[0].text));
    QuitHelp(w.context); // nothing to quit: no box
    QCOMPARE(w.dialogs.shown().size(), 1);
}

QTEST_GUILESS_MAIN(TestHelp)
#include "tst_help.moc"
