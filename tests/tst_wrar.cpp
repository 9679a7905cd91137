// wrar.exe against RAR sets the tests write: whole sets of RAR 4 and 5 under old and new volume
// names, from any volume, including the RAR 5 set unar cannot follow alone. What every helper
// shares is in tst_archiverhelpers.
#include "support/childrun.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

#include <optional>
#include <sys/stat.h>

using namespace zelv;
using test::SetMember;

namespace {

using Run = test::ChildRun;

// The setup program comes from a Unix host, executable and set-user-ID.
SetMember fromUnix(SetMember m, quint32 mode)
{
    m.unixMode = mode;
    return m;
}

const QList<SetMember> kMembers{fromUnix(SetMember::file("setup.exe", test::patternBytes(70000, 3)), 04755),
                                SetMember::file("readme.txt", "hello"), SetMember::folder("data"),
                                SetMember::file("data/game.dat", test::patternBytes(20000, 9))};

class Fixture {
public:
    Fixture()
    {
        m_world.linkDrive(u'z', m_world.root());
        m_world.installHelper(QStringLiteral("wrar.exe"));
        m_world.makeFolder(source());
    }
    test::TestWorld &world() { return m_world; }
    QString source() const { return m_world.onDrive(u'c', QStringLiteral("Zelv001")); }
    QString destination() const { return m_world.onDrive(u'c', QStringLiteral("Zelv002")); }

    QStringList write(test::RarFormat format, test::VolumeNaming naming, int digits = 1,
                      const QList<SetMember> &members = kMembers, qint64 volumeSize = 30000)
    {
        QString error;
        const auto volumes =
            test::writeRarSet(source(), QStringLiteral("prog"), format, naming, members, volumeSize, &error, digits);
        return volumes.value_or(QStringList());
    }

    Run wrar(const QString &archiveDos, const QString &destinationDos = QStringLiteral("c:\\Zelv002"))
    {
        return test::runProgram(
            m_world.programFolder() + QStringLiteral("/wrar.exe"),
            {QStringLiteral("x"), QStringLiteral("-o+"), QStringLiteral("-y"), archiveDos, destinationDos});
    }

    // How the run ended: with message, code 1 and no destination made, or, without one, whole.
    void checkEnd(const test::ChildRun &run, const QString &message)
    {
        QCOMPARE(run.err, message.isEmpty() ? QString() : QStringLiteral("wrar.exe: ") + message);
        QCOMPARE(run.exitCode, message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QVERIFY(!QFileInfo::exists(destination()));
    }

    void checkWhole(const QString &folder)
    {
        QCOMPARE(test::entriesBelow(folder), QStringList({"data", "data/game.dat", "readme.txt", "setup.exe"}));
        QCOMPARE(test::readBytes(folder + QStringLiteral("/setup.exe")), test::patternBytes(70000, 3));
        QCOMPARE(test::readBytes(folder + QStringLiteral("/data/game.dat")), test::patternBytes(20000, 9));
        // Its execute bits kept under the umask of 022, never set-user-ID.
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(folder + QStringLiteral("/setup.exe")).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0755);
    }

private:
    test::TestWorld m_world;
};

} // namespace

Q_DECLARE_METATYPE(test::RarFormat)
Q_DECLARE_METATYPE(test::VolumeNaming)
Q_DECLARE_METATYPE(QList<test::SetMember>)
using Contents = QList<QPair<QString, QByteArray>>; // files of the destination with their bytes
Q_DECLARE_METATYPE(Contents)

class TestWrar : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void wholeSets_data();
    void wholeSets();
    void theSetAskedFor_data();
    void theSetAskedFor();
    void manyMembers();
    void damagedRar5Pieces_data();
    void damagedRar5Pieces();
    void bothReaders_data();
    void bothReaders();
    void warningsStayOutOfTheListing();
    void copiesAndHardLinks_data();
    void copiesAndHardLinks();
    void copiesOfNamesThatComeAgain_data();
    void copiesOfNamesThatComeAgain();
    void packedSets_data();
    void packedSets();
    void lyingRar5Headers_data();
    void lyingRar5Headers();
    void dictionaries_data();
    void dictionaries();
};

