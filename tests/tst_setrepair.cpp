// A release's .sfv checked and its .par2 files used before a set is unpacked, through wrar.exe:
// a good set passes, a damaged volume is named with both CRCs, a volume the .sfv names but the
// folder lacks is named, a .sfv for other files is no concern; with .par2 files a damaged or
// missing volume is repaired and the set extracts whole, and too much damage is told in blocks.
#include "support/childrun.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <zlib.h>

using namespace zelv;
using test::SetMember;

namespace {

QString crcText(const QByteArray &bytes)
{
    return QStringLiteral("%1").arg(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())), 8,
                                    16, QLatin1Char('0'));
}

} // namespace

class TestSetRepair : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void checkedBeforeExtraction_data();
    void checkedBeforeExtraction();
    void repairedWithPar2_data();
    void repairedWithPar2();
};

void TestSetRepair::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("unar")).isEmpty())
        QSKIP("unar is not installed (scripts/install-deps installs it)");
}

void TestSetRepair::checkedBeforeExtraction_data()
{
    QTest::addColumn<QString>("change");  // what is done to the release
    QTest::addColumn<QString>("message"); // %1 and %2: the damaged volume's CRC and the .sfv's
    // clang-format off
    QTest::newRow("a good set") << "" << "";
    QTest::newRow("a flipped byte") << "flip" << "wrar.exe: Bad volume c:\\Zelv001\\prog.r01 (CRC %1, SFV says %2)";
    QTest::newRow("a volume the .sfv names is missing") << "extra" << "wrar.exe: Missing volume c:\\Zelv001\\prog.r09";
    QTest::newRow("a .sfv for other files") << "other" << "";
    QTest::newRow("upper-case names and comments") << "upper" << "";
    // clang-format on
}

void TestSetRepair::checkedBeforeExtraction()
{
    QFETCH(QString, change);
    QFETCH(QString, message);
    test::TestWorld world;
    world.linkDrive(u'z', world.root());
    world.installHelper(QStringLiteral("wrar.exe"));
    const QString source = world.onDrive(u'c', QStringLiteral("Zelv001"));
    world.makeFolder(source);
    const auto volumes =
        test::writeRarSet(source, QStringLiteral("prog"), test::RarFormat::Rar4, test::VolumeNaming::Old,
                          {SetMember::file("setup.exe", test::patternBytes(70000, 4))}, 30000);
    QVERIFY(volumes && volumes->size() == 3);

    QByteArray sfv = "; made by the tests\r\n";
    for (const QString &v : *volumes) {
        const QString name = QFileInfo(v).fileName();
        sfv += (change == u"upper" ? name.toUpper() : name).toLatin1() + ' ' + crcText(test::readBytes(v)).toLatin1() +
               "\r\n";
    }
    const QString listed = crcText(test::readBytes(volumes->at(2)));
    if (change == u"extra")
        sfv += "prog.r09 0badc0de\r\n";
    if (change == u"other")
        sfv = "other.zip 12345678\r\n";
    world.writeFile(source + QStringLiteral("/prog.sfv"), sfv);
    if (change == u"flip")
        QVERIFY(test::flipByte(volumes->at(2), 100));

    const test::ChildRun run =
        test::runProgram(world.programFolder() + QStringLiteral("/wrar.exe"),
                         {QStringLiteral("x"), QStringLiteral("-o+"), QStringLiteral("-y"),
                          QStringLiteral("c:\\Zelv001\\prog.rar"), QStringLiteral("c:\\Zelv002")});
    const QString expected =
        message.contains(u"%1") ? message.arg(crcText(test::readBytes(volumes->at(2))), listed) : message;
    QCOMPARE(run.err, expected);
    QCOMPARE(run.exitCode, expected.isEmpty() ? 0 : 1);
    QCOMPARE(QFileInfo::exists(world.onDrive(u'c', QStringLiteral("Zelv002/setup.exe"))), expected.isEmpty());
}

void TestSetRepair::repairedWithPar2_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("redundancy"); // percent of recovery data
    QTest::addColumn<bool>("repaired");
    QTest::newRow("a flipped byte the .sfv shows") << "flip" << 30 << true;
    QTest::newRow("a missing volume") << "missing" << 50 << true;
    QTest::newRow("more damage than recovery data") << "two missing" << 5 << false;
}

void TestSetRepair::repairedWithPar2()
{
    QFETCH(QString, damage);
    QFETCH(int, redundancy);
    QFETCH(bool, repaired);
    if (QStandardPaths::findExecutable(QStringLiteral("par2")).isEmpty())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    test::TestWorld world;
    world.linkDrive(u'z', world.root());
    world.installHelper(QStringLiteral("wrar.exe"));
    const QString source = world.onDrive(u'c', QStringLiteral("Zelv001"));
    world.makeFolder(source);
    const QByteArray data = test::patternBytes(70000, 6);
    const auto volumes = test::writeRarSet(source, QStringLiteral("prog"), test::RarFormat::Rar4,
                                           test::VolumeNaming::Old, {SetMember::file("setup.exe", data)}, 30000);
    QVERIFY(volumes && volumes->size() == 3);
    QByteArray sfv;
    for (const QString &v : *volumes)
        sfv += QFileInfo(v).fileName().toLatin1() + ' ' + crcText(test::readBytes(v)).toLatin1() + "\r\n";
    world.writeFile(source + QStringLiteral("/prog.sfv"), sfv);
    QProcess par2;
    par2.setWorkingDirectory(source);
    par2.start(QStringLiteral("par2"),
               {QStringLiteral("create"), QStringLiteral("-q"), QStringLiteral("-r%1").arg(redundancy),
                QStringLiteral("-n1"), QStringLiteral("prog.par2"), QStringLiteral("prog.rar"),
                QStringLiteral("prog.r00"), QStringLiteral("prog.r01")});
    QVERIFY(par2.waitForFinished(60000) && par2.exitCode() == 0);
    if (damage == u"flip")
        QVERIFY(test::flipByte(volumes->at(1), 500));
    if (damage.contains(u"missing"))
        QVERIFY(QFile::remove(volumes->at(1)));
    if (damage == u"two missing")
        QVERIFY(QFile::remove(volumes->at(2)));

    const test::ChildRun run =
        test::runProgram(world.programFolder() + QStringLiteral("/wrar.exe"),
                         {QStringLiteral("x"), QStringLiteral("-o+"), QStringLiteral("-y"),
                          QStringLiteral("c:\\Zelv001\\prog.rar"), QStringLiteral("c:\\Zelv002")});
    if (repaired) {
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(test::readBytes(world.onDrive(u'c', QStringLiteral("Zelv002/setup.exe"))), data);
        if (damage == u"flip") // par2 keeps the damaged original beside the repaired volume
            QVERIFY(QFileInfo::exists(volumes->at(1) + QStringLiteral(".1")));
    } else {
        QVERIFY2(run.err.startsWith(QStringLiteral("wrar.exe: prog.rar cannot be repaired: ")) &&
                     run.err.endsWith(QStringLiteral(" more recovery blocks are needed")),
                 qPrintable(run.err));
        QCOMPARE(run.exitCode, 1);
        QVERIFY(!QFileInfo::exists(world.onDrive(u'c', QStringLiteral("Zelv002"))));
    }
}

QTEST_GUILESS_MAIN(TestSetRepair)
#include "tst_setrepair.moc"
