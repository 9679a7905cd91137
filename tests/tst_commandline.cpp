#include "core/helpercommands.h"
#include "platform/commandline.h"

#include <QTest>

using namespace zelv;

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void roundTrip_data();
    void roundTrip();
    void quoteLeavesPlainWords();
    void builders_data();
    void builders();
    void plainLines();
};

void TestCommandLine::split_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");

    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("blanks only") << " \t " << QStringList{};
    QTest::newRow("blanks separate") << "  prog  a\tb \t c  " << QStringList{"prog", "a", "b", "c"};
    QTest::newRow("quotes group") << "prog \"a b\" c" << QStringList{"prog", "a b", "c"};
    QTest::newRow("quotes inside a word") << "prog a\"b c\"d e" << QStringList{"prog", "ab cd", "e"};
    QTest::newRow("empty quoted word") << "prog \"\" x" << QStringList{"prog", "", "x"};
    QTest::newRow("escaped quote") << "prog a\\\"b" << QStringList{"prog", "a\"b"};
    QTest::newRow("escaped quote does not group") << "prog \\\"a b\\\"" << QStringList{"prog", "\"a", "b\""};
    QTest::newRow("two backslashes, quote") << "prog a\\\\\"b c\"" << QStringList{"prog", "a\\b c"};
    QTest::newRow("three backslashes, quote") << "prog a\\\\\\\"b" << QStringList{"prog", "a\\\"b"};
    QTest::newRow("four backslashes, quote") << "prog \"a\\\\\\\\\" b" << QStringList{"prog", "a\\\\", "b"};
    QTest::newRow("backslashes before other") << "prog c:\\dir\\\\x \\\\server\\share" << QStringList{"prog", "c:\\dir\\\\x", "\\\\server\\share"};
    QTest::newRow("trailing backslash") << "prog c:\\Zelv001\\ x" << QStringList{"prog", "c:\\Zelv001\\", "x"};
    QTest::newRow("trailing backslash at end") << "prog c:\\" << QStringList{"prog", "c:\\"};
    QTest::newRow("doubled quote inside quotes") << "prog \"a\"\"b\"" << QStringList{"prog", "a\"b"};
    QTest::newRow("doubled quote keeps quoting") << "prog \"a\"\"b c\" d" << QStringList{"prog", "a\"b c", "d"};
    QTest::newRow("quoted program") << "\"c:\\My Dir\\setup.exe\" /s" << QStringList{"c:\\My Dir\\setup.exe", "/s"};
    QTest::newRow("program takes no escapes") << "\"c:\\My Dir\\\" x" << QStringList{"c:\\My Dir\\", "x"};
    QTest::newRow("program backslash quote unquoted") << "c:\\dir\\\" x\"" << QStringList{"c:\\dir\\ x"};
    QTest::newRow("leading blanks before program") << "   killd.pif c:\\Zelv001" << QStringList{"killd.pif", "c:\\Zelv001"};
    QTest::newRow("unclosed quote runs to the end") << "prog \"a b  c" << QStringList{"prog", "a b  c"};
    // clang-format on
}

void TestCommandLine::split()
{
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QCOMPARE(commandline::split(line), words);
}

void TestCommandLine::roundTrip_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("word");

    QTest::newRow("plain") << "x";
    QTest::newRow("blank") << "a b";
    QTest::newRow("leading and trailing blanks") << "  a  ";
    QTest::newRow("tab") << "a\tb";
    QTest::newRow("quote") << "a\"b";
    QTest::newRow("only a quote") << "\"";
    QTest::newRow("two quotes") << "\"\"";
    QTest::newRow("quoted text") << "\"a b\"";
    QTest::newRow("trailing backslash") << "c:\\Zelv001\\";
    QTest::newRow("folder with blank and trailing backslash") << "c:\\My Downloads\\";
    QTest::newRow("backslashes before a quote") << "a\\\\\"b c";
    QTest::newRow("backslash quote at the end") << "x y\\\"";
    QTest::newRow("only backslashes") << "\\\\";
    QTest::newRow("UNC path") << "\\\\server\\share\\my file";
    QTest::newRow("empty") << "";
    QTest::newRow("blank only") << " ";
    QTest::newRow("dollar and angle") << ">mailto:a b@example.com";
    QTest::newRow("non-ASCII") << "c:\\Téléchargements\\été.rar";
    // clang-format on
}

void TestCommandLine::roundTrip()
{
    QFETCH(QString, word);
    // The word alone, between others, and as the last word.
    const QStringList alone{word};
    const QStringList among{"x", word, "", word, "y"};
    for (const QStringList &args : {alone, among}) {
        const QString line = commandline::join(QStringLiteral("prog.exe"), args);
        QCOMPARE(commandline::split(line), QStringList{"prog.exe"} + args);
    }
    // A program with blanks in its folder is one word too.
    const QString program = QStringLiteral("c:\\My Games\\Zelv 001\\setup.exe");
    QCOMPARE(commandline::split(commandline::join(program, alone)), (QStringList{program, word}));
}

