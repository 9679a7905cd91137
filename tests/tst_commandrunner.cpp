#include "core/commandrunner.h"
#include "core/helpercommands.h"
#include "support/testworld.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace zelv;

namespace {

// One start of the test tool as it recorded itself.
struct Run {
    QString program;
    QString hint;
    QStringList args;
    bool complete = false;
};

QList<Run> readRuns(const QString &dumpFile)
{
    QList<Run> runs;
    QFile f(dumpFile);
    if (!f.open(QIODevice::ReadOnly))
        return runs;
    bool inBlock = false;
    for (const QString &line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        if (!inBlock) {
            if (!line.startsWith(QStringLiteral("run ")))
                continue;
            const qsizetype at = line.lastIndexOf(QStringLiteral(" hint="));
            runs.append(Run{line.mid(4, at - 4), line.mid(at + 6), {}, false});
            inBlock = true;
        } else if (line == QStringLiteral("end")) {
            runs.last().complete = true;
            inBlock = false;
        } else {
            runs.last().args.append(line);
        }
    }
    return runs;
}

// Sets an environment variable for one scope.
class EnvGuard {
public:
    EnvGuard(const char *name, const QByteArray &value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// Copies the test tool to a host path of any name.
QString placeTool(const QString &hostPath)
{
    QFile::remove(hostPath);
    QFileInfo(hostPath).absoluteDir().mkpath(QStringLiteral("."));
    if (!QFile::copy(test::TestWorld::builtTestToolFolder() + QStringLiteral("/argdump"), hostPath))
        return QString();
    QFile::setPermissions(hostPath, QFile::permissions(hostPath) | QFile::ExeOwner);
    return hostPath;
}

} // namespace

class TestCommandRunner : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void execWaitsForTheProgram();
    void execPassesWords_data();
    void execPassesWords();
    void execReportsExitCode();
    void bareNameInProgramFolder_data();
    void bareNameInProgramFolder();
    void bareNameOnPath();
    void notStarted_data();
    void notStarted();
    void dosPathProgram_data();
    void dosPathProgram();
    void notExecutable();
    void windowsProgram();
    void detachedHint_data();
    void detachedHint();
    void detachedReturnsAtOnce();
    void waitingRunsInOrder();

private:
    std::unique_ptr<test::TestWorld> m_world;
    QString m_dump;
};

void TestCommandRunner::init()
{
    m_world = std::make_unique<test::TestWorld>();
    QVERIFY(m_world->isValid());
    m_dump = m_world->root() + QStringLiteral("/dump.txt");
    qputenv("ZELV_ARGDUMP_FILE", QFile::encodeName(m_dump));
}

void TestCommandRunner::cleanup()
{
    qunsetenv("ZELV_ARGDUMP_FILE");
    qunsetenv("ZELV_ARGDUMP_SLEEP_MS");
    qunsetenv("ZELV_ARGDUMP_EXIT");
    m_world.reset();
}

void TestCommandRunner::execWaitsForTheProgram()
{
    const QString tool = m_world->installTestTool(QStringLiteral("argdump"), QStringLiteral("killd.pif"));
    QVERIFY(!tool.isEmpty());
    // The tool writes only after its sleep: a runner that did not wait finds nothing.
    qputenv("ZELV_ARGDUMP_SLEEP_MS", "300");
    const CommandRunner runner(m_world->drives());
    const ExecResult r = runner.ExecCmd(QStringLiteral("killd.pif c:\\Zelv001"));
    const QList<Run> runs = readRuns(m_dump);
    QCOMPARE(runs.size(), 1);
    QVERIFY(runs[0].complete);
    QCOMPARE(runs[0].program, tool);
    QCOMPARE(runs[0].args, QStringList{"c:\\Zelv001"});
    QVERIFY(r.started);
    QVERIFY(!r.crashed);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.succeeded());
    QCOMPARE(r.commandLine, QStringLiteral("killd.pif c:\\Zelv001"));
}

