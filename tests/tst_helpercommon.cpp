// What the archiver helpers share: running a tool that cannot be trusted, refusing members that
// may not be made, and a staging folder checked against the listing before anything reaches the
// destination.
#include "archive/rar/rararchiveset.h"
#include "helpers/common/delivery.h"
#include "platform/linkfolder.h"
#include "platform/toolrun.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <zlib.h>

using namespace zelv;

namespace {

SetMember file(const QString &name, const QByteArray &data)
{
    SetMember m;
    m.name = name;
    m.size = data.size();
    m.crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    return m;
}

// A set of the given members, to ask the rules every format shares about them.
class ListedSet : public ArchiveSet {
public:
    explicit ListedSet(const QList<SetMember> &members)
    {
        m_volumes = {QStringLiteral("/dl/prog.rar")};
        m_members = members;
    }
    Result<Extracted> extract(const ExtractionRun &) const override { return Error(QStringLiteral("not here")); }
};

void put(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

class TestHelperCommon : public QObject {
    Q_OBJECT
private slots:
    void toolOutputAndExitCode();
    void longListingKeptWhole_data();
    void longListingKeptWhole();
    void toolGetsNoInput();
    void hangingToolIsKilledWithItsChildren();
    void cancelStopsTheTool();
    void refusedMembers_data();
    void refusedMembers();
    void verify_data();
    void verify();
    void deliverIntoTheDestination();
    void linksInTheDestinationAreNotFollowed();
    void rarReadInProcess_data();
    void rarReadInProcess();
    void startsWithoutLibarchive_data();
    void startsWithoutLibarchive();
    void damagedPackedPiece_data();
    void damagedPackedPiece();
    void linkMembersMadeCheckedAndDelivered();
    void stagingFolderSwappedWhileWritten();
    void fileChangedAfterItWasWritten();
    void clearedStagingFolder();
    void deadLinkFoldersRemovedByTheNext();
};

void TestHelperCommon::toolOutputAndExitCode()
{
    const ToolRun run =
        runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; exit 3")},
                QString(), 10000);
    QVERIFY(run.started);
    QCOMPARE(run.exitCode, 3);
    QVERIFY(!run.timedOut);
    QVERIFY(run.output.contains("out\n") && run.output.contains("err\n"));
    // A listing is read from standard output alone: no warning lands in it.
    QCOMPARE(run.standardOutput, QByteArray("out\n"));
    QVERIFY(!runTool(QStringLiteral("/no/such/tool"), {}, QString(), 1000).started);
}

void TestHelperCommon::longListingKeptWhole_data()
{
    QTest::addColumn<qsizetype>("limit");
    QTest::addColumn<bool>("cut");
    QTest::newRow("a listing's limit") << qsizetype(8 << 20) << false;
    QTest::newRow("the first megabyte") << qsizetype(1 << 20) << true;
}

// Three megabytes on standard output, with warnings between: kept whole up to the limit, and
// said to be cut past it, never taken for all of it.
void TestHelperCommon::longListingKeptWhole()
{
    QFETCH(qsizetype, limit);
    QFETCH(bool, cut);
    const ToolRun run = runTool(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("i=0; while [ $i -lt 3 ]; do head -c 1048576 /dev/zero | tr '\\0' x; "
                                              "echo warning >&2; i=$((i+1)); done")},
        QString(), 30000, {}, ToolOutput{limit});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.standardOutputCut, cut);
    QCOMPARE(run.standardOutput.size(), cut ? limit : qsizetype(3 << 20));
    QVERIFY(!run.standardOutput.contains("warning"));
}

void TestHelperCommon::toolGetsNoInput()
{
    // A tool that asks a question reads the end of its input at once instead of waiting.
    const ToolRun run =
        runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("read answer || exit 7; echo got:$answer")},
                QString(), 10000);
    QCOMPARE(run.exitCode, 7);
    QVERIFY(!run.timedOut);
}