void TestWrar::initTestCase()
{
    umask(022);
    if (QStandardPaths::findExecutable(QStringLiteral("unar")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("lsar")).isEmpty())
        QSKIP("unar and lsar are not installed (scripts/install-deps installs them)");
}

void TestWrar::wholeSets_data()
{
    QTest::addColumn<test::RarFormat>("format");
    QTest::addColumn<test::VolumeNaming>("naming");
    QTest::addColumn<int>("digits");
    QTest::addColumn<int>("given"); // which volume the install names
    QTest::addColumn<QStringList>("volumes");

    using F = test::RarFormat;
    using N = test::VolumeNaming;
    // The rows read as a table.
    // clang-format off
    QTest::newRow("RAR 4, old names, first volume") << F::Rar4 << N::Old << 1 << 0 << QStringList{"prog.rar", "prog.r00", "prog.r01", "prog.r02"};
    QTest::newRow("RAR 4, old names, a later volume") << F::Rar4 << N::Old << 1 << 2 << QStringList{"prog.rar", "prog.r00", "prog.r01", "prog.r02"};
    QTest::newRow("RAR 5, new names") << F::Rar5 << N::New << 1 << 0 << QStringList{"prog.part1.rar", "prog.part2.rar", "prog.part3.rar", "prog.part4.rar"};
    QTest::newRow("RAR 5, new names, two digits, the last volume") << F::Rar5 << N::New << 2 << 3 << QStringList{"prog.part01.rar", "prog.part02.rar", "prog.part03.rar", "prog.part04.rar"};
    QTest::newRow("RAR 4, new names") << F::Rar4 << N::New << 1 << 1 << QStringList{"prog.part1.rar", "prog.part2.rar", "prog.part3.rar", "prog.part4.rar"};
    QTest::newRow("RAR 5, old names, which unar cannot follow alone") << F::Rar5 << N::Old << 1 << 1 << QStringList{"prog.rar", "prog.r00", "prog.r01", "prog.r02"};
    QTest::newRow("RAR 4, one volume") << F::Rar4 << N::Old << 1 << 0 << QStringList{"prog.rar"};
    QTest::newRow("RAR 5, one volume") << F::Rar5 << N::New << 1 << 0 << QStringList{"prog.rar"};
    // clang-format on
}

void TestWrar::wholeSets()
{
    QFETCH(test::RarFormat, format);
    QFETCH(test::VolumeNaming, naming);
    QFETCH(int, digits);
    QFETCH(int, given);
    QFETCH(QStringList, volumes);

    Fixture f;
    const QStringList written = f.write(format, naming, digits, kMembers, volumes.size() == 1 ? 0 : 30000);
    QStringList names;
    for (const QString &v : written)
        names << QFileInfo(v).fileName();
    QCOMPARE(names, volumes);
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\") + volumes[given]);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole(f.destination());
}

void TestWrar::theSetAskedFor_data()
{
    QTest::addColumn<test::RarFormat>("format");
    QTest::newRow("RAR 4") << test::RarFormat::Rar4;
    QTest::newRow("RAR 5") << test::RarFormat::Rar5;
}

// Two single archives whose names differ in a trailing digit, as a release's CDs are named:
// the one asked for is installed, never its neighbour, which unar alone takes for the set.
void TestWrar::theSetAskedFor()
{
    QFETCH(test::RarFormat, format);
    Fixture f;
    for (const char *cd : {"1", "2"})
        QVERIFY(test::writeRarSet(f.source(), QStringLiteral("Game.CD") + QLatin1String(cd), format,
                                  test::VolumeNaming::Old,
                                  {SetMember::file(QByteArray("cd") + cd + ".txt", QByteArray("disc ") + cd)}, 0));
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\Game.CD2.rar"));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(test::entriesBelow(f.destination()), QStringList{"cd2.txt"});
    QCOMPARE(test::readBytes(f.destination() + QStringLiteral("/cd2.txt")), QByteArray("disc 2"));
}