void TestCommandRunner::execPassesWords_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("args");

    QTest::newRow("none") << "wrar.exe" << QStringList{};
    QTest::newRow("quoted path with blank") << "wrar.exe x -o+ -y \"c:\\My Downloads\\prog.rar\" c:\\Zelv002"
                                            << QStringList{"x", "-o+", "-y", "c:\\My Downloads\\prog.rar", "c:\\Zelv002"};
    QTest::newRow("awkward words") << "wrar.exe \"\" \"a\\\"b\" c:\\dir\\ \"tab\there\" \"c:\\My Dir\\\\\""
                                   << QStringList{"", "a\"b", "c:\\dir\\", "tab\there", "c:\\My Dir\\"};
    QTest::newRow("non-ASCII") << "wrar.exe c:\\Téléchargements\\été.rar" << QStringList{"c:\\Téléchargements\\été.rar"};
    QTest::newRow("built line") << helpercommands::rarSetInstall("c:\\My Downloads", "prog.rar", "d:\\Zelv 002").commandLine
                                << QStringList{"x", "-o+", "-y", "c:\\My Downloads\\prog.rar", "d:\\Zelv 002"};
    // clang-format on
}

void TestCommandRunner::execPassesWords()
{
    QFETCH(QString, line);
    QFETCH(QStringList, args);
    QVERIFY(!m_world->installTestTool(QStringLiteral("argdump"), QStringLiteral("wrar.exe")).isEmpty());
    const ExecResult r = CommandRunner(m_world->drives()).ExecCmd(line);
    QVERIFY(r.succeeded());
    const QList<Run> runs = readRuns(m_dump);
    QCOMPARE(runs.size(), 1);
    QVERIFY(runs[0].complete);
    QCOMPARE(runs[0].args, args);
}

void TestCommandRunner::execReportsExitCode()
{
    m_world->installTestTool(QStringLiteral("argdump"), QStringLiteral("wrar.exe"));
    qputenv("ZELV_ARGDUMP_EXIT", "3");
    const ExecResult r = CommandRunner(m_world->drives()).ExecCmd(QStringLiteral("wrar.exe x"));
    QVERIFY(r.started);
    QVERIFY(!r.crashed);
    QCOMPARE(r.exitCode, 3);
    QVERIFY(!r.succeeded());
    QVERIFY(!r.error.isEmpty());
    QCOMPARE(readRuns(m_dump).size(), 1);

    // A program killed by a signal has no exit code to speak of.
    if (QStandardPaths::findExecutable(QStringLiteral("sh")).isEmpty())
        QSKIP("no sh on PATH");
    const ExecResult crash = CommandRunner(m_world->drives()).ExecCmd(QStringLiteral("sh -c \"kill -KILL $$\""));
    QVERIFY(crash.started);
    QVERIFY(crash.crashed);
    QCOMPARE(crash.exitCode, -1);
    QVERIFY(!crash.succeeded());
    QVERIFY(!crash.error.isEmpty());
}

void TestCommandRunner::bareNameInProgramFolder_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("installedAs");
    QTest::addColumn<QString>("word");

    QTest::newRow("other case") << "Wrar.EXE" << "wrar.exe";
    QTest::newRow("upper case word") << "killd.pif" << "KILLD.PIF";
    QTest::newRow("exact") << "warj.pif" << "warj.pif";
    // The program folder comes before PATH, even for a name PATH has.
    QTest::newRow("before PATH") << "true" << "true";
    QTest::newRow("before PATH, other case") << "true" << "TRUE";
    // clang-format on
}

void TestCommandRunner::bareNameInProgramFolder()
{
    QFETCH(QString, installedAs);
    QFETCH(QString, word);
    const QString tool = m_world->installTestTool(QStringLiteral("argdump"), installedAs);
    const ExecResult r = CommandRunner(m_world->drives()).ExecCmd(word + QStringLiteral(" x"));
    QVERIFY2(r.succeeded(), qPrintable(r.error));
    const QList<Run> runs = readRuns(m_dump);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].program, tool);
    QCOMPARE(runs[0].args, QStringList{"x"});
}