void TestHelperCommon::hangingToolIsKilledWithItsChildren()
{
    QTemporaryDir dir;
    const QString pidFile = dir.path() + QStringLiteral("/child.pid");
    const ToolRun run =
        runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sleep 100 & echo $! > child.pid; wait")},
                dir.path(), 300);
    QVERIFY(run.started);
    QVERIFY(run.timedOut);
    QCOMPARE(run.exitCode, -1);
    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pid_t child = pid_t(f.readAll().trimmed().toInt());
    QVERIFY(child > 0);
    QTRY_VERIFY(kill(child, 0) != 0); // the tool's own child went with it
}

void TestHelperCommon::cancelStopsTheTool()
{
    int ticks = 0;
    const ToolRun run = runTool(QStringLiteral("sleep"), {QStringLiteral("100")}, QString(), 60000,
                                [&ticks](const QByteArray &) { return ++ticks < 3; });
    QVERIFY(!run.timedOut);
    QCOMPARE(run.exitCode, -1);
    QCOMPARE(ticks, 3);
}

void TestHelperCommon::refusedMembers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");       // 0 plain, 1 encrypted, 2 link, 3 device, 4 symbolic link
    QTest::addColumn<QString>("target"); // a symbolic link's
    QTest::addColumn<QString>("why");

    // The rows read as a table.
    // clang-format off
    QTest::newRow("parent, backslash") << "..\\x" << 0 << "" << "Unsafe name ..\\x in prog.rar";
    QTest::newRow("parent, slash") << "a/../../x" << 0 << "" << "Unsafe name a/../../x in prog.rar";
    QTest::newRow("absolute") << "/abs" << 0 << "" << "Unsafe name /abs in prog.rar";
    QTest::newRow("drive letter") << "C:\\x" << 0 << "" << "Unsafe name C:\\x in prog.rar";
    QTest::newRow("encrypted") << "setup.exe" << 1 << "" << "Encrypted member setup.exe in prog.rar";
    QTest::newRow("link") << "lib.so" << 2 << "" << "Link or device member lib.so in prog.rar";
    QTest::newRow("device") << "null" << 3 << "" << "Link or device member null in prog.rar";
    QTest::newRow("fine") << "dir\\setup.exe" << 0 << "" << "";
    QTest::newRow("symbolic link inside") << "dir\\l" << 4 << "..\\readme.txt" << "";
    QTest::newRow("symbolic link to its own folder") << "dir/l" << 4 << "." << "";
    QTest::newRow("symbolic link outside") << "dir/l" << 4 << "../../x" << "Link or device member dir/l in prog.rar";
    QTest::newRow("symbolic link, absolute") << "l" << 4 << "/etc/passwd" << "Link or device member l in prog.rar";
    QTest::newRow("symbolic link, drive letter") << "l" << 4 << "C:\\x" << "Link or device member l in prog.rar";
    QTest::newRow("symbolic link, empty") << "l" << 4 << "" << "Link or device member l in prog.rar";
    QTest::newRow("symbolic link through a link") << "l" << 4 << "up/x" << "Link or device member l in prog.rar";
    QTest::newRow("symbolic link ending on a link") << "l" << 4 << "up" << "";
    QTest::newRow("a file below a link") << "up/x" << 0 << "" << "Unsafe name up/x in prog.rar";
    // clang-format on
}

void TestHelperCommon::refusedMembers()
{
    QFETCH(QString, name);
    QFETCH(int, kind);
    QFETCH(QString, target);
    QFETCH(QString, why);

    SetMember m = file(name, "x");
    m.encrypted = kind == 1;
    m.link = kind == 2;
    m.special = kind == 3;
    m.symlink = kind == 4;
    m.linkTarget = target;
    // A link inside, which other links may end on but not pass through.
    SetMember up = file(QStringLiteral("up"), "");
    up.symlink = true;
    up.linkTarget = QStringLiteral(".");
    const ListedSet set({file(QStringLiteral("readme.txt"), "r"), up, m});
    QVERIFY(!set.refusal(set.members().first()));
    QVERIFY(!set.refusal(set.members()[1]));
    const auto refused = set.refusal(set.members().last());
    QCOMPARE(refused ? refused->text() : QString(), why);
}

