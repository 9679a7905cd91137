#include "platform/dospath.h"

#include <QTest>

using namespace zelv;

class TestDosPath : public QObject {
    Q_OBJECT
private slots:
    void driveLetter_data();
    void driveLetter();
    void components_data();
    void components();
    void driveRoot_data();
    void driveRoot();
    void join_data();
    void join();
    void folderAndName_data();
    void folderAndName();
};

void TestDosPath::driveLetter_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("letter"); // empty: no drive

    QTest::newRow("lower") << "c:\\Zelv001" << "c";
    QTest::newRow("upper folds") << "D:\\Downloads\\prog.rar" << "d";
    QTest::newRow("bare drive") << "z:" << "z";
    QTest::newRow("drive relative") << "c:setup.exe" << "c";
    QTest::newRow("no colon") << "c\\Zelv001" << "";
    QTest::newRow("relative") << "Zelv001\\setup.exe" << "";
    QTest::newRow("digit") << "1:\\x" << "";
    QTest::newRow("non-ASCII letter") << "é:\\x" << "";
    QTest::newRow("host path") << "/home/x" << "";
    QTest::newRow("one character") << "c" << "";
    QTest::newRow("empty") << "" << "";
    // clang-format on
}

void TestDosPath::driveLetter()
{
    QFETCH(QString, path);
    QFETCH(QString, letter);
    const auto got = dospath::driveLetter(path);
    if (letter.isEmpty()) {
        QVERIFY(!got);
        QVERIFY(!dospath::components(path));
        QVERIFY(!dospath::normalize(path));
        QVERIFY(!dospath::isDriveRoot(path));
    } else {
        QVERIFY(got);
        QCOMPARE(*got, letter.at(0));
    }
}

void TestDosPath::components_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QString>("normalized");

    QTest::newRow("plain") << "c:\\Zelv001\\setup.exe" << QStringList{"Zelv001", "setup.exe"}
                           << "c:\\Zelv001\\setup.exe";
    QTest::newRow("root") << "C:\\" << QStringList{} << "C:\\";
    QTest::newRow("bare drive") << "c:" << QStringList{} << "c:\\";
    QTest::newRow("dot dropped") << "c:\\.\\a\\.\\b" << QStringList{"a", "b"} << "c:\\a\\b";
    QTest::newRow("dot dot applied") << "c:\\a\\b\\..\\c" << QStringList{"a", "c"} << "c:\\a\\c";
    QTest::newRow("dot dot clamped at root") << "c:\\..\\..\\a" << QStringList{"a"} << "c:\\a";
    QTest::newRow("climb out and back") << "c:\\a\\..\\..\\..\\b\\c" << QStringList{"b", "c"} << "c:\\b\\c";
    QTest::newRow("doubled and trailing separators") << "c:\\\\a\\\\b\\" << QStringList{"a", "b"} << "c:\\a\\b";
    QTest::newRow("forward slashes") << "c:/a/b/../c" << QStringList{"a", "c"} << "c:\\a\\c";
    QTest::newRow("mixed separators") << "D:\\a/b" << QStringList{"a", "b"} << "D:\\a\\b";
    QTest::newRow("case kept") << "c:\\My Downloads\\Prog.RAR" << QStringList{"My Downloads", "Prog.RAR"}
                               << "c:\\My Downloads\\Prog.RAR";
    QTest::newRow("three dots is a name") << "c:\\...\\x" << QStringList{"...", "x"} << "c:\\...\\x";
    // clang-format on
}

void TestDosPath::components()
{
    QFETCH(QString, path);
    QFETCH(QStringList, parts);
    QFETCH(QString, normalized);
    const auto got = dospath::components(path);
    QVERIFY(got);
    QCOMPARE(*got, parts);
    QCOMPARE(dospath::normalize(path), std::optional<QString>(normalized));
}

void TestDosPath::driveRoot_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("root");

    QTest::newRow("c:") << "c:" << true;
    QTest::newRow("c:\\") << "c:\\" << true;
    QTest::newRow("C:\\.") << "C:\\." << true;
    QTest::newRow("c:\\sub\\..") << "c:\\sub\\.." << true;
    QTest::newRow("c:\\..") << "c:\\.." << true;
    QTest::newRow("c:/") << "c:/" << true;
    QTest::newRow("c:\\sub") << "c:\\sub" << false;
    QTest::newRow("c:\\sub\\..\\x") << "c:\\sub\\..\\x" << false;
    QTest::newRow("no drive") << "\\" << false;
    QTest::newRow("empty") << "" << false;
    // clang-format on
}

void TestDosPath::driveRoot()
{
    QFETCH(QString, path);
    QFETCH(bool, root);
    QCOMPARE(dospath::isDriveRoot(path), root);
}

void TestDosPath::join_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("joined");

    QTest::newRow("root") << "C:\\" << "x" << "C:\\x";
    QTest::newRow("bare drive") << "c:" << "x" << "c:\\x";
    QTest::newRow("folder") << "c:\\dir" << "x" << "c:\\dir\\x";
    QTest::newRow("folder with backslash") << "c:\\dir\\" << "x" << "c:\\dir\\x";
    QTest::newRow("blanks") << "c:\\My Downloads" << "prog part1.rar" << "c:\\My Downloads\\prog part1.rar";
    // clang-format on
}

void TestDosPath::join()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, joined);
    QCOMPARE(dospath::join(folder, name), joined);
}

void TestDosPath::folderAndName_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");

    QTest::newRow("file in folder") << "c:\\Zelv001\\setup.exe" << "c:\\Zelv001" << "setup.exe";
    QTest::newRow("file in root") << "C:\\setup.exe" << "C:\\" << "setup.exe";
    QTest::newRow("root") << "c:\\" << "c:\\" << "";
    QTest::newRow("deep") << "d:\\a b\\c\\prog.rar" << "d:\\a b\\c" << "prog.rar";
    QTest::newRow("bare name") << "setup.exe" << "" << "setup.exe";
    // clang-format on
}

void TestDosPath::folderAndName()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(dospath::folderOf(path), folder);
    QCOMPARE(dospath::nameOf(path), name);
    // Cutting a path apart and joining it again gives it back.
    if (!folder.isEmpty() && !name.isEmpty())
        QCOMPARE(dospath::join(folder, name), path);
}

QTEST_GUILESS_MAIN(TestDosPath)
#include "tst_dospath.moc"
