// The .sfv files of a release read line by line: names with blanks, comments, letter case, and
// junk that must cost no more than its length to pass over.
#include "archive/sfvcheck.h"
#include "support/testworld.h"

#include <QTest>

using namespace zelv;

class TestSfvCheck : public QObject {
    Q_OBJECT
private slots:
    void entries_data();
    void entries();
};

void TestSfvCheck::entries_data()
{
    QTest::addColumn<QByteArray>("sfv");
    QTest::addColumn<QStringList>("names"); // found, lower case, with their CRC after a blank
    // clang-format off
    QTest::newRow("plain") << QByteArray("prog.r00 1a2b3c4d\r\nprog.r01 DEADBEEF\n") << QStringList{"prog.r00 1a2b3c4d", "prog.r01 deadbeef"};
    QTest::newRow("a name with blanks") << QByteArray("  prog part.rar \t 0000abcd  \n") << QStringList{"prog part.rar 0000abcd"};
    QTest::newRow("comments and other files") << QByteArray("; prog.r00 11111111\nother.zip 22222222\n") << QStringList{};
    QTest::newRow("not eight hex digits") << QByteArray("prog.r00 123\nprog.r01 1234567g\nprog.r02 +1234567\nprog.r03 123456789\n") << QStringList{};
    QTest::newRow("a line of blanks, then an entry") << QByteArray(3 << 20, ' ') + "\nprog.rar 0badf00d\n" << QStringList{"prog.rar 0badf00d"};
    QTest::newRow("a long line of blanks between name and CRC") << "prog.rar" + QByteArray(3 << 20, ' ') + "0badf00d\n" << QStringList{"prog.rar 0badf00d"};
    QTest::newRow("a long word of junk") << QByteArray(3 << 20, 'a') + " x\nprog.r00 00000001\n" << QStringList{"prog.r00 00000001"};
    // clang-format on
}

void TestSfvCheck::entries()
{
    QFETCH(QByteArray, sfv);
    QFETCH(QStringList, names);
    test::TestWorld w;
    const QString folder = w.addDrive(u'd');
    w.writeFile(folder + QStringLiteral("/release.sfv"), sfv);
    const QHash<QString, quint32> entries = sfvEntriesFor(folder, QStringLiteral("prog"));
    QStringList found;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        found << it.key() + u' ' + QStringLiteral("%1").arg(it.value(), 8, 16, QLatin1Char('0'));
    found.sort();
    QCOMPARE(found, names);
}

QTEST_GUILESS_MAIN(TestSfvCheck)
#include "tst_sfvcheck.moc"
