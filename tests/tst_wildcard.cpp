#include "platform/wildcard.h"

#include <QTest>

using namespace zelv;

class TestWildcard : public QObject {
    Q_OBJECT
private slots:
    void pattern_data();
    void pattern();
    void foldedMatchesPlain();
    void filter_data();
    void filter();
};

void TestWildcard::pattern_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    // The RAR listing pattern: "?" may match nothing at the end, never a dot.
    QTest::newRow("*.R?? x.RAR") << "*.R??" << "x.RAR" << true;
    QTest::newRow("*.R?? x.r00") << "*.R??" << "x.r00" << true;
    QTest::newRow("*.R?? x.R12") << "*.R??" << "x.R12" << true;
    QTest::newRow("*.R?? x.reg") << "*.R??" << "x.reg" << true;
    QTest::newRow("*.R?? x.R") << "*.R??" << "x.R" << true;
    QTest::newRow("*.R?? x.Ra") << "*.R??" << "x.Ra" << true;
    QTest::newRow("*.R?? x.zip") << "*.R??" << "x.zip" << false;
    QTest::newRow("*.R?? xr.00") << "*.R??" << "xr.00" << false;
    QTest::newRow("*.R?? x.rarx") << "*.R??" << "x.rarx" << false;
    QTest::newRow("*.R?? x.rar.bak") << "*.R??" << "x.rar.bak" << false;
    QTest::newRow("*.R?? a.b.r01") << "*.R??" << "a.b.r01" << true;
    QTest::newRow("*.R?? no dot") << "*.R??" << "xrar" << false;

    QTest::newRow("*.* no dot") << "*.*" << "README" << true;
    QTest::newRow("*.* several dots") << "*.*" << "a.b.c.txt" << true;
    QTest::newRow("* plain") << "*" << "setup.exe" << true;
    QTest::newRow("* no dot") << "*" << "README" << true;

    QTest::newRow("*. no extension") << "*." << "README" << true;
    QTest::newRow("*. with extension") << "*." << "readme.txt" << false;
    QTest::newRow("*. two dots") << "*." << "a.b.c" << false;

    QTest::newRow("abc.* bare") << "abc.*" << "abc" << true;
    QTest::newRow("abc.* extension") << "abc.*" << "abc.def" << true;
    QTest::newRow("abc.* two extensions") << "abc.*" << "ABC.def.ghi" << true;
    QTest::newRow("abc.* longer stem") << "abc.*" << "abcd" << false;
    QTest::newRow("abc.* longer stem with dot") << "abc.*" << "abcd.def" << false;

    // The temporary folders the program makes for itself.
    QTest::newRow("Zelv0?? Zelv001") << "Zelv0??" << "Zelv001" << true;
    QTest::newRow("Zelv0?? zelv0ab") << "Zelv0??" << "zelv0ab" << true;
    QTest::newRow("Zelv0?? Zelv0") << "Zelv0??" << "Zelv0" << true;
    QTest::newRow("Zelv0?? Zelv01") << "Zelv0??" << "Zelv01" << true;
    QTest::newRow("Zelv0?? Zelv0001") << "Zelv0??" << "Zelv0001" << false;
    QTest::newRow("Zelv0?? Zelv1") << "Zelv0??" << "Zelv1" << false;
    QTest::newRow("Zelv0?? Zelv0.1") << "Zelv0??" << "Zelv0.1" << false;
    QTest::newRow("Zelv0?? prefix only") << "Zelv0??" << "xZelv001" << false;

    QTest::newRow("*.ZIP a.b.zip") << "*.ZIP" << "a.b.zip" << true;
    QTest::newRow("*.ZIP a.zip.bak") << "*.ZIP" << "a.zip.bak" << false;
    QTest::newRow("*.ZIP a.zipx") << "*.ZIP" << "a.zipx" << false;
    QTest::newRow("*.ZIP zip") << "*.ZIP" << "zip" << false;

    // "?" before a dot may match nothing, as on the original platform.
    QTest::newRow("a?.txt a.txt") << "a?.txt" << "a.txt" << true;
    QTest::newRow("a?.txt ab.txt") << "a?.txt" << "ab.txt" << true;
    QTest::newRow("a?.txt abc.txt") << "a?.txt" << "abc.txt" << false;
    QTest::newRow("a?.txt a.b.txt") << "a?.txt" << "a.b.txt" << false;

    QTest::newRow("star in the middle") << "pro*.exe" << "PROG-setup.EXE" << true;
    QTest::newRow("star in the middle, wrong end") << "pro*.exe" << "prog.exe.txt" << false;
    QTest::newRow("trailing star") << "setup*" << "Setup.exe" << true;
    QTest::newRow("literal only") << "setup.exe" << "SETUP.EXE" << true;
    QTest::newRow("literal only, longer name") << "setup.exe" << "setup.exe2" << false;

    QTest::newRow("case ASCII") << "*.nfo" << "README.NFO" << true;
    QTest::newRow("case non-ASCII") << "É*.txt" << "été.TXT" << true;
    QTest::newRow("case non-ASCII literal") << "ÄÖÜ.DIZ" << "äöü.diz" << true;
    QTest::newRow("non-ASCII differs") << "é*" << "e.txt" << false;
    QTest::newRow("? matches one non-ASCII letter") << "x?.txt" << "xß.txt" << true;
    QTest::newRow("case outside the BMP") << "\U00010400.txt" << "\U00010428.TXT" << true;
    // clang-format on
}