void TestHelperCommon::verify_data()
{
    QTest::addColumn<bool>("early"); // the files were checked while the tool ran, then damaged
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("fault");

    // The rows read as a table.
    // clang-format off
    QTest::newRow("all there") << false << "" << "";
    QTest::newRow("missing") << false << "missing" << "sub\\b.txt was not extracted";
    QTest::newRow("short") << false << "short" << "a.txt has 2 bytes instead of 5";
    QTest::newRow("other bytes") << false << "crc" << "CRC error in a.txt";
    QTest::newRow("a file the listing lacks") << false << "extra" << "sub/extra.txt is not in the archive's listing";
    QTest::newRow("a link instead of the file") << false << "link" << "a.txt was not extracted";
    QTest::newRow("checked early, all there") << true << "" << "";
    QTest::newRow("checked early, then other bytes") << true << "crc" << "CRC error in a.txt";
    QTest::newRow("checked early, then a link") << true << "link" << "a.txt was not extracted";
    // clang-format on
}

void TestHelperCommon::verify()
{
    QFETCH(bool, early);
    QFETCH(QString, damage);
    QFETCH(QString, fault);

    QTemporaryDir dir;
    const QString destination = dir.path() + QStringLiteral("/dest");
    StagingFolder staging(destination);
    QVERIFY(staging.isValid());
    const QList<SetMember> members{file(QStringLiteral("a.txt"), "alpha"), file(QStringLiteral("sub\\b.txt"), "beta")};
    if (early) {
        put(staging.path() + QStringLiteral("/a.txt"), "alpha");
        put(staging.path() + QStringLiteral("/sub/b.txt"), "beta");
        QThread::msleep(150); // finished files are those left alone for a moment
        staging.checkFinished(members, 1 << 20);
    }
    put(staging.path() + QStringLiteral("/a.txt"), damage == u"short" ? "al" : damage == u"crc" ? "alpHa" : "alpha");
    if (damage != u"missing")
        put(staging.path() + QStringLiteral("/sub/b.txt"), "beta");
    if (damage == u"extra")
        put(staging.path() + QStringLiteral("/sub/extra.txt"), "x");
    if (damage == u"link") {
        QFile::remove(staging.path() + QStringLiteral("/a.txt"));
        put(dir.path() + QStringLiteral("/outside.txt"), "alpha");
        QVERIFY(QFile::link(dir.path() + QStringLiteral("/outside.txt"), staging.path() + QStringLiteral("/a.txt")));
    }
    const auto verified = staging.verify(members);
    QCOMPARE(verified ? QString() : verified.error().text(), fault);
}

void TestHelperCommon::deliverIntoTheDestination()
{
    QTemporaryDir dir;
    const QString destination = dir.path() + QStringLiteral("/dest");
    put(destination + QStringLiteral("/a.txt"), "old");
    put(destination + QStringLiteral("/kept.txt"), "kept");
    {
        StagingFolder staging(destination);
        put(staging.path() + QStringLiteral("/a.txt"), "alpha");
        put(staging.path() + QStringLiteral("/sub/b.txt"), "beta");
        QDir().mkpath(staging.path() + QStringLiteral("/empty"));
        SetMember folder;
        folder.name = QStringLiteral("empty\\");
        folder.directory = true;
        const QList<SetMember> members{file(QStringLiteral("a.txt"), "alpha"),
                                       file(QStringLiteral("sub\\b.txt"), "beta"), folder};
        const auto verified = staging.verify(members);
        QVERIFY2(verified, qPrintable(verified ? QString() : verified.error().text()));
        const auto delivered = staging.deliver(members, destination);
        QVERIFY2(delivered, qPrintable(delivered ? QString() : delivered.error().text()));
    }
    // The staging folder is gone; old files are replaced, others kept.
    QCOMPARE(test::entriesBelow(destination), QStringList({"a.txt", "empty", "kept.txt", "sub", "sub/b.txt"}));
    QFile a(destination + QStringLiteral("/a.txt"));
    QVERIFY(a.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), QByteArray("alpha"));
}