void TestCommandRunner::bareNameOnPath()
{
    if (QStandardPaths::findExecutable(QStringLiteral("true")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("false")).isEmpty())
        QSKIP("no true and false on PATH");
    const CommandRunner runner(m_world->drives());
    const ExecResult t = runner.ExecCmd(QStringLiteral("true"));
    QVERIFY2(t.succeeded(), qPrintable(t.error));
    const ExecResult f = runner.ExecCmd(QStringLiteral("false x"));
    QVERIFY(f.started);
    QVERIFY(f.exitCode != 0);
    QVERIFY(!f.succeeded());
    QVERIFY(!QFileInfo::exists(m_dump));

    // PATH is searched in order, ignoring case, passing over what cannot run.
    QTemporaryDir first;
    QTemporaryDir second;
    const QString skipped = m_world->writeFile(first.path() + QStringLiteral("/zelvtool"), "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(skipped, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString tool = placeTool(second.path() + QStringLiteral("/ZelvTool"));
    QVERIFY(!tool.isEmpty());
    const EnvGuard path("PATH", QFile::encodeName(first.path() + u':' + second.path()) + ':' + qgetenv("PATH"));
    const ExecResult r = runner.ExecCmd(QStringLiteral("zelvtool a"));
    QVERIFY2(r.succeeded(), qPrintable(r.error));
    const QList<Run> runs = readRuns(m_dump);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].program, tool);
    QCOMPARE(runs[0].args, QStringList{"a"});
}

void TestCommandRunner::notStarted_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("line");

    QTest::newRow("missing bare name") << "wrar.exe x -o+ -y c:\\a.rar c:\\Zelv001";
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("empty program word") << "\"\" c:\\Zelv001";
    QTest::newRow("missing DOS path") << "c:\\Zelv002\\setup.exe";
    QTest::newRow("on no drive") << "q:\\Zelv002\\setup.exe";
    QTest::newRow("a folder") << "c:\\Zelv002";
    QTest::newRow("a folder in the program folder") << "dosdevices";
    // clang-format on
}

void TestCommandRunner::notStarted()
{
    QFETCH(QString, line);
    // A tool under another name, to show that nothing else is started instead.
    m_world->installTestTool(QStringLiteral("argdump"), QStringLiteral("killd.pif"));
    m_world->makeFolder(m_world->onDrive(u'c', QStringLiteral("Zelv002")));
    const CommandRunner runner(m_world->drives());

    const ExecResult r = runner.ExecCmd(line);
    QVERIFY(!r.started);
    QVERIFY(!r.succeeded());
    QCOMPARE(r.exitCode, -1);
    QVERIFY(!r.error.isEmpty());
    QCOMPARE(r.commandLine, line);

    const ExecResult d = runner.StartDetached(line, WindowHint::Normal);
    QVERIFY(!d.started);
    QVERIFY(!d.error.isEmpty());
    QVERIFY(!QFileInfo::exists(m_dump));
}

void TestCommandRunner::dosPathProgram_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("placedAt"); // below drive c
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("args");

    QTest::newRow("setup") << "Zelv002/setup.exe" << "c:\\Zelv002\\setup.exe /s" << QStringList{"/s"};
    QTest::newRow("other case") << "Zelv002/Setup.EXE" << "C:\\ZELV002\\setup.exe" << QStringList{};
    QTest::newRow("blanks") << "My Games/Zelv 002/setup.exe" << "\"c:\\my games\\zelv 002\\setup.exe\" a b"
                            << QStringList{"a", "b"};
    QTest::newRow("built line") << "My Games/Zelv 003/setup.exe"
                                << helpercommands::runSetup("c:\\My Games\\Zelv 003").commandLine << QStringList{};
    // clang-format on
}

void TestCommandRunner::dosPathProgram()
{
    QFETCH(QString, placedAt);
    QFETCH(QString, line);
    QFETCH(QStringList, args);
    QVERIFY(!placeTool(m_world->onDrive(u'c', placedAt)).isEmpty());
    const ExecResult r = CommandRunner(m_world->drives()).ExecCmd(line);
    QVERIFY2(r.succeeded(), qPrintable(r.error));
    const QList<Run> runs = readRuns(m_dump);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(QFileInfo(runs[0].program).canonicalFilePath(),
             QFileInfo(m_world->onDrive(u'c', placedAt)).canonicalFilePath());
    QCOMPARE(runs[0].args, args);
}

