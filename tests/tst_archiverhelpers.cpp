// What every archiver helper promises, whatever its format: wrar.exe, warj.pif and wace.pif run
// through the same cases on sets of the same members. A whole set comes out from any of its
// volumes; a missing volume, damaged data, a name that would leave the destination, an encrypted
// member, a link in the destination, a drive too small and a stop asked by a signal each end the
// run with its one line, the destination left as it was and no staging folder behind.
#include "archive/archiveset.h"
#include "archive/rar/rararchiveset.h"
#include "helpers/common/delivery.h"
#include "support/childrun.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

using namespace zelv;
using Written = test::SetMember; // a member as the tests write it

namespace {

using Run = test::ChildRun;

const QList<Written> kMembers{Written::file("setup.exe", test::patternBytes(70000, 3)),
                              Written::file("readme.txt", "hello"), Written::folder("data"),
                              Written::file("data/game.dat", test::patternBytes(20000, 9))};
constexpr qint64 kVolumeSize = 25000; // four volumes of every format

// Changes the ARJ header of the member named name in volume and makes its CRC right again, as
// a hostile packer would.
bool patchArjHeader(const QString &volume, const QByteArray &name, const std::function<void(char *header)> &change)
{
    QFile f(volume);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray b = f.readAll();
    const qsizetype at = b.indexOf(name + '\0');
    if (at < 0)
        return false;
    const qsizetype header = b.lastIndexOf(QByteArray("\x60\xea", 2), at);
    const int size = uchar(b[header + 2]) | uchar(b[header + 3]) << 8;
    change(b.data() + header + 4);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData() + header + 4), uInt(size)));
    for (int i = 0; i < 4; ++i)
        b[header + 4 + size + i] = char(crc >> (8 * i));
    return f.seek(0) && f.write(b) == b.size();
}

// ARJ volumes made by arj itself, stored. A raw name goes in under a stand-in of its length and
// is written over in the header afterwards; an encrypted member is marked garbled.
std::optional<QStringList> writeArjSet(const QString &folder, const QList<Written> &members, qint64 volumeSize)
{
    QTemporaryDir in;
    QStringList names;
    for (const Written &m : members) {
        const QByteArray name = m.raw ? QByteArray(m.name.size(), 'z') : m.name;
        if (m.directory)
            continue;
        QDir().mkpath(QFileInfo(in.filePath(QString::fromLatin1(name))).absolutePath());
        QFile f(in.filePath(QString::fromLatin1(name)));
        if (!f.open(QIODevice::WriteOnly) || f.write(m.data) != m.data.size())
            return std::nullopt;
        names << QString::fromLatin1(name);
    }
    QDir().mkpath(folder);
    QProcess arj;
    arj.setWorkingDirectory(in.path());
    arj.setStandardInputFile(QProcess::nullDevice());
    QStringList args{QStringLiteral("a"), QStringLiteral("-v%1k").arg(volumeSize / 1000), QStringLiteral("-y"),
                     QStringLiteral("-m0"), folder + QStringLiteral("/prog.arj")};
    arj.start(QStringLiteral("arj"), args + names);
    if (!arj.waitForFinished(120000))
        return std::nullopt;
    QStringList volumes{folder + QStringLiteral("/prog.arj")};
    for (int i = 1; QFileInfo::exists(folder + QStringLiteral("/prog.a%1").arg(i, 2, 10, QLatin1Char('0'))); ++i)
        volumes << folder + QStringLiteral("/prog.a%1").arg(i, 2, 10, QLatin1Char('0'));
    for (const Written &m : members) {
        const QByteArray stand = m.raw ? QByteArray(m.name.size(), 'z') : m.name;
        for (const QString &v : volumes)
            patchArjHeader(v, stand, [&](char *h) {
                if (m.encrypted)
                    h[4] = char(h[4] | 0x01);
                if (m.raw)
                    memcpy(h + uchar(h[0]), m.name.constData(), size_t(m.name.size()));
            });
    }
    return volumes;
}

struct Format {
    ArchiveKind kind;
    QString helper;
    QStringList switches;
    std::function<std::optional<QStringList>(const QString &folder, const QList<Written> &, qint64 volumeSize)> write;
    QString tool; // what the helper needs on PATH, if anything
};