void TestHelperCommon::linksInTheDestinationAreNotFollowed()
{
    QTemporaryDir dir;
    const QString destination = dir.path() + QStringLiteral("/dest");
    const QString outside = dir.path() + QStringLiteral("/outside");
    put(outside + QStringLiteral("/keep.txt"), "outside");
    QDir().mkpath(destination);
    QVERIFY(QFile::link(outside, destination + QStringLiteral("/sub")));
    QVERIFY(QFile::link(outside + QStringLiteral("/keep.txt"), destination + QStringLiteral("/a.txt")));
    StagingFolder staging(destination);
    put(staging.path() + QStringLiteral("/a.txt"), "alpha");
    put(staging.path() + QStringLiteral("/sub/keep.txt"), "member");
    const QList<SetMember> members{file(QStringLiteral("a.txt"), "alpha"),
                                   file(QStringLiteral("sub/keep.txt"), "member")};
    const auto delivered = staging.deliver(members, destination);
    QVERIFY(!delivered);
    // The system's own words say why: a link stands where a folder must be.
    QCOMPARE(delivered.error().message(), QStringLiteral("cannot write sub/keep.txt"));
    QCOMPARE(delivered.error().cause(), Error::describe(ENOTDIR));
    // The failed delivery put back what stood there, the link named like a file, written
    // through by nothing; nothing outside changed.
    QCOMPARE(QFileInfo(destination + QStringLiteral("/a.txt")).symLinkTarget(), outside + QStringLiteral("/keep.txt"));
    QCOMPARE(test::entriesBelow(outside), QStringList{"keep.txt"});
    QFile keep(outside + QStringLiteral("/keep.txt"));
    QVERIFY(keep.open(QIODevice::ReadOnly));
    QCOMPARE(keep.readAll(), QByteArray("outside"));
}

// A stored RAR set is read in this process, whatever the size of its last volume; one
// libarchive refuses is left to unar (nothing comes back).
void TestHelperCommon::rarReadInProcess_data()
{
    QTest::addColumn<bool>("rar5");
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<bool>("bareFolder");
    QTest::addColumn<bool>("inProcess");
    QTest::newRow("RAR 4, a short last volume") << false << qint64(30000) << false << true;
    QTest::newRow("RAR 5, a short last volume") << true << qint64(30000) << false << true;
    QTest::newRow("RAR 5, one volume") << true << qint64(0) << false << true;
    QTest::newRow("RAR 5, a folder without a data area") << true << qint64(30000) << true << false;
}

void TestHelperCommon::rarReadInProcess()
{
    QFETCH(bool, rar5);
    QFETCH(qint64, volumeSize);
    QFETCH(bool, bareFolder);
    QFETCH(bool, inProcess);
    QTemporaryDir dir;
    test::SetMember folder = test::SetMember::folder("data");
    folder.bareFolder = bareFolder;
    const QList<test::SetMember> written{test::SetMember::file("setup.exe", test::patternBytes(70000, 3)), folder,
                                         test::SetMember::file("data/game.dat", test::patternBytes(20000, 9)),
                                         test::SetMember::symlink("data/l", "game.dat")};
    const auto volumes = test::writeRarSet(dir.filePath(QStringLiteral("in")), QStringLiteral("prog"),
                                           rar5 ? test::RarFormat::Rar5 : test::RarFormat::Rar4,
                                           test::VolumeNaming::New, written, volumeSize);
    QVERIFY(volumes);
    RarArchiveSet set(volumes->first());
    QCOMPARE(set.volumes(), *volumes);
    const auto listed = set.readMembers();
    QVERIFY2(listed, qPrintable(listed ? QString() : listed.error().text()));
    StagingFolder staging(dir.filePath(QStringLiteral("dest")));
    const auto done = set.extractInProcess({staging, {}, QStringLiteral("prog.rar")});
    QCOMPARE(done.has_value(), inProcess);
    if (!inProcess)
        return;
    QVERIFY(*done);
    const auto verified = staging.verify(set.members());
    QVERIFY2(verified, qPrintable(verified ? QString() : verified.error().text()));
    QCOMPARE(test::readBytes(staging.path() + QStringLiteral("/data/l")), test::patternBytes(20000, 9));
}

void TestHelperCommon::startsWithoutLibarchive_data()
{
    QTest::addColumn<QString>("program");
    for (const char *program : {"Zelv32", "wrar.exe", "warj.pif", "ace.pif"})
        QTest::newRow(program) << program;
}