void TestCommandRunner::notExecutable()
{
    // Would leave a trace in the dump if it were started.
    const QByteArray script = "#!/bin/sh\necho ran >> \"$ZELV_ARGDUMP_FILE\"\n";
    const QString onDrive = m_world->writeFile(m_world->onDrive(u'c', QStringLiteral("Zelv002/setup.exe")), script);
    const QString inProgram = m_world->writeFile(m_world->programFolder() + QStringLiteral("/killd.pif"), script);
    for (const QString &file : {onDrive, inProgram})
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));

    const CommandRunner runner(m_world->drives());
    for (const QString &line : {QStringLiteral("c:\\Zelv002\\setup.exe"), QStringLiteral("killd.pif c:\\Zelv001")}) {
        const ExecResult r = runner.ExecCmd(line);
        QVERIFY2(!r.started, qPrintable(line));
        QVERIFY(!r.error.isEmpty());
        QVERIFY(!runner.StartDetached(line, WindowHint::Hidden).started);
    }
    QVERIFY(!QFileInfo::exists(m_dump));

    // The same file once it may be executed does run: the refusal was about the bit.
    QFile::setPermissions(onDrive, QFile::permissions(onDrive) | QFileDevice::ExeOwner);
    QVERIFY(runner.ExecCmd(QStringLiteral("c:\\Zelv002\\setup.exe")).succeeded());
    QVERIFY(QFileInfo::exists(m_dump));
}

void TestCommandRunner::windowsProgram()
{
    const QString setup = m_world->writeFile(m_world->onDrive(u'c', QStringLiteral("Zelv002/setup.exe")),
                                             QByteArray("MZ\x90\x00\x03\x00\x00\x00", 8) + QByteArray(120, '\0'));
    QFile::setPermissions(setup, QFile::permissions(setup) | QFileDevice::ExeOwner);
    const CommandRunner runner(m_world->drives());

    QTemporaryDir noWine;
    {
        const EnvGuard path("PATH", QFile::encodeName(noWine.path()));
        const ExecResult r = runner.ExecCmd(QStringLiteral("c:\\Zelv002\\setup.exe /s"));
        QVERIFY(!r.started);
        QVERIFY2(r.error.contains(QStringLiteral("wine"), Qt::CaseInsensitive), qPrintable(r.error));
        const ExecResult d = runner.StartDetached(QStringLiteral("c:\\Zelv002\\setup.exe"), WindowHint::Hidden);
        QVERIFY(!d.started);
        QVERIFY2(d.error.contains(QStringLiteral("wine"), Qt::CaseInsensitive), qPrintable(d.error));
    }

    // With wine on PATH the program is handed to it, followed by the words.
    QTemporaryDir withWine;
    const QString wine = placeTool(withWine.path() + QStringLiteral("/wine"));
    QVERIFY(!wine.isEmpty());
    const EnvGuard path("PATH", QFile::encodeName(withWine.path()));
    const ExecResult r = runner.ExecCmd(QStringLiteral("C:\\ZELV002\\SETUP.EXE /s"));
    QVERIFY2(r.succeeded(), qPrintable(r.error));
    const QList<Run> runs = readRuns(m_dump);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].program, wine);
    QCOMPARE(runs[0].args.size(), 2);
    QCOMPARE(QFileInfo(runs[0].args[0]).canonicalFilePath(), QFileInfo(setup).canonicalFilePath());
    QCOMPARE(runs[0].args[1], QStringLiteral("/s"));
}

void TestCommandRunner::detachedHint_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<HelperCommand>("command");
    QTest::addColumn<QString>("tool"); // the test tool's name in the program folder, or its place on c:
    QTest::addColumn<bool>("onDrive");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QStringList>("args");

    using namespace helpercommands;
    QTest::newRow("error report") << showErrorReport("c:\\Zelvant32") << "notepad.exe" << false << "1"
                                  << QStringList{"c:\\Zelvant32\\errors.txt"};
    QTest::newRow("nfo") << showNfo("c:\\My Dir", "a.nfo") << "Notepad.exe" << false << "4" << QStringList{"c:\\My Dir\\a.nfo"};
    QTest::newRow("help") << showHelp("c:\\Zelvant32") << "winhelp.exe" << false << "4" << QStringList{"c:\\Zelvant32\\Zelv32.hlp"};
    QTest::newRow("mail") << newMail("a@example.com") << "webdial.exe" << false << "1" << QStringList{">mailto:a@example.com"};
    QTest::newRow("setup") << runSetup("c:\\My Games\\Zelv 003") << "My Games/Zelv 003/setup.exe" << true << "0" << QStringList{};
    // clang-format on
}

