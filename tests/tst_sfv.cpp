// A release's .sfv checked before a set is unpacked, through wrar.exe: a good set passes, a
// damaged volume is named with both CRCs, a volume the .sfv names but the folder lacks is
// named, and a .sfv for other files is no concern.
#include "support/childrun.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QFileInfo>
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

class TestSfv : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void checkedBeforeExtraction_data();
    void checkedBeforeExtraction();
};

void TestSfv::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("unar")).isEmpty())
        QSKIP("unar is not installed (scripts/install-deps installs it)");
}

void TestSfv::checkedBeforeExtraction_data()
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

void TestSfv::checkedBeforeExtraction()
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

QTEST_GUILESS_MAIN(TestSfv)
#include "tst_sfv.moc"
