// A release's .sfv checked and its .par2 files used before a set is unpacked, through wrar.exe:
// a good set passes, a damaged volume is named with both CRCs, a volume the .sfv names but the
// folder lacks is named, a .sfv for other files is no concern; with .par2 files (whatever
// their names) a damaged or missing volume is repaired and the set extracts whole, a set
// without a .sfv is checked by par2 first, and too much damage is told in blocks, naming the
// volumes. Hostile .par2 files: one that protects any other file of the folder is never used
// (that file stays as it was), damaged packets are passed over, and a folder that cannot be
// written is said to be that.
#include "support/childrun.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include "archive/par2set.h"
#include "helpers/common/par2repair.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

#include <sys/mount.h>
#include <unistd.h>
#include <zlib.h>

using namespace zelv;
using test::SetMember;

namespace {

QString crcText(const QByteArray &bytes)
{
    return QStringLiteral("%1").arg(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())), 8,
                                    16, QLatin1Char('0'));
}

bool havePar2() { return !QStandardPaths::findExecutable(QStringLiteral("par2")).isEmpty(); }

// par2 create in folder: name, then the files it protects. Blocks of 2 KB: in blocks as small
// as par2 makes for so little data, the volumes' headers would be alike, and par2 would take
// good volumes for damaged ones.
bool makePar2(const QString &folder, const QString &name, const QStringList &files, int redundancy)
{
    QProcess par2;
    par2.setWorkingDirectory(folder);
    par2.start(QStringLiteral("par2"),
               QStringList{QStringLiteral("create"), QStringLiteral("-q"), QStringLiteral("-s2048"),
                           QStringLiteral("-r%1").arg(redundancy), QStringLiteral("-n1"), QStringLiteral("--"), name} +
                   files);
    return par2.waitForFinished(60000) && par2.exitStatus() == QProcess::NormalExit && par2.exitCode() == 0;
}

// A PAR 2.0 packet; length, when given, is written in place of the true one.
QByteArray packet(const QByteArray &setId, const QByteArray &type, const QByteArray &body, qint64 length = -1)
{
    const QByteArray hashed = setId + type + body;
    QByteArray bytes("PAR2\0PKT", 8);
    bytes.resize(16);
    qToLittleEndian<quint64>(quint64(length >= 0 ? length : 64 + body.size()), bytes.data() + 8);
    return bytes + QCryptographicHash::hash(hashed, QCryptographicHash::Md5) + hashed;
}

const QByteArray kFileDesc("PAR 2.0\0FileDesc", 16);

// A File Description packet's body for a file named name (its bytes as they are).
QByteArray description(const QByteArray &name)
{
    QByteArray body(56, '\x11');
    body += name;
    while (body.size() % 4)
        body += '\0';
    return body;
}

// wrar.exe's words for c:\Zelv001\prog.rar into c:\Zelv002.
QStringList wrarArguments()
{
    return {QStringLiteral("x"), QStringLiteral("-o+"), QStringLiteral("-y"), QStringLiteral("c:\\Zelv001\\prog.rar"),
            QStringLiteral("c:\\Zelv002")};
}

// A three-volume RAR set in c:\Zelv001 of the world, with a .sfv when asked.
struct Release {
    test::TestWorld world;
    QString source;
    QStringList volumes;
    QByteArray data = test::patternBytes(70000, 6);