const QHash<QString, Format> &formats()
{
    static const QHash<QString, Format> all{
        {QStringLiteral("RAR"),
         {ArchiveKind::Rar,
          QStringLiteral("wrar.exe"),
          {QStringLiteral("x"), QStringLiteral("-o+"), QStringLiteral("-y")},
          [](const QString &folder, const QList<Written> &members, qint64 volumeSize) {
              return test::writeRarSet(folder, QStringLiteral("prog"), test::RarFormat::Rar4, test::VolumeNaming::Old,
                                       members, volumeSize);
          },
          QStringLiteral("unar")}},
        {QStringLiteral("ARJ"),
         {ArchiveKind::Arj,
          QStringLiteral("warj.pif"),
          {QStringLiteral("x"), QStringLiteral("-y")},
          writeArjSet,
          QStringLiteral("arj")}},
        {QStringLiteral("ACE"),
         {ArchiveKind::Ace,
          QStringLiteral("wace.pif"),
          {QStringLiteral("x"), QStringLiteral("-y")},
          [](const QString &folder, const QList<Written> &members, qint64 volumeSize) {
              return test::writeAceSet(folder, QStringLiteral("prog"), members, volumeSize);
          },
          QString()}},
    };
    return all;
}

class Fixture {
public:
    explicit Fixture(const QString &format) : m_format(formats().value(format))
    {
        m_world.installHelper(m_format.helper);
        m_world.makeFolder(source());
    }
    test::TestWorld &world() { return m_world; }
    const Format &format() const { return m_format; }
    QString source() const { return m_world.onDrive(u'c', QStringLiteral("Zelv001")); }
    QString destination() const { return m_world.onDrive(u'c', QStringLiteral("Zelv002")); }
    QString program() const { return m_world.programFolder() + u'/' + m_format.helper; }

    // The volumes' names, first first.
    QStringList write(const QList<Written> &members = kMembers, qint64 volumeSize = kVolumeSize)
    {
        QStringList names;
        for (const QString &v : m_format.write(source(), members, volumeSize).value_or(QStringList()))
            names << QFileInfo(v).fileName();
        return names;
    }

    QStringList arguments(const QString &volume, const QString &destinationDos = QStringLiteral("c:\\Zelv002")) const
    {
        return m_format.switches + QStringList{QStringLiteral("c:\\Zelv001\\") + volume, destinationDos};
    }
    Run run(const QString &volume) { return test::runProgram(program(), arguments(volume)); }

    // The line a failed run writes.
    QString said(const QString &message) const { return m_format.helper + QStringLiteral(": ") + message; }

    void checkWhole(const QString &folder)
    {
        QCOMPARE(test::entriesBelow(folder), QStringList({"data", "data/game.dat", "readme.txt", "setup.exe"}));
        QCOMPARE(test::readBytes(folder + QStringLiteral("/setup.exe")), test::patternBytes(70000, 3));
        QCOMPARE(test::readBytes(folder + QStringLiteral("/data/game.dat")), test::patternBytes(20000, 9));
    }

    // The destination holds what it held before the run, and no staging folder.
    void keepSomething() { m_world.writeFile(destination() + QStringLiteral("/kept.txt"), "as it was"); }
    void checkAsItWas() { QCOMPARE(test::entriesBelow(destination()), QStringList{"kept.txt"}); }

private:
    Format m_format;
    test::TestWorld m_world;
};

void addFormatRows()
{
    QTest::addColumn<QString>("format");
    for (const char *format : {"RAR", "ARJ", "ACE"})
        QTest::newRow(format) << QString::fromLatin1(format);
}

} // namespace

Q_DECLARE_METATYPE(QList<Written>)

class TestArchiverHelpers : public QObject {
    Q_OBJECT
private slots:
    void init();
    void theSetThroughItsInterface_data() { addFormatRows(); }
    void theSetThroughItsInterface();
    void wholeSet_data();
    void wholeSet();
    void missingVolume_data();
    void missingVolume();
    void damagedData_data();
    void damagedData();
    void refusedMembers_data();
    void refusedMembers();
    void linkMembers_data();
    void linkMembers();
    void checkOfManyMembers_data();
    void checkOfManyMembers();
    void linkInTheDestinationIsNotFollowed_data() { addFormatRows(); }
    void linkInTheDestinationIsNotFollowed();
    void failedDeliveryLeavesDestinationAsItWas_data() { addFormatRows(); }
    void failedDeliveryLeavesDestinationAsItWas();
    void destinationThatIsALink_data() { addFormatRows(); }
    void destinationThatIsALink();
    void destinationDriveTooSmall_data();
    void destinationDriveTooSmall();
    void lowOpenFileLimit_data();
    void lowOpenFileLimit();
    void stopAskedBySignal_data();
    void stopAskedBySignal();
    void toolWritesIntoTheFolderHeldOpen_data();
    void toolWritesIntoTheFolderHeldOpen();
    void killedRunIsCleanedUpByTheNext_data() { addFormatRows(); }
    void windowsNamesHoldingSlashes_data();
    void windowsNamesHoldingSlashes();
    void standardFilesClosed_data() { addFormatRows(); }
    void standardFilesClosed();
    void fifosBesideTheSet_data() { addFormatRows(); }
    void fifosBesideTheSet();
    void killedRunIsCleanedUpByTheNext();
};