// libarchive and the libraries it brings are opened when a set first needs them (as above),
// never by a start that may not.
void TestHelperCommon::startsWithoutLibarchive()
{
    QFETCH(QString, program);
    const QByteArray needed = test::dynamicSection(program);
    if (needed.isEmpty())
        QSKIP("readelf is not at hand");
    QVERIFY(needed.contains("(NEEDED)"));
    QVERIFY(!needed.contains("libarchive"));
}

// Packed data split over volumes: a piece that keeps the CRC of its bytes as they lie is
// checked; when those are whole, the damage is in the last piece, which keeps none.
void TestHelperCommon::damagedPackedPiece_data()
{
    QTest::addColumn<bool>("firstDamaged");
    QTest::addColumn<bool>("crcErrorKnown"); // the tool said so
    QTest::addColumn<QString>("volume");
    QTest::newRow("the first piece") << true << false << "prog.rar";
    QTest::newRow("the last piece") << false << true << "prog.r00";
    // A tool that failed for another reason: nothing says the data is damaged.
    QTest::newRow("no CRC error told") << false << false << "";
}

void TestHelperCommon::damagedPackedPiece()
{
    QFETCH(bool, firstDamaged);
    QFETCH(bool, crcErrorKnown);
    QFETCH(QString, volume);
    QTemporaryDir dir;
    const QByteArray first = "packed bytes, first piece", last = "the rest";
    put(dir.filePath(QStringLiteral("prog.rar")),
        "head" + (firstDamaged ? QByteArray(first).replace('f', 'F') : first));
    put(dir.filePath(QStringLiteral("prog.r00")), "head" + last);
    SetMember m = file(QStringLiteral("setup.exe"), "unpacked");
    const auto crcOf = [](const QByteArray &b) {
        return quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size())));
    };
    m.parts = {MemberPart{0, 4, first.size(), false, crcOf(first), true},
               MemberPart{1, 4, last.size(), false, std::nullopt, true}};
    class TwoVolumes : public ListedSet {
    public:
        TwoVolumes(const SetMember &m, const QString &folder) : ListedSet({m})
        {
            m_volumes = {folder + QStringLiteral("/prog.rar"), folder + QStringLiteral("/prog.r00")};
        }
    } set(m, dir.path());
    QCOMPARE(set.damagedVolume(m.name, crcErrorKnown), volume);
}

// A link member is made below the staging folder, never over what stands there, checked by its
// target and moved into the destination as a link.
void TestHelperCommon::linkMembersMadeCheckedAndDelivered()
{
    QTemporaryDir dir;
    const QString destination = dir.path() + QStringLiteral("/dest");
    {
        StagingFolder staging(destination);
        QVERIFY(staging.isValid());
        put(staging.path() + QStringLiteral("/a.txt"), "alpha");
        SetMember link;
        link.name = QStringLiteral("sub\\l");
        link.symlink = true;
        link.linkTarget = QStringLiteral("..\\a.txt");
        QVERIFY(staging.makeLink(link.name, link.linkTarget));
        const auto again = staging.makeLink(link.name, QStringLiteral("../b"));
        QVERIFY(!again);
        QCOMPARE(again.error().cause(), Error::describe(EEXIST));
        QVERIFY(!staging.makeLink(QStringLiteral("../l"), QStringLiteral("a.txt")));
        // A copy is read from a file, never through a link.
        QVERIFY(staging.copyFile(QStringLiteral("c.txt"), QStringLiteral("a.txt")));
        QCOMPARE(test::readBytes(staging.path() + QStringLiteral("/c.txt")), QByteArray("alpha"));
        const auto throughLink = staging.copyFile(QStringLiteral("d.txt"), QStringLiteral("sub/l"));
        QVERIFY(!throughLink);
        QCOMPARE(throughLink.error().cause(), Error::describe(ELOOP));
        QFile::remove(staging.path() + QStringLiteral("/c.txt"));
        const QList<SetMember> members{file(QStringLiteral("a.txt"), "alpha"), link};
        QVERIFY(staging.verify(members));
        SetMember other = link;
        other.linkTarget = QStringLiteral("a.txt");
        const QList<SetMember> lying{members.first(), other};
        const auto wrong = staging.verify(lying);
        QCOMPARE(wrong ? QString() : wrong.error().text(), QStringLiteral("sub\\l was not extracted"));
        QVERIFY(staging.deliver(members, destination));
    }
    QCOMPARE(QFileInfo(destination + QStringLiteral("/sub/l")).symLinkTarget(), destination + QStringLiteral("/a.txt"));
    QCOMPARE(test::entriesBelow(destination), QStringList({"a.txt", "sub", "sub/l"}));
}