void TestCommandRunner::detachedHint()
{
    QFETCH(HelperCommand, command);
    QFETCH(QString, tool);
    QFETCH(bool, onDrive);
    QFETCH(QString, hint);
    QFETCH(QStringList, args);
    QCOMPARE(command.mode, StartMode::Detached);
    if (onDrive)
        QVERIFY(!placeTool(m_world->onDrive(u'c', tool)).isEmpty());
    else
        QVERIFY(!m_world->installTestTool(QStringLiteral("argdump"), tool).isEmpty());

    const ExecResult r = start(CommandRunner(m_world->drives()), command);
    QVERIFY2(r.started, qPrintable(r.error));
    QTRY_VERIFY_WITH_TIMEOUT(readRuns(m_dump).size() == 1 && readRuns(m_dump)[0].complete, 30000);
    const Run run = readRuns(m_dump)[0];
    QCOMPARE(run.hint, hint);
    QCOMPARE(run.args, args);
}

void TestCommandRunner::detachedReturnsAtOnce()
{
    m_world->installTestTool(QStringLiteral("argdump"), QStringLiteral("notepad.exe"));
    qputenv("ZELV_ARGDUMP_SLEEP_MS", "3000");
    const ExecResult r =
        CommandRunner(m_world->drives()).StartDetached(QStringLiteral("notepad.exe c:\\x.txt"), WindowHint::NoActivate);
    // The program writes only after its sleep; had the start waited, the dump would be there.
    QVERIFY(!QFileInfo::exists(m_dump));
    QVERIFY(r.started);
    QVERIFY(!r.crashed);
    QTRY_VERIFY_WITH_TIMEOUT(readRuns(m_dump).size() == 1 && readRuns(m_dump)[0].complete, 60000);
    QCOMPARE(readRuns(m_dump)[0].hint, QStringLiteral("4"));
}

void TestCommandRunner::waitingRunsInOrder()
{
    const QString killd = m_world->installTestTool(QStringLiteral("argdump"), QStringLiteral("killd.pif"));
    const QString wrar = m_world->installTestTool(QStringLiteral("argdump"), QStringLiteral("wrar.exe"));
    qputenv("ZELV_ARGDUMP_SLEEP_MS", "100");
    const CommandRunner runner(m_world->drives());
    const QList<HelperCommand> commands{
        helpercommands::removeLeftover(QStringLiteral("c"), QStringLiteral("Zelv001")),
        helpercommands::rarSetInstall(QStringLiteral("c:\\My Downloads"), QStringLiteral("prog.rar"),
                                      QStringLiteral("c:\\Zelv002")),
        helpercommands::removeInstallDir(QStringLiteral("c:\\Zelv002")),
    };
    for (qsizetype i = 0; i < commands.size(); ++i) {
        QCOMPARE(commands[i].mode, StartMode::Waiting);
        QVERIFY(start(runner, commands[i]).succeeded());
        const QList<Run> runs = readRuns(m_dump);
        QCOMPARE(runs.size(), i + 1);
        QVERIFY(runs.last().complete);
    }
    const QList<Run> runs = readRuns(m_dump);
    QCOMPARE(runs[0].program, killd);
    QCOMPARE(runs[0].args, QStringList{"c:\\Zelv001"});
    QCOMPARE(runs[1].program, wrar);
    QCOMPARE(runs[1].args, (QStringList{"x", "-o+", "-y", "c:\\My Downloads\\prog.rar", "c:\\Zelv002"}));
    QCOMPARE(runs[2].program, killd);
    QCOMPARE(runs[2].args, QStringList{"c:\\Zelv002"});
}

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