void TestArchiverHelpers::init()
{
    const QString format = QString::fromLatin1(QTest::currentDataTag());
    const QString tool = formats().value(format.section(u',', 0, 0)).tool;
    if (!tool.isEmpty() && QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed (scripts/install-deps installs it)")));
}

// What a format tells of a set, read from a later volume: every volume in order, the members
// with the volumes their parts lie in, and one member extracted alone.
void TestArchiverHelpers::theSetThroughItsInterface()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes = f.write();
    QCOMPARE(volumes.size(), 4);
    const auto set = openArchiveSet(f.format().kind, f.source() + u'/' + volumes[2]);
    QVERIFY(set);
    QCOMPARE(set->missingVolume(), QString());
    QVERIFY(!set->damage());
    QVERIFY(set->readMembers());
    QStringList names;
    for (const QString &v : set->volumes())
        names << QFileInfo(v).fileName();
    QCOMPARE(names, volumes);

    QHash<QString, int> at; // members by name, "/" between the parts
    for (int i = 0; i < set->members().size(); ++i)
        at.insert(QString(set->members()[i].name).replace(u'\\', u'/'), i);
    QVERIFY(at.contains(QStringLiteral("setup.exe")) && at.contains(QStringLiteral("data/game.dat")));
    const SetMember &setup = set->members()[at.value(QStringLiteral("setup.exe"))];
    QCOMPARE(setup.size, 70000);
    QCOMPARE(setup.crc,
             quint32(crc32(0, reinterpret_cast<const Bytef *>(test::patternBytes(70000, 3).constData()), 70000)));
    QList<int> partVolumes;
    for (const MemberPart &p : setup.parts)
        partVolumes << p.volume;
    QCOMPARE(partVolumes, QList<int>({0, 1, 2})); // 70,000 bytes in volumes of 25,000
    QCOMPARE(set->damagedVolume(setup.name), QString());

    const int game = at.value(QStringLiteral("data/game.dat"));
    StagingFolder staging(f.destination());
    QVERIFY(staging.isValid());
    const auto extracted = set->extract({staging, {}, QStringLiteral("c:\\Zelv001\\") + volumes[0], {game}});
    QVERIFY2(extracted, qPrintable(extracted ? QString() : extracted.error().text()));
    QVERIFY(staging.verify({set->members()[game]}));
    QCOMPARE(test::entriesBelow(staging.path()), QStringList({"data", "data/game.dat"}));
    QCOMPARE(test::readBytes(staging.path() + QStringLiteral("/data/game.dat")), test::patternBytes(20000, 9));
}

void TestArchiverHelpers::wholeSet_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("given"); // which volume the install names
    QTest::addColumn<bool>("blanks");
    for (const char *format : {"RAR", "ARJ", "ACE"}) {
        QTest::addRow("%s, the first volume", format) << QString::fromLatin1(format) << 0 << false;
        QTest::addRow("%s, a later volume", format) << QString::fromLatin1(format) << 2 << false;
        QTest::addRow("%s, paths with blanks", format) << QString::fromLatin1(format) << 0 << true;
    }
}

void TestArchiverHelpers::wholeSet()
{
    QFETCH(QString, format);
    QFETCH(int, given);
    QFETCH(bool, blanks);
    Fixture f(format);
    const QStringList volumes = f.write();
    QCOMPARE(volumes.size(), 4);
    QString from = QStringLiteral("c:\\Zelv001\\");
    QString to = QStringLiteral("c:\\Zelv002");
    QString out = f.destination();
    if (blanks) {
        QVERIFY(QDir().rename(f.source(), f.world().onDrive(u'c', QStringLiteral("My Downloads"))));
        from = QStringLiteral("c:\\My Downloads\\");
        to = QStringLiteral("c:\\Zelv 002");
        out = f.world().onDrive(u'c', QStringLiteral("Zelv 002"));
    }
    const Run run = test::runProgram(f.program(), f.format().switches + QStringList{from + volumes[given], to});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole(out);
}

void TestArchiverHelpers::missingVolume_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("gone");
    for (const char *format : {"RAR", "ARJ", "ACE"}) {
        QTest::addRow("%s, the middle", format) << QString::fromLatin1(format) << 1;
        QTest::addRow("%s, the last", format) << QString::fromLatin1(format) << 3;
    }
}

void TestArchiverHelpers::missingVolume()
{
    QFETCH(QString, format);
    QFETCH(int, gone);
    Fixture f(format);
    const QStringList volumes = f.write();
    QCOMPARE(volumes.size(), 4);
    QVERIFY(QFile::remove(f.source() + u'/' + volumes[gone]));
    const Run run = f.run(volumes[0]);
    QCOMPARE(run.err, f.said(QStringLiteral("Missing volume c:\\Zelv001\\") + volumes[gone]));
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFileInfo::exists(f.destination()));
}