    bool make(bool withSfv)
    {
        world.linkDrive(u'z', world.root());
        world.installHelper(QStringLiteral("wrar.exe"));
        source = world.onDrive(u'c', QStringLiteral("Zelv001"));
        world.makeFolder(source);
        const auto written = test::writeRarSet(source, QStringLiteral("prog"), test::RarFormat::Rar4,
                                               test::VolumeNaming::Old, {SetMember::file("setup.exe", data)}, 30000);
        if (!written || written->size() != 3)
            return false;
        volumes = *written;
        if (withSfv) {
            QByteArray sfv;
            for (const QString &v : volumes)
                sfv += QFileInfo(v).fileName().toLatin1() + ' ' + crcText(test::readBytes(v)).toLatin1() + "\r\n";
            world.writeFile(source + QStringLiteral("/prog.sfv"), sfv);
        }
        return true;
    }
    QStringList volumeNames() const
    {
        QStringList names;
        for (const QString &v : volumes)
            names << QFileInfo(v).fileName();
        return names;
    }
    QString extracted() const { return world.onDrive(u'c', QStringLiteral("Zelv002/setup.exe")); }
};

} // namespace

class TestSetRepair : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void checkedBeforeExtraction_data();
    void checkedBeforeExtraction();
    void repairedWithPar2_data();
    void repairedWithPar2();
    void par2ReadAsHostile_data();
    void par2ReadAsHostile();
    void volumeNames_data();
    void volumeNames();
    void repairWindowNames_data();
    void repairWindowNames();
    void par2ProtectingOtherFilesUnused_data();
    void par2ProtectingOtherFilesUnused();
    void damagedPar2FilesPassedOver_data();
    void damagedPar2FilesPassedOver();
    void folderThatCannotBeWritten();
    void linkUnderAVolumeName_data();
    void linkUnderAVolumeName();
    void releaseNamedLikeAnOption();
    void plantedWhileRepairing_data();
    void plantedWhileRepairing();
    void manyWouldBeVolumes();
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
    QTest::addColumn<QString>("par2Name");
    QTest::addColumn<bool>("sfv");
    QTest::addColumn<QString>("refusal"); // a pattern of the message; empty: repaired and extracted
    const QString needed =
        QStringLiteral(R"(^wrar\.exe: prog\.rar cannot be repaired: \d+ more recovery blocks are needed for %1$)");
    // clang-format off
    QTest::newRow("a flipped byte the .sfv shows") << "flip" << 30 << "prog.par2" << true << "";
    QTest::newRow("a flipped byte, an older copy beside it") << "flip, older copy" << 30 << "prog.par2" << true << "";
    QTest::newRow("a missing volume") << "missing" << 50 << "prog.par2" << true << "";
    QTest::newRow("more damage than recovery data") << "two missing" << 5 << "prog.par2" << true
        << needed.arg(R"(prog\.r00 \(missing\), prog\.r01 \(missing\))");
    QTest::newRow(".par2 files named apart from the volumes") << "flip" << 30 << "release.par2" << true << "";
    QTest::newRow("no .sfv, a good set") << "" << 10 << "abc-xyz.par2" << false << "";
    QTest::newRow("no .sfv, a flipped byte") << "flip" << 30 << "release.par2" << false << "";
    QTest::newRow("no .sfv, a cut volume") << "cut" << 30 << "prog.par2" << false << "";
    QTest::newRow("no .sfv, too little recovery data") << "cut" << 5 << "release.par2" << false
        << needed.arg(R"(prog\.r00 \(damaged\))");
    QTest::newRow("a volume of noise") << "noise" << 5 << "prog.par2" << true
        << needed.arg(R"(prog\.r01 \(damaged\))");
    QTest::newRow("an empty volume") << "empty" << 5 << "prog.par2" << true
        << needed.arg(R"(prog\.r01 \(empty\))");
    // clang-format on
}