// A listing far over a megabyte (lsar writes some 900 bytes a member) is read whole.
void TestWrar::manyMembers()
{
    Fixture f;
    QList<SetMember> members;
    for (int i = 0; i < 2500; ++i)
        members << SetMember::file(QStringLiteral("files/member%1.txt").arg(i, 4, 10, QLatin1Char('0')).toLatin1(),
                                   QByteArray::number(i));
    QCOMPARE(f.write(test::RarFormat::Rar5, test::VolumeNaming::New, 1, members, 0).size(), 1);
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.rar"));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(test::entriesBelow(f.destination() + QStringLiteral("/files")).size(), 2500);
    QCOMPARE(test::readBytes(f.destination() + QStringLiteral("/files/member2499.txt")), QByteArray("2499"));
}

void TestWrar::damagedRar5Pieces_data()
{
    QTest::addColumn<QString>("volume");
    QTest::newRow("a middle piece") << "prog.part2.rar";
    QTest::newRow("the last piece") << "prog.part3.rar";
}

void TestWrar::damagedRar5Pieces()
{
    QFETCH(QString, volume);
    Fixture f;
    QCOMPARE(f.write(test::RarFormat::Rar5, test::VolumeNaming::New).size(), 4);
    // setup.exe spans the first three volumes.
    QVERIFY(test::flipByte(f.source() + u'/' + volume, 5000));
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.part1.rar"));
    QCOMPARE(run.err, QStringLiteral("wrar.exe: CRC error in setup.exe (%1)").arg(volume));
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFileInfo::exists(f.destination()));
}

// A stored set is read in this process; one libarchive refuses (here a RAR 5 folder header
// without a data area) goes to unar. Either way the set comes out whole, a damaged piece is
// named, and a link is made when it stays inside and refused when it does not.
void TestWrar::bothReaders_data()
{
    QTest::addColumn<bool>("unarOnly");
    QTest::addColumn<QString>("damaged");   // the volume with a byte changed
    QTest::addColumn<QByteArray>("target"); // of a link data/l, when there is one
    QTest::addColumn<QString>("message");
    for (const bool unarOnly : {false, true}) {
        const char *reader = unarOnly ? "unar" : "in-process";
        QTest::addRow("%s, whole", reader) << unarOnly << QString() << QByteArray() << QString();
        QTest::addRow("%s, a middle piece damaged", reader)
            << unarOnly << "prog.part2.rar" << QByteArray() << "CRC error in setup.exe (prog.part2.rar)";
        QTest::addRow("%s, the last piece damaged", reader)
            << unarOnly << "prog.part3.rar" << QByteArray() << "CRC error in setup.exe (prog.part3.rar)";
        QTest::addRow("%s, a link inside", reader) << unarOnly << QString() << QByteArray("../readme.txt") << QString();
        QTest::addRow("%s, a link outside", reader)
            << unarOnly << QString() << QByteArray("../../Zelv001/prog.part1.rar")
            << "Link or device member data/l in prog.part1.rar";
        QTest::addRow("%s, an absolute link", reader)
            << unarOnly << QString() << QByteArray("/etc/passwd") << "Link or device member data/l in prog.part1.rar";
    }
}