void TestArchiverHelpers::damagedData_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("volume");
    QTest::addColumn<QString>("message");
    // A byte of setup.exe, which spans the first three volumes. Where the data is stored, the
    // CRCs of its pieces or of the whole file name the volume.
    // clang-format off
    QTest::newRow("RAR, a middle piece") << "RAR" << 1 << "CRC error in setup.exe (prog.r00)";
    QTest::newRow("RAR, the last piece") << "RAR" << 2 << "CRC error in setup.exe (prog.r01)";
    QTest::newRow("ARJ, a middle piece") << "ARJ" << 1 << "CRC error in setup.exe (prog.a01)";
    QTest::newRow("ARJ, the last piece") << "ARJ" << 2 << "CRC error in setup.exe (prog.a02)";
    QTest::newRow("ACE, a middle piece") << "ACE" << 1 << "CRC error in setup.exe";
    // clang-format on
}

void TestArchiverHelpers::damagedData()
{
    QFETCH(QString, format);
    QFETCH(int, volume);
    QFETCH(QString, message);
    Fixture f(format);
    const QStringList volumes = f.write();
    QCOMPARE(volumes.size(), 4);
    QVERIFY(test::flipByte(f.source() + u'/' + volumes[volume], 5000));
    f.keepSomething();
    const Run run = f.run(volumes[0]);
    QCOMPARE(run.err, f.said(message));
    QCOMPARE(run.exitCode, 1);
    f.checkAsItWas();
}

void TestArchiverHelpers::refusedMembers_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<QString>("message");
    const QHash<QString, QString> first{{"RAR", "prog.rar"}, {"ARJ", "prog.arj"}, {"ACE", "prog.ace"}};
    for (const char *format : {"RAR", "ARJ", "ACE"}) {
        const QString f = QString::fromLatin1(format);
        const QString in = QStringLiteral(" in ") + first.value(f);
        for (const QByteArray &name : {QByteArray("..\\x.txt"), QByteArray("a/../../x.txt"), QByteArray("/abs/x.txt"),
                                       QByteArray("C:\\x.txt")}) {
            // lsar gives RAR names with "/" between their parts.
            const QString shown =
                f == u"RAR" ? QString::fromLatin1(name).replace(u'\\', u'/') : QString::fromLatin1(name);
            QTest::addRow("%s, %s", format, name.constData())
                << f << name << false << QStringLiteral("Unsafe name ") + shown + in;
        }
        QTest::addRow("%s, encrypted", format) << f << QByteArray("secret.txt") << true
                                               << (f == u"ACE" ? QStringLiteral("ACE archive is encrypted: secret.txt")
                                                               : QStringLiteral("Encrypted member secret.txt") + in);
    }
}

void TestArchiverHelpers::refusedMembers()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, name);
    QFETCH(bool, encrypted);
    QFETCH(QString, message);
    Fixture f(format);
    Written odd = Written::rawFile(name, "payload");
    odd.encrypted = encrypted;
    const QStringList volumes = f.write(QList<Written>{odd} + kMembers);
    QVERIFY(!volumes.isEmpty());
    const QStringList before = test::entriesBelow(f.world().root());
    const Run run = f.run(volumes.first());
    QCOMPARE(run.err, f.said(message));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(test::entriesBelow(f.world().root()), before);
}

// A symbolic link member is made when it stays inside the destination, once every file is in
// place; one reaching outside is refused by name, and so is a file that a link would carry.
// Only RAR stores links here: arj stores what a link points at, and ACE sets are written
// without them.
void TestArchiverHelpers::linkMembers_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QList<Written>>("links");
    QTest::addColumn<QString>("message"); // empty: the set comes out with its links
    const auto link = [](const char *name, const char *target) { return Written::symlink(name, target); };
    // clang-format off
    QTest::newRow("RAR, a link inside") << "RAR" << QList<Written>{link("data/readme", "../readme.txt")} << QString();
    QTest::newRow("RAR, a link to a folder") << "RAR" << QList<Written>{link("more", "data")} << QString();
    QTest::newRow("RAR, a link outside") << "RAR" << QList<Written>{link("data/up", "../../outside/x")} << "Link or device member data/up in prog.rar";
    QTest::newRow("RAR, an absolute link") << "RAR" << QList<Written>{link("abs", "/etc/passwd")} << "Link or device member abs in prog.rar";
    // Lexically inside, but through data/x it leads above the destination.
    QTest::newRow("RAR, a link through a link") << "RAR" << QList<Written>{link("data/x", ".."), link("y", "data/x/../..")} << "Link or device member y in prog.rar";
    QTest::newRow("RAR, a file written through a link") << "RAR" << QList<Written>{link("l", "data"), Written::file("l/x.txt", "through")} << "Unsafe name l/x.txt in prog.rar";
    // clang-format on
}