void TestSetRepair::repairedWithPar2()
{
    QFETCH(QString, damage);
    QFETCH(int, redundancy);
    QFETCH(QString, par2Name);
    QFETCH(bool, sfv);
    QFETCH(QString, refusal);
    if (!havePar2())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    Release r;
    QVERIFY(r.make(sfv));
    QVERIFY(makePar2(r.source, par2Name, r.volumeNames(), redundancy));
    const QByteArray original = test::readBytes(r.volumes[1]);
    if (damage.startsWith(u"flip"))
        QVERIFY(test::flipByte(r.volumes[1], 500));
    const bool olderCopy = damage.contains(u"older copy");
    if (olderCopy)
        r.world.writeFile(r.volumes[1] + QStringLiteral(".1"), "older");
    if (damage == u"cut")
        QVERIFY(QFile::resize(r.volumes[1], 20000));
    if (damage == u"noise")
        r.world.writeFile(r.volumes[2], test::patternBytes(int(QFileInfo(r.volumes[2]).size()), 99));
    if (damage == u"empty")
        QVERIFY(QFile::resize(r.volumes[2], 0));
    if (damage.contains(u"missing"))
        QVERIFY(QFile::remove(r.volumes[1]));
    if (damage == u"two missing")
        QVERIFY(QFile::remove(r.volumes[2]));

    const test::ChildRun run = test::runProgram(r.world.programFolder() + QStringLiteral("/wrar.exe"), wrarArguments());
    if (refusal.isEmpty()) {
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(test::readBytes(r.extracted()), r.data);
        QCOMPARE(test::readBytes(r.volumes[1]), original);
        // The damaged original this run set aside goes once the repaired set passes; a file
        // that stood under such a name before stays.
        QCOMPARE(test::entriesBelow(r.source).filter(QRegularExpression(QStringLiteral(R"(\.\d+$)"))),
                 olderCopy ? QStringList{"prog.r00.1"} : QStringList());
        if (olderCopy)
            QCOMPARE(test::readBytes(r.volumes[1] + QStringLiteral(".1")), QByteArray("older"));
    } else {
        QVERIFY2(QRegularExpression(refusal).match(run.err).hasMatch(), qPrintable(run.err));
        QCOMPARE(run.exitCode, 1);
        QVERIFY(!QFileInfo::exists(r.world.onDrive(u'c', QStringLiteral("Zelv002"))));
    }
}

void TestSetRepair::par2ReadAsHostile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names"); // "" for a description whose name cannot be a file's
    QTest::addColumn<bool>("whole");
    const QByteArray set(16, 'S');
    const QByteArray good = packet(set, kFileDesc, description("prog.r00"));
    const QByteArray other = packet(set, kFileDesc, description("prog.r01"));
    QByteArray badMd5 = good;
    badMd5[100] = 'X';
    QByteArray unicodeName;
    for (const char c : QByteArray("notes.txt"))
        unicodeName += QByteArray(1, c) + '\0';
    unicodeName += QByteArray(2, '\0');
    // Headers every 64 bytes, each claiming the rest of the file: checking them all would take
    // far longer than reading the file.
    QByteArray flood;
    for (int i = 0; i < 40000; ++i)
        flood += packet(set, kFileDesc, QByteArray(), 64 * (40000 - i));

    // clang-format off
    QTest::newRow("two descriptions after other bytes")
        << QByteArray(1000, 'x') + good + packet(set, QByteArray("PAR 2.0\0Main\0\0\0\0", 16), QByteArray(12, '\0')) + other
        << QStringList{"prog.r00", "prog.r01"} << true;
    QTest::newRow("a length past the end") << packet(set, kFileDesc, description("prog.r00"), good.size() + 4)
        << QStringList() << true;
    QTest::newRow("a length of 2^62") << packet(set, kFileDesc, description("prog.r00"), qint64(1) << 62) + other
        << QStringList{"prog.r01"} << true;
    QTest::newRow("a length shorter than a description") << packet(set, kFileDesc, QByteArray(40, 'a'))
        << QStringList() << true;
    QTest::newRow("a bad MD5") << badMd5 << QStringList() << true;
    QTest::newRow("cut short") << good.left(good.size() - 5) << QStringList() << true;
    QTest::newRow("a description inside a packet whose length lies")
        << packet(set, kFileDesc, description("prog.r00"), good.size() + other.size()) + other
        << QStringList{"prog.r01"} << true;
    QTest::newRow("bytes after the name's end") << packet(set, kFileDesc, description(QByteArray("prog.r00\0notes.txt", 18)))
        << QStringList{""} << true;
    QTest::newRow("a name that is not UTF-8") << packet(set, kFileDesc, description("prog.\xff\xfe"))
        << QStringList{""} << true;
    QTest::newRow("a name too long for a file") << packet(set, kFileDesc, description(QByteArray(5000, 'a')))
        << QStringList{""} << true;
    QTest::newRow("a Unicode name") << packet(set, QByteArray("PAR 2.0\0UniFileN", 16), QByteArray(16, 'i') + unicodeName)
        << QStringList{"notes.txt"} << true;
    QTest::newRow("headers on headers") << flood << QStringList() << false;
    // clang-format on
}