void TestWrar::bothReaders()
{
    QFETCH(bool, unarOnly);
    QFETCH(QString, damaged);
    QFETCH(QByteArray, target);
    QFETCH(QString, message);
    Fixture f;
    QList<SetMember> members = kMembers;
    members[2].bareFolder = unarOnly;
    if (!target.isEmpty())
        members << SetMember::symlink("data/l", target);
    QCOMPARE(f.write(test::RarFormat::Rar5, test::VolumeNaming::New, 1, members).size(), 4);
    if (!damaged.isEmpty())
        QVERIFY(test::flipByte(f.source() + u'/' + damaged, 5000));
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.part1.rar"));
    f.checkEnd(run, message);
    if (!message.isEmpty() || QTest::currentTestFailed())
        return;
    if (target.isEmpty()) {
        f.checkWhole(f.destination());
        return;
    }
    const QString link = f.destination() + QStringLiteral("/data/l");
    QCOMPARE(QFile::encodeName(QFile(link).symLinkTarget()), QFile::encodeName(f.destination() + "/readme.txt"));
    QCOMPARE(test::readBytes(link), QByteArray("hello"));
}

// A member dated 0 (as DOS made many) makes lsar warn; the warning is no part of the listing.
void TestWrar::warningsStayOutOfTheListing()
{
    Fixture f;
    QList<SetMember> members = kMembers;
    members[1].zeroDosTime = true;
    QCOMPARE(f.write(test::RarFormat::Rar4, test::VolumeNaming::Old, 1, members).size(), 4);
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.rar"));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole(f.destination());
}

// A RAR 5 file copy or hard link of a member comes out as a copy of its file; one naming no
// file of the set is refused by name.
void TestWrar::copiesAndHardLinks_data()
{
    QTest::addColumn<bool>("unarOnly");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("message");
    using L = SetMember::Link;
    for (const bool unarOnly : {false, true}) {
        const char *reader = unarOnly ? "unar" : "in-process";
        QTest::addRow("%s, a file copy", reader)
            << unarOnly << int(L::FileCopy) << QByteArray("setup.exe") << QString();
        QTest::addRow("%s, a hard link", reader)
            << unarOnly << int(L::HardLink) << QByteArray("setup.exe") << QString();
        QTest::addRow("%s, a copy of nothing", reader) << unarOnly << int(L::FileCopy) << QByteArray("../../etc/passwd")
                                                       << "Link or device member data/copy in prog.part1.rar";
        QTest::addRow("%s, a copy of a folder", reader) << unarOnly << int(L::HardLink) << QByteArray("data")
                                                        << "Link or device member data/copy in prog.part1.rar";
        // Listed as a folder and a link at once: made as the link.
        QTest::addRow("%s, a link to a folder", reader) << unarOnly << -1 << QByteArray("..") << QString();
    }
}

void TestWrar::copiesAndHardLinks()
{
    QFETCH(bool, unarOnly);
    QFETCH(int, kind);
    QFETCH(QByteArray, target);
    QFETCH(QString, message);
    Fixture f;
    QList<SetMember> members = kMembers;
    members[2].bareFolder = unarOnly;
    members << SetMember::symlink("data/copy", target, kind < 0 ? SetMember::Link::Symbolic : SetMember::Link(kind));
    members.last().directory = kind < 0;
    QCOMPARE(f.write(test::RarFormat::Rar5, test::VolumeNaming::New, 1, members).size(), 4);
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.part1.rar"));
    f.checkEnd(run, message);
    if (!message.isEmpty() || QTest::currentTestFailed())
        return;
    const QString copy = f.destination() + QStringLiteral("/data/copy");
    if (kind < 0) {
        QCOMPARE(QFileInfo(copy).symLinkTarget(), f.destination());
        return;
    }
    QVERIFY(!QFileInfo(copy).isSymLink());
    QCOMPARE(test::readBytes(copy), test::patternBytes(70000, 3));
    QCOMPARE(test::readBytes(f.destination() + QStringLiteral("/setup.exe")), test::patternBytes(70000, 3));
}