void TestArchiverHelpers::linkMembers()
{
    QFETCH(QString, format);
    QFETCH(QList<Written>, links);
    QFETCH(QString, message);
    Fixture f(format);
    const QStringList volumes = f.write(kMembers + links);
    QVERIFY(volumes.size() >= 4);
    const QString outside = f.world().onDrive(u'c', QStringLiteral("outside"));
    f.world().writeFile(outside + QStringLiteral("/x"), "keep");
    f.keepSomething();
    const Run run = f.run(volumes.value(0));
    QCOMPARE(test::readBytes(outside + QStringLiteral("/x")), QByteArray("keep"));
    QCOMPARE(test::entriesBelow(outside), QStringList{"x"});
    if (!message.isEmpty()) {
        QCOMPARE(run.err, f.said(message));
        QCOMPARE(run.exitCode, 1);
        f.checkAsItWas();
        return;
    }
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    for (const Written &l : links) {
        const QString at = f.destination() + u'/' + QString::fromLatin1(l.name);
        QVERIFY(QFileInfo(at).isSymLink());
        char target[256] = {};
        QVERIFY(readlink(QFile::encodeName(at).constData(), target, sizeof target - 1) > 0);
        QCOMPARE(QByteArray(target), l.target);
        QVERIFY(QFileInfo(at).exists()); // it reaches a member
    }
}

// Each member is checked against what the set's other members make of the destination (its
// links), worked out once for the set: sets this large would take hours were the other members
// looked at again for every member. Only the last member here is refused.
void TestArchiverHelpers::checkOfManyMembers_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("message");
    QTest::newRow("RAR, links and files") << "RAR"
                                          << "Unsafe name l7/x.txt in prog.rar";
    QTest::newRow("ACE, files") << "ACE"
                                << "Unsafe name ..\\x.txt in prog.ace";
}

void TestArchiverHelpers::checkOfManyMembers()
{
    QFETCH(QString, format);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QList<Written> members;
    std::optional<QStringList> volumes;
    if (format == u"RAR") {
        for (int i = 0; i < 100000; ++i)
            members << Written::file("f" + QByteArray::number(i), QByteArray())
                    << Written::symlink("l" + QByteArray::number(i), "f" + QByteArray::number(i));
        members << Written::file("l7/x.txt", "through a link");
        volumes = test::writeRarSet(folder.path(), QStringLiteral("prog"), test::RarFormat::Rar5,
                                    test::VolumeNaming::New, members, 0);
    } else {
        for (int i = 0; i < 400000; ++i)
            members << Written::file("f" + QByteArray::number(i), QByteArray());
        members << Written::rawFile("..\\x.txt", "above");
        volumes = test::writeAceSet(folder.path(), QStringLiteral("prog"), members, 0);
    }
    QVERIFY(volumes);
    const auto set = openArchiveSet(format == u"RAR" ? ArchiveKind::Rar : ArchiveKind::Ace, volumes->first());
    QVERIFY(set && set->readMembers());
    QCOMPARE(set->members().size(), members.size());
    const auto refused = set->firstRefusal();
    QCOMPARE(refused ? refused->text() : QString(), message);
}

void TestArchiverHelpers::linkInTheDestinationIsNotFollowed()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes = f.write();
    const QString outside = f.world().onDrive(u'c', QStringLiteral("outside"));
    f.world().writeFile(outside + QStringLiteral("/game.dat"), "keep");
    f.world().makeFolder(f.destination());
    QVERIFY(QFile::link(outside, f.destination() + QStringLiteral("/data")));
    const Run run = f.run(volumes.value(0));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(f.said(QStringLiteral("cannot make the folder data: "))) ||
                 run.err.startsWith(f.said(QStringLiteral("cannot write data/game.dat: "))),
             qPrintable(run.err));
    QCOMPARE(test::readBytes(outside + QStringLiteral("/game.dat")), QByteArray("keep"));
    QCOMPARE(test::entriesBelow(outside), QStringList{"game.dat"});
}