// Every description a repair tool could take from the file is found, and nothing else; no
// input makes the reading fail, crash or run on.
void TestSetRepair::par2ReadAsHostile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QFETCH(bool, whole);
    test::TestWorld world;
    const QString path = world.writeFile(world.root() + QStringLiteral("/x.par2"), bytes);
    const auto read = readPar2Descriptions(path);
    QVERIFY(read);
    QStringList found;
    for (const Par2Description &d : read->files) {
        QCOMPARE(d.setId, QByteArray(16, 'S'));
        found << d.name;
    }
    if (whole)
        QCOMPARE(found, names);
    QCOMPARE(read->whole, whole);
}

void TestSetRepair::volumeNames_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("volume");
    // clang-format off
    QTest::newRow("rar, a later volume") << "rar" << "abc-xyz.rar" << "abc-xyz.r17" << true;
    QTest::newRow("rar, past r99") << "rar" << "abc-xyz.r03" << "ABC-XYZ.S01" << true;
    QTest::newRow("rar, numbered") << "rar" << "abc.001" << "abc.002" << true;
    QTest::newRow("rar, new names") << "rar" << "a.b.part01.rar" << "a.b.part11.rar" << true;
    QTest::newRow("rar, another set") << "rar" << "abc.rar" << "abcd.r00" << false;
    QTest::newRow("rar, a kept original") << "rar" << "abc.rar" << "abc.r00.1" << false;
    QTest::newRow("rar, notes") << "rar" << "abc.rar" << "notes.txt" << false;
    QTest::newRow("rar, a path") << "rar" << "abc.rar" << "../abc.rar" << false;
    QTest::newRow("rar, its .sfv") << "rar" << "abc.rar" << "abc.sfv" << false;
    QTest::newRow("arj") << "arj" << "abc.arj" << "abc.a01" << true;
    QTest::newRow("arj, not a volume") << "arj" << "abc.arj" << "abc.exe" << false;
    QTest::newRow("ace") << "ace" << "abc.c02" << "abc.ace" << true;
    QTest::newRow("ace, a rar name") << "ace" << "abc.ace" << "abc.r00" << false;
    // clang-format on
}

void TestSetRepair::volumeNames()
{
    QFETCH(QString, kind);
    QFETCH(QString, given);
    QFETCH(QString, name);
    QFETCH(bool, volume);
    QCOMPARE(isVolumeName(*archiveKindFromKey(kind), given, name), volume);
}

void TestSetRepair::repairWindowNames_data()
{
    QTest::addColumn<QByteArray>("output"); // what par2 wrote so far
    QTest::addColumn<QString>("name");
    const QByteArray scanning("Scanning: 31.8%Target: \"netmon4.part1.rar\" - found.\n");
    // clang-format off
    QTest::newRow("nothing named yet") << scanning << "netmon4.part6.rar";
    QTest::newRow("a damaged volume, not the one given") << scanning + "Scanning: 51.5%Target: \"netmon4.part3.rar\" - damaged. Found 14 of 15 data blocks.\n" << "netmon4.part3.rar";
    QTest::newRow("a missing volume") << QByteArray("Target: \"netmon4.part4.rar\" - missing.\n") << "netmon4.part4.rar";
    QTest::newRow("two, in par2's order") << QByteArray("Target: \"netmon4.part5.rar\" - damaged.\nTarget: \"netmon4.part2.rar\" - missing.\nTarget: \"netmon4.part5.rar\" - damaged.\n") << "netmon4.part5.rar, netmon4.part2.rar";
    QTest::newRow("a file that is no volume") << QByteArray("Target: \"notes.txt\" - damaged.\n") << "netmon4.part6.rar";
    // clang-format on
}