// The staging folder is held from its making: a folder or link put under its name later
// receives nothing.
void TestHelperCommon::stagingFolderSwappedWhileWritten()
{
    QTemporaryDir dir;
    const QString destination = dir.path() + QStringLiteral("/dest");
    const QString outside = dir.path() + QStringLiteral("/outside");
    QDir().mkpath(outside);
    StagingFolder staging(destination);
    QVERIFY(staging.isValid());
    const QString moved = dir.path() + QStringLiteral("/moved");
    QVERIFY(QDir().rename(staging.path(), moved));
    QVERIFY(QFile::link(outside, staging.path()));
    const auto fd = staging.createFile(QStringLiteral("sub/a.txt"));
    QVERIFY(fd);
    QCOMPARE(write(*fd, "alpha", 5), 5);
    close(*fd);
    QVERIFY(staging.makeFolder(QStringLiteral("empty")));
    QVERIFY(staging.makeLink(QStringLiteral("l"), QStringLiteral("sub/a.txt")));
    QCOMPARE(test::entriesBelow(outside), QStringList());
    QCOMPARE(test::entriesBelow(moved), QStringList({"empty", "l", "sub", "sub/a.txt"}));
    QFile::remove(staging.path());
}

// Emptied after a tool's failed run: its files, folders and links go, the links unfollowed, so
// nothing they point at changes; the staging folder itself stays, held and private, and a file
// checked before is read again once remade.
void TestHelperCommon::clearedStagingFolder()
{
    QTemporaryDir dir;
    const QString outside = dir.path() + QStringLiteral("/outside");
    put(outside + QStringLiteral("/keep.txt"), "outside");
    StagingFolder staging(dir.path() + QStringLiteral("/dest"));
    QVERIFY(staging.isValid());
    put(staging.path() + QStringLiteral("/a.txt"), "ALPHA");
    put(staging.path() + QStringLiteral("/sub/deeper/b.txt"), "beta");
    QVERIFY(QFile::link(outside, staging.path() + QStringLiteral("/sub/out")));
    QVERIFY(QFile::link(outside + QStringLiteral("/keep.txt"), staging.path() + QStringLiteral("/.hidden")));
    const QList<SetMember> members{file(QStringLiteral("a.txt"), "alpha")};
    QTest::qSleep(150); // finished, by the look of it
    staging.checkFinished({file(QStringLiteral("a.txt"), "ALPHA")}, 1 << 20);
    QVERIFY(staging.clear());
    QCOMPARE(test::entriesBelow(staging.path()), QStringList());
    QCOMPARE(test::entriesBelow(outside), QStringList{"keep.txt"});
    QCOMPARE(test::readBytes(outside + QStringLiteral("/keep.txt")), QByteArray("outside"));
    const auto fd = staging.createFile(QStringLiteral("a.txt"));
    QVERIFY(fd);
    QCOMPARE(write(*fd, "alpha", 5), 5);
    close(*fd);
    QVERIFY(staging.verify(members));
}