// DEST holds an older readme.txt, and data/ cannot be written (a read-only mount): the run
// fails when it reaches data/game.dat, and the files it had already placed are taken back.
void TestArchiverHelpers::failedDeliveryLeavesDestinationAsItWas()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes = f.write();
    f.world().writeFile(f.destination() + QStringLiteral("/readme.txt"), "older");
    f.world().makeFolder(f.destination() + QStringLiteral("/data"));
    const QStringList before = test::entriesBelow(f.destination());
    const QByteArray data = QFile::encodeName(f.destination() + QStringLiteral("/data"));
    const Run run = test::runInChild(f.program(), f.arguments(volumes.value(0)), [&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(data.constData(), data.constData(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, data.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            _exit(77);
    });
    if (run.exitCode == 77)
        QSKIP("cannot mount a read-only folder here (needs root and mount namespaces)");
    QCOMPARE(run.exitCode, 1);
    // The cause is the system's: a rename into another mount is refused before its mode is seen.
    QVERIFY2(run.err.startsWith(f.said(QStringLiteral("cannot write data"))) && run.err.contains(u"game.dat: "),
             qPrintable(run.err));
    QCOMPARE(test::entriesBelow(f.destination()), before);
    QCOMPARE(test::readBytes(f.destination() + QStringLiteral("/readme.txt")), QByteArray("older"));
}

// DEST given as a link to a folder (the person's own way of pointing elsewhere): the set goes
// into that folder, and no staging folder stays behind there.
void TestArchiverHelpers::destinationThatIsALink()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes = f.write();
    const QString real = f.world().makeFolder(f.world().onDrive(u'c', QStringLiteral("elsewhere")));
    QVERIFY(QFile::link(real, f.destination()));
    const Run run = f.run(volumes.value(0));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole(real);
    QVERIFY(QFileInfo(f.destination()).isSymLink());
}

void TestArchiverHelpers::destinationDriveTooSmall_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("drive"); // tmpfs options
    QTest::addColumn<QString>("said");
    for (const char *format : {"RAR", "ARJ", "ACE"}) {
        QTest::addRow("%s, bytes", format)
            << QString::fromLatin1(format) << QByteArray("size=64k") << QStringLiteral("90005 bytes needed, ");
        // Room for the bytes but for three more entries (the drive's own folder is one).
        QTest::addRow("%s, files", format) << QString::fromLatin1(format) << QByteArray("size=16m,nr_inodes=4")
                                           << QStringLiteral("5 files and folders to make, room for 3");
    }
}

void TestArchiverHelpers::destinationDriveTooSmall()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, drive);
    QFETCH(QString, said);
    Fixture f(format);
    const QStringList volumes = f.write();
    f.world().makeFolder(f.destination());
    const QByteArray onto = QFile::encodeName(f.destination());
    const Run run = test::runInChild(f.program(), f.arguments(volumes.value(0)), [&] {
        // A small drive in a mount namespace of the child's own, gone when it ends.
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", onto.constData(), "tmpfs", 0, drive.constData()) != 0)
            _exit(77);
    });
    if (run.exitCode == 77)
        QSKIP("cannot mount a small file system here (needs root and mount namespaces)");
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(f.said(QStringLiteral("Not enough free space for c:\\Zelv002: ") + said)),
             qPrintable(run.err));
    QCOMPARE(test::entriesBelow(f.destination()), QStringList());
}

void TestArchiverHelpers::lowOpenFileLimit_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("limit");
    for (const char *format : {"RAR", "ARJ", "ACE"})
        for (const int limit : {12, 24, 64})
            QTest::addRow("%s, %d descriptors", format, limit) << QString::fromLatin1(format) << limit;
}

// However few descriptors the helper may hold, DEST ends whole or as it was, never between.
void TestArchiverHelpers::lowOpenFileLimit()
{
    QFETCH(QString, format);
    QFETCH(int, limit);
    Fixture f(format);
    const QStringList volumes = f.write();
    f.keepSomething();
    const Run run = test::runInChild(f.program(), f.arguments(volumes.value(0)), [limit] {
        const rlimit few{rlim_t(limit), rlim_t(limit)};
        if (setrlimit(RLIMIT_NOFILE, &few) != 0)
            _exit(77);
    });
    if (run.exitCode == 77)
        QSKIP("cannot lower the open-file limit here");
    if (run.exitCode == 0) {
        QCOMPARE(run.err.trimmed(), QString());
        QStringList whole{"data", "data/game.dat", "kept.txt", "readme.txt", "setup.exe"};
        QCOMPARE(test::entriesBelow(f.destination()), whole);
        return;
    }
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(f.format().helper + u':'), qPrintable(run.err));
    f.checkAsItWas();
}

void TestArchiverHelpers::stopAskedBySignal_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("signal");
    QTest::newRow("RAR, SIGTERM") << QStringLiteral("RAR") << SIGTERM;
    QTest::newRow("ARJ, SIGTERM") << QStringLiteral("ARJ") << SIGTERM;
    QTest::newRow("ACE, SIGTERM") << QStringLiteral("ACE") << SIGTERM;
    QTest::newRow("RAR, SIGQUIT") << QStringLiteral("RAR") << SIGQUIT;
    QTest::newRow("ARJ, SIGUSR1") << QStringLiteral("ARJ") << SIGUSR1;
    QTest::newRow("ACE, SIGALRM") << QStringLiteral("ACE") << SIGALRM;
}