void TestSetRepair::repairWindowNames()
{
    QFETCH(QByteArray, output);
    QFETCH(QString, name);
    QStringList volumes;
    for (int i = 1; i <= 6; ++i)
        volumes << QStringLiteral("netmon4.part%1.rar").arg(i);
    QCOMPARE(
        repairWindowName(reportedVolumes(QString::fromLatin1(output), volumes), QStringLiteral("netmon4.part6.rar")),
        name);
}

void TestSetRepair::par2ProtectingOtherFilesUnused_data()
{
    QTest::addColumn<QString>("protects");
    QTest::addColumn<bool>("sfv");
    QTest::addColumn<QString>("message"); // empty: the set extracts whole
    const QString badVolume = QStringLiteral("wrar.exe: Bad volume c:\\Zelv001\\prog.r00 (CRC ");
    // clang-format off
    QTest::newRow("a text file of the folder") << "notes" << true << badVolume;
    QTest::newRow("the volumes and a text file") << "volumes and notes" << true << badVolume;
    QTest::newRow("the volumes and a file the folder lacks") << "volumes and readme" << true << badVolume;
    QTest::newRow("a text file, no .sfv") << "notes" << false << "";
    QTest::newRow("a good .par2 file and one that protects a text file too") << "one of two" << true << "";
    // clang-format on
}

// A .par2 file that names any file but the set's volumes is never handed to par2: the file it
// names is left byte for byte as it was, and nothing else is written into the folder.
void TestSetRepair::par2ProtectingOtherFilesUnused()
{
    QFETCH(QString, protects);
    QFETCH(bool, sfv);
    QFETCH(QString, message);
    if (!havePar2())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    Release r;
    QVERIFY(r.make(sfv));
    const QString notes = r.world.writeFile(r.source + QStringLiteral("/notes.txt"), test::patternBytes(3000, 9));
    const QString readme = r.world.writeFile(r.source + QStringLiteral("/readme.txt"), "read me");
    QStringList files = r.volumeNames();
    if (protects == u"notes")
        files = QStringList{QStringLiteral("notes.txt")};
    if (protects.endsWith(u"notes"))
        files << QStringLiteral("notes.txt");
    if (protects.endsWith(u"readme"))
        files << QStringLiteral("readme.txt");
    QVERIFY(makePar2(r.source, QStringLiteral("prog.par2"), files, 40));
    if (protects == u"one of two") {
        // A valid description of notes.txt, in the recovery set of the others, added to the
        // index file: that file is not used, the recovery file alone repairs the set.
        const QString index = r.source + QStringLiteral("/prog.par2");
        const QByteArray bytes = test::readBytes(index);
        const QByteArray setId = bytes.mid(32, 16);
        r.world.writeFile(index, bytes + packet(setId, kFileDesc, description("notes.txt")));
    }
    QVERIFY(QFile::remove(readme));
    QVERIFY(test::flipByte(notes, 10));
    if (sfv)
        QVERIFY(test::flipByte(r.volumes[1], 500));
    const QByteArray damagedNotes = test::readBytes(notes);
    QStringList before = test::entriesBelow(r.source);

    const test::ChildRun run = test::runProgram(r.world.programFolder() + QStringLiteral("/wrar.exe"), wrarArguments());
    QCOMPARE(test::readBytes(notes), damagedNotes);
    if (message.isEmpty()) {
        QCOMPARE(run.err, QString());
        QCOMPARE(test::readBytes(r.extracted()), r.data);
    } else {
        QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
        QCOMPARE(run.exitCode, 1);
    }
    before.sort();
    QCOMPARE(test::entriesBelow(r.source).join(u' '), before.join(u' '));
}