void TestCommandLine::quoteLeavesPlainWords()
{
    for (const char *w : {"x", "-o+", "c:\\Zelv001\\", "c:\\", "$http://example.com/a?b=c&d", ">mailto:a@b.example"})
        QCOMPARE(commandline::quote(QString::fromUtf8(w)), QString::fromUtf8(w));
    QCOMPARE(commandline::quote(QString()), QStringLiteral("\"\""));
    QCOMPARE(commandline::quote(QStringLiteral("c:\\My Downloads\\prog.rar")),
             QStringLiteral("\"c:\\My Downloads\\prog.rar\""));
    QCOMPARE(commandline::quoteProgram(QStringLiteral("wrar.exe")), QStringLiteral("wrar.exe"));
    QCOMPARE(commandline::quoteProgram(QStringLiteral("c:\\My Dir\\setup.exe")),
             QStringLiteral("\"c:\\My Dir\\setup.exe\""));
}

void TestCommandLine::builders_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<HelperCommand>("command");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<StartMode>("mode");
    QTest::addColumn<int>("hint"); // for detached starts

    using namespace helpercommands;
    const int none = -1;
    const QString dl = QStringLiteral("c:\\My Downloads");
    const QString inst = QStringLiteral("d:\\Zelv 001");

    QTest::newRow("rar set") << rarSetInstall("c:\\Downloads", "prog.rar", "c:\\Zelv001")
                             << QStringList{"wrar.exe", "x", "-o+", "-y", "c:\\Downloads\\prog.rar", "c:\\Zelv001"}
                             << StartMode::Waiting << none;
    QTest::newRow("rar set from root") << rarSetInstall("C:\\", "prog.rar", "c:\\Zelv001")
                                       << QStringList{"wrar.exe", "x", "-o+", "-y", "C:\\prog.rar", "c:\\Zelv001"}
                                       << StartMode::Waiting << none;
    QTest::newRow("rar set, blanks") << rarSetInstall(dl, "my prog.part1.rar", inst)
                                     << QStringList{"wrar.exe", "x", "-o+", "-y", "c:\\My Downloads\\my prog.part1.rar", "d:\\Zelv 001"}
                                     << StartMode::Waiting << none;
    QTest::newRow("inner rar") << innerRarExtract("c:\\Zelv001", "PROG.RAR", "c:\\Zelv002")
                               << QStringList{"wrar.exe", "x", "-o+", "-y", "c:\\Zelv001\\PROG.RAR", "c:\\Zelv002"}
                               << StartMode::Waiting << none;
    QTest::newRow("inner rar, blanks") << innerRarExtract(inst, "prog.rar", "d:\\Zelv 002")
                                       << QStringList{"wrar.exe", "x", "-o+", "-y", "d:\\Zelv 001\\prog.rar", "d:\\Zelv 002"}
                                       << StartMode::Waiting << none;
    QTest::newRow("inner arj") << innerArjExtract("c:\\Zelv001", "prog.a01", "c:\\Zelv002")
                               << QStringList{"warj.pif", "x", "-y", "c:\\Zelv001\\prog.a01", "c:\\Zelv002"}
                               << StartMode::Waiting << none;
    QTest::newRow("inner arj, blanks") << innerArjExtract(inst, "prog.arj", "d:\\Zelv 002")
                                       << QStringList{"warj.pif", "x", "-y", "d:\\Zelv 001\\prog.arj", "d:\\Zelv 002"}
                                       << StartMode::Waiting << none;
    QTest::newRow("inner ace") << innerAceExtract("c:\\Zelv001", "prog.ace", "c:\\Zelv002")
                               << QStringList{"wace.pif", "x", "-y", "c:\\Zelv001\\prog.ace", "c:\\Zelv002"}
                               << StartMode::Waiting << none;
    QTest::newRow("inner ace, blanks") << innerAceExtract(inst, "prog.ace", "d:\\Zelv 002")
                                       << QStringList{"wace.pif", "x", "-y", "d:\\Zelv 001\\prog.ace", "d:\\Zelv 002"}
                                       << StartMode::Waiting << none;
    QTest::newRow("ace set") << aceSetInstall("c:\\Downloads", "prog.ace", "c:\\Zelv001")
                             << QStringList{"ace.pif", "x", "-y", "c:\\Downloads\\prog.ace", "c:\\Zelv001"}
                             << StartMode::Waiting << none;
    QTest::newRow("ace set from root, blanks") << aceSetInstall("D:\\", "my prog.ace", inst)
                                               << QStringList{"ace.pif", "x", "-y", "D:\\my prog.ace", "d:\\Zelv 001"}
                                               << StartMode::Waiting << none;
    QTest::newRow("leftover") << removeLeftover("d", "Zelv001")
                              << QStringList{"killd.pif", "d:\\Zelv001"} << StartMode::Waiting << none;
    QTest::newRow("leftover, blank") << removeLeftover("c", "Zelv 001")
                                     << QStringList{"killd.pif", "c:\\Zelv 001"} << StartMode::Waiting << none;
    QTest::newRow("install dir") << removeInstallDir("c:\\Zelv001")
                                 << QStringList{"killd.pif", "c:\\Zelv001"} << StartMode::Waiting << none;
    QTest::newRow("install dir, blank") << removeInstallDir("c:\\My Downloads\\Zelv001")
                                        << QStringList{"killd.pif", "c:\\My Downloads\\Zelv001"} << StartMode::Waiting << none;

    QTest::newRow("error report") << showErrorReport("c:\\Zelvant32")
                                  << QStringList{"notepad.exe", "c:\\Zelvant32\\errors.txt"} << StartMode::Detached << 1;
    QTest::newRow("error report, blank, root") << showErrorReport("C:\\")
                                               << QStringList{"notepad.exe", "C:\\errors.txt"} << StartMode::Detached << 1;
    QTest::newRow("error report, blank") << showErrorReport("c:\\Program Files\\Zelvant32")
                                         << QStringList{"notepad.exe", "c:\\Program Files\\Zelvant32\\errors.txt"}
                                         << StartMode::Detached << 1;
    QTest::newRow("nfo") << showNfo("c:\\Program Files\\Zelvant32", "Release Notes.NFO")
                         << QStringList{"notepad.exe", "c:\\Program Files\\Zelvant32\\Release Notes.NFO"}
                         << StartMode::Detached << 4;
    QTest::newRow("help") << showHelp("c:\\Program Files\\Zelvant32")
                          << QStringList{"winhelp.exe", "c:\\Program Files\\Zelvant32\\Zelv32.hlp"}
                          << StartMode::Detached << 4;
    QTest::newRow("web page") << openWebPage("http://www.example.com/zelvant/")
                              << QStringList{"webdial.exe", "$http://www.example.com/zelvant/"} << StartMode::Detached << 1;
    QTest::newRow("mail") << newMail("support@example.com")
                          << QStringList{"webdial.exe", ">mailto:support@example.com"} << StartMode::Detached << 1;
    QTest::newRow("setup") << runSetup("c:\\Zelv003")
                           << QStringList{"c:\\Zelv003\\setup.exe"} << StartMode::Detached << 0;
    QTest::newRow("setup, blanks") << runSetup("c:\\My Games\\Zelv 003")
                                   << QStringList{"c:\\My Games\\Zelv 003\\setup.exe"} << StartMode::Detached << 0;
    QTest::newRow("setup in root") << runSetup("D:\\")
                                   << QStringList{"D:\\setup.exe"} << StartMode::Detached << 0;
    // clang-format on
}