// A file copy is of the file its source's name held at that point of the set: a later member
// of that name is another file, and a later member of the copy's own name replaces the copy.
void TestWrar::copiesOfNamesThatComeAgain_data()
{
    QTest::addColumn<bool>("unarOnly");
    QTest::addColumn<QList<SetMember>>("after"); // the members after the first four
    QTest::addColumn<Contents>("expected");
    const QByteArray setup = test::patternBytes(70000, 3);
    const auto copy = [](const char *name) { return SetMember::symlink(name, "setup.exe", SetMember::Link::FileCopy); };
    for (const bool unarOnly : {false, true}) {
        const char *reader = unarOnly ? "unar" : "in-process";
        QTest::addRow("%s, the copied name again", reader)
            << unarOnly << QList<SetMember>{copy("data/copy"), SetMember::file("setup.exe", "later")}
            << Contents{{"data/copy", setup}, {"setup.exe", "later"}};
        QTest::addRow("%s, the copy's name again", reader)
            << unarOnly << QList<SetMember>{copy("data/copy"), SetMember::file("data/copy", "later")}
            << Contents{{"data/copy", "later"}, {"setup.exe", setup}};
        // Two files of the name copied, each replaced by the next.
        QTest::addRow("%s, the copied name twice more", reader)
            << unarOnly
            << QList<SetMember>{copy("data/copy"), SetMember::file("setup.exe", "second"), copy("copy2"),
                                SetMember::file("setup.exe", "third")}
            << Contents{{"data/copy", setup}, {"copy2", "second"}, {"setup.exe", "third"}};
    }
}

void TestWrar::copiesOfNamesThatComeAgain()
{
    QFETCH(bool, unarOnly);
    QFETCH(QList<SetMember>, after);
    QFETCH(Contents, expected);
    Fixture f;
    QList<SetMember> members = kMembers + after;
    members[2].bareFolder = unarOnly;
    QVERIFY(f.write(test::RarFormat::Rar5, test::VolumeNaming::New, 1, members).size() > 1);
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.part1.rar"));
    f.checkEnd(run, QString());
    if (QTest::currentTestFailed())
        return;
    for (const auto &[name, bytes] : expected)
        QCOMPARE(test::readBytes(f.destination() + u'/' + name), bytes);
}

namespace {

// Packed members the way a release packs them: text that shrinks, data that does not, an
// empty file, one file stored. A solid run keeps the folder and the stored file before it.
QList<SetMember> packedMembers(bool solid)
{
    QList<SetMember> members{SetMember::folder("data"), SetMember::file("readme.txt", "hello")};
    if (!solid)
        members = {};
    members << SetMember::packed("data/big.txt", test::textBytes(600000))
            << SetMember::packed("setup.exe", test::noiseBytes(40000, 5)) << SetMember::packed("empty.txt", "");
    if (!solid)
        members << SetMember::folder("data") << SetMember::file("readme.txt", "hello");
    return members;
}

// unar, stood in for by a script that fails as unar does on a set it cannot decode, after
// leaving part of a file and a stray one where it was told to write; lsar stays the real one.
class FailingUnar {
public:
    explicit FailingUnar(const QByteArray &message)
    {
        const QString script = m_folder.filePath(QStringLiteral("unar"));
        QFile f(script);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n"
                "printf partial > \"$2/setup.exe\"\n"
                "printf stray > \"$2/stray.tmp\"\n"
                "echo '" +
                message +
                "'\n"
                "exit 1\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(m_folder.path()) + ':' + m_path);
    }
    ~FailingUnar() { qputenv("PATH", m_path); }

private:
    QTemporaryDir m_folder;
    QByteArray m_path = qgetenv("PATH");
};

} // namespace