void TestSetRepair::damagedPar2FilesPassedOver_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("a packet length that lies") << "length";
    QTest::newRow("a bad MD5") << "md5";
    QTest::newRow("cut short") << "cut";
    QTest::newRow("nothing but junk") << "junk";
}

// A damaged .par2 file beside good ones neither stops the repair nor makes it fail.
void TestSetRepair::damagedPar2FilesPassedOver()
{
    QFETCH(QString, damage);
    if (!havePar2())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    Release r;
    QVERIFY(r.make(false));
    QVERIFY(makePar2(r.source, QStringLiteral("prog.par2"), r.volumeNames(), 40));
    QByteArray bad = test::readBytes(r.source + QStringLiteral("/prog.par2"));
    if (damage == u"length")
        qToLittleEndian<quint64>(quint64(1) << 62, bad.data() + 8);
    if (damage == u"md5")
        bad[bad.size() / 2] = char(bad[bad.size() / 2] ^ 0x55);
    if (damage == u"cut")
        bad.truncate(bad.size() / 2 + 3);
    if (damage == u"junk")
        bad = QByteArray("PAR2\0PKT", 8).repeated(5000);
    r.world.writeFile(r.source + QStringLiteral("/prog.bad.par2"), bad);
    QVERIFY(test::flipByte(r.volumes[2], 100));

    const test::ChildRun run = test::runProgram(r.world.programFolder() + QStringLiteral("/wrar.exe"), wrarArguments());
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(test::readBytes(r.extracted()), r.data);
}