void TestArchiverHelpers::stopAskedBySignal()
{
    QFETCH(QString, format);
    QFETCH(int, signal);
    Fixture f(format);
    // Big enough that the work is well under way when the signal comes.
    const QStringList volumes =
        f.write({Written::file("big.bin", test::patternBytes(48 << 20, 5)), Written::file("after.txt", "x")}, 16 << 20);
    QVERIFY(!volumes.isEmpty());
    f.keepSomething();
    QProcess helper;
    helper.setStandardInputFile(QProcess::nullDevice());
    helper.start(f.program(), f.arguments(volumes.first()));
    QVERIFY(helper.waitForStarted());
    // The staging folder stands once the checks are done and the extraction begins.
    QElapsedTimer waited;
    waited.start();
    const auto staging = [&] {
        return !QDir(f.destination())
                    .entryList({QStringLiteral(".zelv-staging-*")}, QDir::Dirs | QDir::Hidden)
                    .isEmpty();
    };
    while (!staging() && helper.state() == QProcess::Running && waited.elapsed() < 60000)
        QThread::msleep(2);
    QVERIFY(staging());
    // Held still the moment its staging folder is seen, so that the signal comes while the work
    // goes on however fast the machine: it is taken as the helper goes on again.
    const pid_t pid = pid_t(helper.processId());
    kill(pid, SIGSTOP);
    kill(pid, signal);
    kill(pid, SIGCONT);
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(QString::fromLocal8Bit(helper.readAllStandardError()).trimmed(),
             f.said(QStringLiteral("Cancelled; c:\\Zelv002 was left as it was")));
    QCOMPARE(helper.exitCode(), 1);
    f.checkAsItWas();
}

void TestArchiverHelpers::toolWritesIntoTheFolderHeldOpen_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("RAR") << QStringLiteral("RAR"); // unar, as for packed sets
    QTest::newRow("ARJ") << QStringLiteral("ARJ");
}

// A tool writes by path: the staging folder swapped for a link to another folder once the
// helper holds it gets none of the tool's writes.
void TestArchiverHelpers::toolWritesIntoTheFolderHeldOpen()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes = f.write();
    const auto set = openArchiveSet(f.format().kind, f.source() + u'/' + volumes[0]);
    QVERIFY(set && set->readMembers());
    const QString outside = f.world().root() + QStringLiteral("/outside");
    QDir().mkpath(outside);
    StagingFolder staging(f.destination());
    QVERIFY(staging.isValid());
    const QString moved = f.world().root() + QStringLiteral("/moved");
    QVERIFY(QDir().rename(staging.path(), moved));
    QVERIFY(QFile::link(outside, staging.path()));
    const ExtractionRun run{staging, {}, QStringLiteral("c:\\Zelv001\\") + volumes[0], {}};
    const auto *rar = dynamic_cast<const RarArchiveSet *>(set.get());
    const auto extracted = rar ? rar->extractWithUnar(run) : set->extract(run);
    QVERIFY2(extracted, qPrintable(extracted ? QString() : extracted.error().text()));
    QCOMPARE(test::entriesBelow(outside), QStringList());
    f.checkWhole(moved);
    QFile::remove(staging.path());
}