// Packed RAR 5 sets are read by libarchive; what it cannot read (a folder's header without a
// data area) goes to unar, and damage it finds gets unar's second reading.
void TestWrar::packedSets_data()
{
    QTest::addColumn<bool>("solid");
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<bool>("libarchiveCannot");
    QTest::addColumn<QString>("damaged");      // the volume with a byte changed
    QTest::addColumn<QByteArray>("unarFails"); // what the stand-in unar says; empty: the real one
    QTest::addColumn<QString>("message");
    const QByteArray parsing = "Archive parsing failed! (Attempted to read more data than was available.)";
    const QByteArray checksum = "  data/big.txt  (600000 B)... Failed! (Wrong checksum)";
    const QString crc = QStringLiteral("CRC error in data/big.txt (prog.part3.rar)");
    // clang-format off
    QTest::newRow("one archive") << false << qint64(0) << false << QString() << QByteArray() << QString();
    QTest::newRow("volumes") << false << qint64(30000) << false << QString() << QByteArray() << QString();
    QTest::newRow("solid volumes") << true << qint64(30000) << false << QString() << QByteArray() << QString();
    QTest::newRow("a middle volume damaged") << false << qint64(30000) << false << "prog.part3.rar" << QByteArray() << crc;
    QTest::newRow("solid, a middle volume damaged") << true << qint64(30000) << false << "prog.part3.rar" << QByteArray() << crc;
    QTest::newRow("damage unar cannot read either") << false << qint64(30000) << false << "prog.part3.rar" << parsing << crc;
    QTest::newRow("libarchive cannot: unar reads it") << false << qint64(30000) << true << QString() << QByteArray() << QString();
    QTest::newRow("libarchive cannot, a solid set") << true << qint64(30000) << true << QString() << QByteArray() << QString();
    QTest::newRow("libarchive cannot, unar names damage") << false << qint64(30000) << true << "prog.part3.rar" << QByteArray() << crc;
    QTest::newRow("libarchive cannot, a full disk") << false << qint64(0) << true << QString() << QByteArray("  data/big.txt  (600000 B)... Failed! (Error writing: No space left on device)") << "data/big.txt was not extracted";
    QTest::newRow("libarchive cannot, unar says damage") << false << qint64(0) << true << QString() << checksum << "CRC error in data/big.txt (prog.rar)";
    // clang-format on
}

void TestWrar::packedSets()
{
    QFETCH(bool, solid);
    QFETCH(qint64, volumeSize);
    QFETCH(bool, libarchiveCannot);
    QFETCH(QString, damaged);
    QFETCH(QByteArray, unarFails);
    QFETCH(QString, message);
    Fixture f;
    QList<SetMember> members = packedMembers(solid);
    for (SetMember &m : members)
        m.bareFolder = m.directory && libarchiveCannot;
    test::RarPacking packing;
    packing.solid = solid;
    QString error;
    const auto volumes = test::writeRarSet(f.source(), QStringLiteral("prog"), test::RarFormat::Rar5,
                                           test::VolumeNaming::New, members, volumeSize, &error, 1, packing);
    QVERIFY2(volumes, qPrintable(error));
    QCOMPARE(volumes->size() > 3, volumeSize > 0);
    // The text's packed data runs from the first volume into the fourth.
    if (!damaged.isEmpty())
        QVERIFY(test::flipByte(f.source() + u'/' + damaged, 15000));
    std::optional<FailingUnar> failing;
    if (!unarFails.isEmpty())
        failing.emplace(unarFails);
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\") + QFileInfo(volumes->first()).fileName());
    f.checkEnd(run, message);
    if (!message.isEmpty() || QTest::currentTestFailed())
        return;
    QCOMPARE(test::entriesBelow(f.destination()),
             QStringList({"data", "data/big.txt", "empty.txt", "readme.txt", "setup.exe"}));
    for (const SetMember &m : members)
        if (!m.directory)
            QCOMPARE(test::readBytes(f.destination() + u'/' + QString::fromUtf8(m.name)), m.data);
}

void TestWrar::lyingRar5Headers_data()
{
    QTest::addColumn<QString>("lie");
    QTest::newRow("a changed byte, the header's CRC left") << "flip";
    QTest::newRow("a data size past its data, the CRC made right") << "size";
    QTest::newRow("a header cut off by the volume's end") << "cut";
}