// A damaged volume in a folder that is read only: said so, with the system's reason, and
// nothing extracted.
void TestSetRepair::folderThatCannotBeWritten()
{
    if (!havePar2())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    Release r;
    QVERIFY(r.make(false));
    QVERIFY(makePar2(r.source, QStringLiteral("release.par2"), r.volumeNames(), 30));
    QVERIFY(test::flipByte(r.volumes[1], 500));
    const QStringList before = test::entriesBelow(r.source);
    const QByteArray folder = QFile::encodeName(r.source);
    const test::ChildRun run =
        test::runInChild(r.world.programFolder() + QStringLiteral("/wrar.exe"), wrarArguments(), [&] {
            // The folder read only in a mount namespace of the child's own.
            if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0 ||
                mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                _exit(77);
        });
    if (run.exitCode == 77)
        QSKIP("cannot mount a folder read only here (needs root and mount namespaces)");
    QCOMPARE(run.err.trimmed(), QStringLiteral("wrar.exe: c:\\Zelv001 cannot be written to repair prog.r00 (damaged): "
                                               "Read-only file system"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(test::entriesBelow(r.source), before);
    QVERIFY(!QFileInfo::exists(r.world.onDrive(u'c', QStringLiteral("Zelv002"))));
}

void TestSetRepair::linkUnderAVolumeName_data()
{
    QTest::addColumn<bool>("dangling");
    QTest::newRow("a link to nowhere for a missing volume") << true;
    QTest::newRow("a link to a file elsewhere for a damaged volume") << false;
}

// par2 would make a missing volume through a link standing in its place: the set is not
// repaired then, and the place the link names stays as it was.
void TestSetRepair::linkUnderAVolumeName()
{
    QFETCH(bool, dangling);
    if (!havePar2())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    Release r;
    QVERIFY(r.make(false));
    QVERIFY(makePar2(r.source, QStringLiteral("prog.par2"), r.volumeNames(), 50));
    const QString outside = r.world.root() + QStringLiteral("/outside.dat");
    if (!dangling) {
        QVERIFY(QFile::rename(r.volumes[2], outside));
        QVERIFY(test::flipByte(outside, 100));
    } else {
        QVERIFY(QFile::remove(r.volumes[2]));
    }
    const QByteArray before = test::readBytes(outside);
    QVERIFY(QFile::link(outside, r.volumes[2]));

    const test::ChildRun run = test::runProgram(r.world.programFolder() + QStringLiteral("/wrar.exe"), wrarArguments());
    QCOMPARE(run.err, QStringLiteral("wrar.exe: prog.rar is not repaired: c:\\Zelv001\\prog.r01 is a link"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(QFileInfo::exists(outside), !dangling);
    QCOMPARE(test::readBytes(outside), before);
    QVERIFY(QFileInfo(r.volumes[2]).isSymLink());
    QVERIFY(!QFileInfo::exists(r.world.onDrive(u'c', QStringLiteral("Zelv002"))));
}

// A release whose name starts with '-' is repaired as any other: no tool takes it for an option.
void TestSetRepair::releaseNamedLikeAnOption()
{
    if (!havePar2())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    test::TestWorld world;
    world.linkDrive(u'z', world.root());
    world.installHelper(QStringLiteral("wrar.exe"));
    const QString source = world.onDrive(u'c', QStringLiteral("Zelv001"));
    const QByteArray data = test::patternBytes(70000, 6);
    const auto volumes = test::writeRarSet(source, QStringLiteral("-v"), test::RarFormat::Rar4, test::VolumeNaming::Old,
                                           {SetMember::file("setup.exe", data)}, 30000);
    QVERIFY(volumes && volumes->size() == 3);
    QVERIFY(makePar2(source, QStringLiteral("-v.par2"), {"-v.rar", "-v.r00", "-v.r01"}, 30));
    QVERIFY(test::flipByte(volumes->at(1), 500));
    const test::ChildRun run = test::runProgram(world.programFolder() + QStringLiteral("/wrar.exe"),
                                                {QStringLiteral("x"), QStringLiteral("-y"),
                                                 QStringLiteral("c:\\Zelv001\\-v.rar"), QStringLiteral("c:\\Zelv002")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(test::readBytes(world.onDrive(u'c', QStringLiteral("Zelv002/setup.exe"))), data);
}

void TestSetRepair::plantedWhileRepairing_data()
{
    QTest::addColumn<QString>("volume");  // what becomes of prog.r01 before par2 starts
    QTest::addColumn<QString>("planted"); // what is put under its name as par2 starts
    QTest::addColumn<QString>("message");
    const QString link = QStringLiteral("wrar.exe: prog.rar is not repaired: c:\\Zelv001\\prog.r01 is a link");
    const QString taken =
        QStringLiteral("wrar.exe: prog.rar is not repaired: something else now stands at c:\\Zelv001\\prog.r01");
    QTest::newRow("a link to nowhere for a missing volume") << "missing"
                                                            << "link" << link;
    QTest::newRow("a file for a missing volume") << "missing"
                                                 << "file" << taken;
    QTest::newRow("a link in place of a damaged volume") << "flip"
                                                         << "link" << link;
}

// What is put under a volume's name once the names were looked at, while par2 runs, is neither
// written through nor replaced: par2 writes into a folder of the helper's own, and the repaired
// volume is refused its place, naming it.
void TestSetRepair::plantedWhileRepairing()
{
    QFETCH(QString, volume);
    QFETCH(QString, planted);
    QFETCH(QString, message);
    const QString realPar2 = QStandardPaths::findExecutable(QStringLiteral("par2"));
    if (realPar2.isEmpty())
        QSKIP("par2 is not installed (scripts/install-deps installs it)");
    Release r;
    QVERIFY(r.make(false));
    QVERIFY(makePar2(r.source, QStringLiteral("prog.par2"), r.volumeNames(), 50));
    if (volume == u"missing")
        QVERIFY(QFile::remove(r.volumes[2]));
    else
        QVERIFY(test::flipByte(r.volumes[2], 100));
    const QString outside = r.world.root() + QStringLiteral("/outside.dat");
    const QString kept = r.world.root() + QStringLiteral("/kept.r01");
    // par2 as found on PATH: the name is taken, then the real par2 runs.
    const QString quotedVolume = u'\'' + r.volumes[2] + u'\'';
    QString plant = volume == u"missing" ? QString() : QStringLiteral("mv %1 '%2'\n").arg(quotedVolume, kept);
    plant += planted == u"link" ? QStringLiteral("ln -s '%1' %2\n").arg(outside, quotedVolume)
                                : QStringLiteral("echo planted > %1\n").arg(quotedVolume);
    const QString wrapper = r.world.makeFolder(r.world.root() + QStringLiteral("/wrapper"));
    r.world.writeFile(wrapper + QStringLiteral("/par2"),
                      QStringLiteral("#!/bin/sh\n%1exec '%2' \"$@\"\n").arg(plant, realPar2).toUtf8());
    QVERIFY(QFile::setPermissions(wrapper + QStringLiteral("/par2"), QFile::ReadOwner | QFile::ExeOwner));
    QStringList expected = test::entriesBelow(r.source);
    if (volume == u"missing")
        expected << QFileInfo(r.volumes[2]).fileName();
    expected.sort();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(wrapper) + ':' + path);
    const test::ChildRun run = test::runProgram(r.world.programFolder() + QStringLiteral("/wrar.exe"), wrarArguments());
    qputenv("PATH", path);

    QCOMPARE(run.err, message);
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFileInfo::exists(outside));
    if (planted == u"link")
        QVERIFY(QFileInfo(r.volumes[2]).isSymLink());
    else
        QCOMPARE(test::readBytes(r.volumes[2]), QByteArray("planted\n"));
    QCOMPARE(test::entriesBelow(r.source), expected);
    QVERIFY(!QFileInfo::exists(r.world.onDrive(u'c', QStringLiteral("Zelv002"))));
}

// A .par2 file naming a great many would-be volumes costs time in proportion to their number:
// were each name compared with those gathered before it, the 600,000 here (80 MB) would keep
// the check busy far longer than the test may run. The same names again from a second file
// count once.
void TestSetRepair::manyWouldBeVolumes()
{
    test::TestWorld world;
    const QString folder = world.root() + QStringLiteral("/many");
    world.makeFolder(folder);
    const int count = 600000;
    const QByteArray set(16, 'M');
    const auto nameOf = [](int i) {
        return QByteArray("p.part") + QByteArray::number(i).rightJustified(6, '0') + ".rar";
    };
    QByteArray index;
    index.reserve(qsizetype(count) * 140);
    for (int i = 0; i < count; ++i)
        index += packet(set, kFileDesc, description(nameOf(i)));
    world.writeFile(folder + QStringLiteral("/p.par2"), index);
    QByteArray again;
    for (int i = count - 1; i >= count / 2; --i)
        again += packet(set, kFileDesc, description(nameOf(i)));
    world.writeFile(folder + QStringLiteral("/p.vol0+1.par2"), again);

    const RepairScope scope{
        folder, QStringLiteral("c:\\many"), QStringLiteral("p.part000000.rar"),
        [](const QString &name) { return isVolumeName(ArchiveKind::Rar, QStringLiteral("p.part000000.rar"), name); }};
    const auto choice = choosePar2Files(scope);
    QVERIFY(choice);
    QCOMPARE(choice->par2Files,
             QStringList({folder + QStringLiteral("/p.vol0+1.par2"), folder + QStringLiteral("/p.par2")}));
    QCOMPARE(choice->protectedNames.size(), count);
    QCOMPARE(choice->protectedNames.first(), QStringLiteral("p.part000000.rar"));
    QCOMPARE(choice->protectedNames.last(), QString::fromLatin1(nameOf(count - 1)));
}

QTEST_GUILESS_MAIN(TestSetRepair)
#include "tst_setrepair.moc"