// A helper killed outright takes its tool with it, and the next run into the same destination
// removes the staging folder it left.
void TestArchiverHelpers::killedRunIsCleanedUpByTheNext()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes =
        f.write({Written::file("big.bin", test::patternBytes(48 << 20, 5)), Written::file("after.txt", "x")}, 16 << 20);
    QVERIFY(!volumes.isEmpty());
    f.keepSomething();
    // Orphans come to this process, which can then tell how they ended.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    QProcess helper;
    helper.setStandardInputFile(QProcess::nullDevice());
    helper.start(f.program(), f.arguments(volumes.first()));
    QVERIFY(helper.waitForStarted());
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(helper.processId());
    const auto staging = [&] {
        return QDir(f.destination()).entryList({QStringLiteral(".zelv-staging-*")}, QDir::Dirs | QDir::Hidden);
    };
    // Killed while it extracts: once its tool runs (arj), or once the staging folder stands.
    QElapsedTimer waited;
    waited.start();
    pid_t tool = 0;
    while (helper.state() == QProcess::Running && waited.elapsed() < 60000) {
        if (format == u"ARJ") { // once the child is arj itself, not the helper about to start it
            tool = pid_t(test::readBytes(children).trimmed().toLong());
            if (tool > 0 && test::readBytes(QStringLiteral("/proc/%1/comm").arg(tool)).trimmed() != "arj")
                tool = 0;
        }
        if (tool > 0 || (format != u"ARJ" && !staging().isEmpty()))
            break;
        QThread::msleep(1);
    }
    QVERIFY(helper.state() == QProcess::Running);
    kill(pid_t(helper.processId()), SIGKILL);
    QVERIFY(helper.waitForFinished(60000));
    if (tool > 0) {
        int status = 0;
        QCOMPARE(waitpid(tool, &status, 0), tool);
        // Killed with it, or by its output's pipe closing as the helper went, whichever came first.
        QVERIFY2(WIFSIGNALED(status) && (WTERMSIG(status) == SIGKILL || WTERMSIG(status) == SIGPIPE),
                 qPrintable(QStringLiteral("the tool went on after the helper was killed: status %1").arg(status)));
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    QCOMPARE(staging().size(), 1);

    // One that a live run holds locked is left alone.
    const QString alive = f.destination() + QStringLiteral("/.zelv-staging-alive");
    QVERIFY(QDir().mkdir(alive));
    const int held = open(QFile::encodeName(alive).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(held >= 0 && flock(held, LOCK_EX | LOCK_NB) == 0);
    const Run next = f.run(volumes.first());
    close(held);
    QCOMPARE(next.err, QString());
    QCOMPARE(next.exitCode, 0);
    QCOMPARE(staging(), QStringList({QStringLiteral(".zelv-staging-alive")}));
    QCOMPARE(test::readBytes(f.destination() + QStringLiteral("/after.txt")), QByteArray("x"));
}

void TestArchiverHelpers::windowsNamesHoldingSlashes_data()
{
    QTest::addColumn<bool>("unar");
    QTest::newRow("libarchive") << false;
    QTest::newRow("unar") << true;
}

// A RAR made on Windows whose names hold '/' where '\\' belongs: each file goes where the
// listing puts it, whichever reader reads it (unar writes such a '/' as '_').
void TestArchiverHelpers::windowsNamesHoldingSlashes()
{
    QFETCH(bool, unar);
    Fixture f(QStringLiteral("RAR"));
    const auto volumes =
        test::writeRarSet(f.source(), QStringLiteral("prog"), test::RarFormat::Rar4, test::VolumeNaming::Old,
                          {Written::rawFile("data/game.dat", "game"), Written::rawFile("a\\b/c.txt", "c")}, 0);
    QVERIFY(volumes);
    const auto set = openArchiveSet(ArchiveKind::Rar, volumes->first());
    QVERIFY(set && set->readMembers());
    StagingFolder staging(f.destination());
    const ExtractionRun run{staging, {}, QStringLiteral("c:\\Zelv001\\prog.rar"), {}};
    const auto *rar = dynamic_cast<const RarArchiveSet *>(set.get());
    const auto extracted = unar ? rar->extractWithUnar(run) : set->extract(run);
    QVERIFY2(extracted, qPrintable(extracted ? QString() : extracted.error().text()));
    QVERIFY2(staging.verify(set->members()), qPrintable(test::entriesBelow(staging.path()).join(u' ')));
    QCOMPARE(test::readBytes(staging.path() + QStringLiteral("/data/game.dat")), QByteArray("game"));
    QCOMPARE(test::readBytes(staging.path() + QStringLiteral("/a/b/c.txt")), QByteArray("c"));
}

// A helper started with its standard input and output closed still runs its tool whole: the
// tool's output pipe never takes the place of what the tool reads or writes.
void TestArchiverHelpers::standardFilesClosed()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes = f.write();
    const Run run = test::runInChild(f.program(), f.arguments(volumes.value(0)), [] {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
    });
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole(f.destination());
}

// FIFOs named like the next volume, a .sfv and .par2 files are never opened: the run goes on
// at once as without them.
void TestArchiverHelpers::fifosBesideTheSet()
{
    QFETCH(QString, format);
    Fixture f(format);
    const QStringList volumes = f.write(kMembers, 1 << 30);
    QCOMPARE(volumes.size(), 1);
    const QString next = QHash<QString, QString>{{QStringLiteral("RAR"), QStringLiteral("prog.r00")},
                                                 {QStringLiteral("ARJ"), QStringLiteral("prog.a01")},
                                                 {QStringLiteral("ACE"), QStringLiteral("prog.c00")}}
                             .value(format);
    for (const QString &name :
         {next, QStringLiteral("prog.sfv"), QStringLiteral("prog.par2"), QStringLiteral("prog.vol00+01.par2")})
        QCOMPARE(mkfifo(QFile::encodeName(f.source() + u'/' + name).constData(), 0644), 0);
    // Well within the minute a tool is given, were anything to wait on a FIFO.
    const Run run = test::runProgram(f.program(), f.arguments(volumes.first()), 30000);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole(f.destination());
}

QTEST_GUILESS_MAIN(TestArchiverHelpers)
#include "tst_archiverhelpers.moc"