// The RAR 5 headers are read as hostile input: each lie ends the run with the archive named,
// before anything is written.
void TestWrar::lyingRar5Headers()
{
    QFETCH(QString, lie);
    Fixture f;
    const QStringList volumes = f.write(test::RarFormat::Rar5, test::VolumeNaming::New);
    QVERIFY(volumes.size() >= 3);
    // readme.txt's header: no extra area, so it ends with the name; its start is where a size
    // that reaches the name's end begins.
    QString holder;
    QByteArray b;
    qsizetype name = -1;
    for (const QString &v : volumes) {
        b = test::readBytes(v);
        name = b.indexOf("readme.txt");
        if (name >= 0) {
            holder = v;
            break;
        }
    }
    QVERIFY(name >= 0);
    const qsizetype end = name + 10;
    qsizetype start = -1;
    for (qsizetype p = name - 6; p > name - 64 && start < 0; --p)
        if (uchar(b[p + 4]) < 0x80 && p + 5 + uchar(b[p + 4]) == end)
            start = p;
    QVERIFY(start >= 0);
    if (lie == u"flip") {
        b[name] = 'R';
    } else if (lie == u"size") {
        b[start + 7] = char(0x7f); // type, flags, then the data size of 5
        const quint32 crc =
            quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData() + start + 4), uInt(end - start - 4)));
        for (int i = 0; i < 4; ++i)
            b[start + i] = char(crc >> (8 * i));
    } else {
        b.truncate(name + 4);
    }
    f.world().writeFile(holder, b);
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.part1.rar"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("wrar.exe: prog.part1.rar cannot be read as a RAR archive: a damaged header in ") +
                          QFileInfo(holder).fileName());
    QVERIFY(!QFileInfo::exists(f.destination()));
}

// A dictionary over what a tool may be given is refused before anything runs: libarchive reads
// none over 64 MB, and unar takes what the headers ask for (a stand-in here, which would fail
// otherwise). One at the budget is read by unar, given the room for it.
void TestWrar::dictionaries_data()
{
    QTest::addColumn<int>("version"); // 0: RAR 5.0; 1: RAR 7.0, a shift of five bits and 32nds
    QTest::addColumn<int>("shift");
    QTest::addColumn<int>("fraction");
    QTest::addColumn<QString>("needed"); // empty: extracted
    QTest::newRow("RAR 5, 1 GB") << 0 << 13 << 0 << QString();
    QTest::newRow("RAR 5, 2 GB") << 0 << 14 << 0 << "2 GB";
    QTest::newRow("RAR 7, a shift past four bits") << 1 << 16 << 0 << "8 GB";
    QTest::newRow("RAR 7, 1 GB and a 32nd of it") << 1 << 13 << 1 << "2 GB";
}

void TestWrar::dictionaries()
{
    QFETCH(int, version);
    QFETCH(int, shift);
    QFETCH(int, fraction);
    QFETCH(QString, needed);
    Fixture f;
    test::RarPacking packing;
    packing.algorithmVersion = version;
    packing.dictionaryShift = shift;
    packing.dictionaryFraction = fraction;
    const QList<SetMember> members{SetMember::packed("setup.exe", test::noiseBytes(20000, 5))};
    QString error;
    QVERIFY2(test::writeRarSet(f.source(), QStringLiteral("prog"), test::RarFormat::Rar5, test::VolumeNaming::New,
                               members, 0, &error, 1, packing),
             qPrintable(error));
    std::optional<FailingUnar> standIn;
    if (!needed.isEmpty())
        standIn.emplace("Failed! (out of memory)");
    const Run run = f.wrar(QStringLiteral("c:\\Zelv001\\prog.rar"));
    f.checkEnd(run, needed.isEmpty() ? QString()
                                     : QStringLiteral("prog.rar needs %1 of memory to extract (its dictionary); "
                                                      "this program allows 1 GB")
                                           .arg(needed));
    if (needed.isEmpty() && !QTest::currentTestFailed())
        QCOMPARE(test::readBytes(f.destination() + QStringLiteral("/setup.exe")), members.first().data);
}

QTEST_GUILESS_MAIN(TestWrar)
#include "tst_wrar.moc"