void TestWildcard::pattern()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, expected);
    QCOMPARE(WildcardPattern(pattern).matches(name), expected);
}

void TestWildcard::foldedMatchesPlain()
{
    // Listing folds each name once; it must judge exactly as matches() does.
    const QStringList patterns{"*.R??", "*.*", "*.", "abc.*", "Zelv0??", "a?.txt", "É*"};
    const QStringList names{"x.RAR", "README", "abc", "abc.def", "Zelv0", "a.txt", "été", "xr.00"};
    for (const QString &p : patterns) {
        const WildcardPattern pattern(p);
        QCOMPARE(pattern.text(), p);
        for (const QString &n : names)
            QVERIFY2(pattern.matchesFolded(WildcardPattern::fold(n)) == pattern.matches(n), qPrintable(p + u' ' + n));
    }
}

void TestWildcard::filter_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");

    QTest::newRow("rar first part") << "*.R??;*.0??" << "prog.RAR" << true;
    QTest::newRow("rar second part") << "*.R??;*.0??" << "prog.001" << true;
    QTest::newRow("rar neither") << "*.R??;*.0??" << "prog.zip" << false;
    QTest::newRow("ace order does not matter") << "*.C??;*.ACE" << "prog.ace" << true;
    QTest::newRow("blanks around parts") << "  *.zip ;  *.arj  " << "PROG.ARJ" << true;
    QTest::newRow("blanks around parts, first") << "  *.zip ;  *.arj  " << "prog.zip" << true;
    QTest::newRow("empty part skipped") << "*.zip;;*.arj" << "x.arj" << true;
    QTest::newRow("empty filter") << "" << "x.zip" << false;
    QTest::newRow("blank filter") << "   " << "x.zip" << false;
    QTest::newRow("separators only") << " ; ;" << "x.zip" << false;
    QTest::newRow("single pattern") << "*.ZIP" << "a.b.zip" << true;
    // clang-format on
}

void TestWildcard::filter()
{
    QFETCH(QString, filter);
    QFETCH(QString, name);
    QFETCH(bool, expected);
    const WildcardFilter f(filter);
    QCOMPARE(f.matches(name), expected);
    QCOMPARE(f.isEmpty(), filter.trimmed().remove(u';').trimmed().isEmpty());
}

QTEST_GUILESS_MAIN(TestWildcard)
#include "tst_wildcard.moc"