void TestCommandLine::builders()
{
    QFETCH(HelperCommand, command);
    QFETCH(QStringList, words);
    QFETCH(StartMode, mode);
    QFETCH(int, hint);
    QCOMPARE(commandline::split(command.commandLine), words);
    QCOMPARE(command.mode, mode);
    if (mode == StartMode::Detached)
        QCOMPARE(int(command.hint), hint);
}

void TestCommandLine::plainLines()
{
    // Without blanks the lines are exactly the original ones: no quotes added.
    using namespace helpercommands;
    QCOMPARE(rarSetInstall("c:\\Zelv001", "prog.rar", "c:\\Zelv002").commandLine,
             QStringLiteral("wrar.exe x -o+ -y c:\\Zelv001\\prog.rar c:\\Zelv002"));
    QCOMPARE(innerArjExtract("c:\\Zelv001", "prog.arj", "c:\\Zelv002").commandLine,
             QStringLiteral("warj.pif x -y c:\\Zelv001\\prog.arj c:\\Zelv002"));
    QCOMPARE(innerAceExtract("c:\\Zelv001", "prog.ace", "c:\\Zelv002").commandLine,
             QStringLiteral("wace.pif x -y c:\\Zelv001\\prog.ace c:\\Zelv002"));
    QCOMPARE(aceSetInstall("C:\\", "prog.ace", "c:\\Zelv001").commandLine,
             QStringLiteral("ace.pif x -y C:\\prog.ace c:\\Zelv001"));
    QCOMPARE(removeInstallDir("c:\\Zelv001").commandLine, QStringLiteral("killd.pif c:\\Zelv001"));
    QCOMPARE(removeLeftover("c", "Zelv001").commandLine, QStringLiteral("killd.pif c:\\Zelv001"));
    QCOMPARE(showHelp("c:\\Zelvant32").commandLine, QStringLiteral("winhelp.exe c:\\Zelvant32\\Zelv32.hlp"));
    QCOMPARE(openWebPage("http://www.example.com/").commandLine,
             QStringLiteral("webdial.exe $http://www.example.com/"));
    QCOMPARE(newMail("a@example.com").commandLine, QStringLiteral("webdial.exe >mailto:a@example.com"));
    QCOMPARE(runSetup("c:\\Zelv003").commandLine, QStringLiteral("c:\\Zelv003\\setup.exe"));
    // With a blank, only the part holding it is quoted.
    QCOMPARE(rarSetInstall("c:\\My Downloads", "prog.rar", "c:\\Zelv002").commandLine,
             QStringLiteral("wrar.exe x -o+ -y \"c:\\My Downloads\\prog.rar\" c:\\Zelv002"));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