// A file this program wrote is checked by the CRC of what it wrote, and read again once
// anything changed it since.
void TestHelperCommon::fileChangedAfterItWasWritten()
{
    QTemporaryDir dir;
    StagingFolder staging(dir.path() + QStringLiteral("/dest"));
    QVERIFY(staging.isValid());
    const auto fd = staging.createFile(QStringLiteral("a.txt"));
    QVERIFY(fd);
    QCOMPARE(write(*fd, "alpha", 5), 5);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>("alpha"), 5));
    staging.wroteFile(QStringLiteral("a.txt"), *fd, crc);
    close(*fd);
    SetMember m;
    m.name = QStringLiteral("a.txt");
    m.size = 5;
    m.crc = crc;
    QVERIFY(staging.verify({m}));
    QThread::msleep(20); // a change time of its own
    QFile changed(staging.path() + QStringLiteral("/a.txt"));
    QVERIFY(changed.open(QIODevice::ReadWrite) && changed.write("alphA") == 5);
    changed.close();
    QVERIFY(!staging.verify({m}));
}

void TestHelperCommon::deadLinkFoldersRemovedByTheNext()
{
    // Folders of links a killed run left behind go when the next one is made; one still held, a
    // link in the place of one, and what the links point to stay.
    QTemporaryDir parent;
    const QString p = parent.path();
    const char *kind = "zelv-kind-";
    QTemporaryDir outside;
    const QString victim = outside.filePath(QStringLiteral("victim"));
    QVERIFY(QDir().mkpath(victim));
    QFile kept(victim + QStringLiteral("/kept.txt"));
    QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("x") == 1);
    kept.close();

    QVERIFY(QDir().mkpath(p + QStringLiteral("/zelv-kind-dead")));
    QVERIFY(QFile::link(victim + QStringLiteral("/kept.txt"), p + QStringLiteral("/zelv-kind-dead/a.rar")));
    QVERIFY(QFile::link(victim, p + QStringLiteral("/zelv-kind-dead/folderlink")));
    QFile left(p + QStringLiteral("/zelv-kind-dead/par2.tmp"));
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.close();
    QVERIFY(QDir().mkpath(p + QStringLiteral("/zelv-kind-nested/inner")));
    QVERIFY(QFile::link(victim + QStringLiteral("/kept.txt"), p + QStringLiteral("/zelv-kind-nested/b.rar")));
    QVERIFY(QFile::link(victim, p + QStringLiteral("/zelv-kind-swapped")));
    QVERIFY(QDir().mkpath(p + QStringLiteral("/zelv-kind-held")));
    const int held = open(QFile::encodeName(p + QStringLiteral("/zelv-kind-held")).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(held >= 0 && flock(held, LOCK_EX | LOCK_NB) == 0);
    QVERIFY(QDir().mkpath(p + QStringLiteral("/other-kind")));

    LinkFolder::removeDead(p, kind);
    close(held);
    QVERIFY(!QFileInfo::exists(p + QStringLiteral("/zelv-kind-dead")));
    QVERIFY(QFileInfo(p + QStringLiteral("/zelv-kind-nested/inner")).isDir());
    QVERIFY(!QFileInfo(p + QStringLiteral("/zelv-kind-nested/b.rar")).isSymLink());
    QVERIFY(QFileInfo(p + QStringLiteral("/zelv-kind-swapped")).isSymLink());
    QVERIFY(QFileInfo::exists(p + QStringLiteral("/zelv-kind-held")));
    QVERIFY(QFileInfo::exists(p + QStringLiteral("/other-kind")));
    QVERIFY(QFileInfo(victim + QStringLiteral("/kept.txt")).isFile());

    // A folder of its own, locked while it lives and gone with its links at the end.
    const QByteArray ownKind = "zelv-test-" + QByteArray::number(getpid()) + '-';
    QString made;
    {
        LinkFolder links(ownKind.constData());
        QVERIFY2(links.isValid(), qPrintable(links.errorString()));
        made = links.path();
        QVERIFY(QFile::link(victim + QStringLiteral("/kept.txt"), links.filePath(QStringLiteral("a.rar"))));
        LinkFolder::removeDead(QFileInfo(made).absolutePath(), ownKind.constData());
        QVERIFY(QFileInfo(links.filePath(QStringLiteral("a.rar"))).isSymLink()); // held: not dead
    }
    QVERIFY(!QFileInfo::exists(made));
    QVERIFY(QFileInfo(victim + QStringLiteral("/kept.txt")).isFile());
}

QTEST_GUILESS_MAIN(TestHelperCommon)
#include "tst_helpercommon.moc"
