#include "core/commandrunner.h"
#include "core/helpercommands.h"
#include "support/childrun.h"
#include "support/testworld.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace zelv;

namespace {

struct Run {
    int exitCode = -1; // -1 when it did not end by itself
    QString err;
};

Run killd(const test::TestWorld &world, const QStringList &args)
{
    QProcess p;
    p.setProgram(world.programFolder() + QStringLiteral("/killd.pif"));
    p.setArguments(args);
    p.start();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// killd.pif ARG in a child process, set up by SETUP just before exec.
test::ChildRun killdInChild(const test::TestWorld &world, const QString &arg, const std::function<void()> &setup)
{
    return test::runInChild(world.programFolder() + QStringLiteral("/killd.pif"), {arg}, setup);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QByteArray contentsOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A chain of DEPTH folders all called NAME below TOP. Paths that deep are too long for the
// system, so everything goes relative to descriptors.
bool makeChain(const QByteArray &top, const QByteArray &name, int depth)
{
    int fd = open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        const int next = mkdirat(fd, name.constData(), 0755) == 0
                             ? openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : -1;
        close(fd);
        fd = next;
    }
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

// Takes away what a failed run left of such a chain (the temporary folder's own cleanup works
// with paths and would leave it behind).
void removeChain(const QByteArray &top, const QByteArray &name)
{
    int fd = open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    int depth = 0;
    for (int next; (next = openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) >= 0;
         ++depth) {
        close(fd);
        fd = next;
    }
    for (; depth > 0 && fd >= 0; --depth) {
        const int up = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = up;
        if (fd >= 0)
            unlinkat(fd, name.constData(), AT_REMOVEDIR);
    }
    if (fd >= 0)
        close(fd);
    rmdir(top.constData());
}

} // namespace

class TestKilld : public QObject {
    Q_OBJECT
private slots:
    void init();
    void removesATreeWithReadOnlyParts_data();
    void removesATreeWithReadOnlyParts();
    void linkToAFolderOutsideIsNotFollowed();
    void directoryThatIsALinkLosesOnlyTheLink();
    void namesAreMatchedIgnoringCase();
    void plainFileNamedLikeALeftoverGoes();
    void missingDirectoryIsAlreadyGone();
    void refusals_data();
    void refusals();
    void driveRootReachedByAnotherNameIsRefused();
    void runnerReportsTheHelpersOwnWords();
    void folderSwappedForALinkChangesNothingOutside();
    void mountedFolderIsNotEntered_data();
    void mountedFolderIsNotEntered();
    void deepTrees_data();
    void deepTrees();

private:
    std::unique_ptr<test::TestWorld> m_world;
};

void TestKilld::init()
{
    m_world = std::make_unique<test::TestWorld>();
    QVERIFY(!m_world->installHelper(QStringLiteral("killd.pif")).isEmpty());
}

void TestKilld::removesATreeWithReadOnlyParts_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("asOrdinaryUser");
    QTest::newRow("as the test's user") << false;
    // Root reads any folder; anyone else must give itself the rights first.
    QTest::newRow("as an ordinary user") << true;
    // clang-format on
}

void TestKilld::removesATreeWithReadOnlyParts()
{
    QFETCH(bool, asOrdinaryUser);
    const QString dir = m_world->onDrive(u'c', QStringLiteral("Zelv001"));
    m_world->writeFile(dir + QStringLiteral("/setup.exe"), "MZ");
    const QString ro = m_world->writeFile(dir + QStringLiteral("/deep/er/readonly.txt"), "x");
    m_world->writeFile(dir + QStringLiteral("/.hidden"), "x");
    m_world->writeFile(dir + QStringLiteral("/locked/shut/x"), "x");
    QFile::setPermissions(ro, QFileDevice::ReadOwner);
    QFile::setPermissions(dir + QStringLiteral("/deep/er"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile::setPermissions(dir + QStringLiteral("/locked/shut"), {});
    QFile::setPermissions(dir + QStringLiteral("/locked"), QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    Run r;
    if (!asOrdinaryUser) {
        r = killd(*m_world, {QStringLiteral("c:\\Zelv001")});
    } else {
        if (geteuid() != 0)
            QSKIP("only root can run it as another user (the other row is an ordinary user's run)");
        QCOMPARE(QProcess::execute(QStringLiteral("chown"),
                                   {QStringLiteral("-R"), QStringLiteral("65534:65534"), m_world->root()}),
                 0);
        const test::ChildRun c = killdInChild(*m_world, QStringLiteral("c:\\Zelv001"), [] {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(77);
        });
        r = {c.exitCode, c.err};
    }
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.err.isEmpty());
    QVERIFY(!QFileInfo::exists(dir));
    QVERIFY(QFileInfo::exists(m_world->driveFolder(u'c')));
}

void TestKilld::linkToAFolderOutsideIsNotFollowed()
{
    const QString outside = m_world->makeFolder(m_world->root() + QStringLiteral("/outside"));
    m_world->writeFile(outside + QStringLiteral("/keep.txt"), "precious");
    const QString outsideFile = m_world->writeFile(m_world->root() + QStringLiteral("/single.txt"), "also precious");
    const QString dir = m_world->onDrive(u'c', QStringLiteral("Zelv002"));
    m_world->writeFile(dir + QStringLiteral("/a.txt"), "a");
    m_world->makeFolder(dir + QStringLiteral("/sub"));
    QVERIFY(QFile::link(outside, dir + QStringLiteral("/sub/escape")));
    QVERIFY(QFile::link(outsideFile, dir + QStringLiteral("/file-link")));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/target"), dir + QStringLiteral("/dangling")));

    const Run r = killd(*m_world, {QStringLiteral("c:\\Zelv002")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(!QFileInfo::exists(dir));
    QFile keep(outside + QStringLiteral("/keep.txt"));
    QVERIFY(keep.open(QIODevice::ReadOnly));
    QCOMPARE(keep.readAll(), QByteArray("precious"));
    QVERIFY(QFileInfo::exists(outsideFile));
}

void TestKilld::directoryThatIsALinkLosesOnlyTheLink()
{
    const QString outside = m_world->makeFolder(m_world->root() + QStringLiteral("/target"));
    m_world->writeFile(outside + QStringLiteral("/keep.txt"), "x");
    const QString link = m_world->onDrive(u'c', QStringLiteral("Zelv003"));
    QVERIFY(QFile::link(outside, link));

    const Run r = killd(*m_world, {QStringLiteral("c:\\Zelv003")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
}

void TestKilld::namesAreMatchedIgnoringCase()
{
    const QString dir = m_world->onDrive(u'c', QStringLiteral("Games/Zelv004"));
    m_world->writeFile(dir + QStringLiteral("/x"), "x");
    const Run r = killd(*m_world, {QStringLiteral("C:\\GAMES\\zelv004")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(!QFileInfo::exists(dir));
    QVERIFY(QFileInfo::exists(m_world->onDrive(u'c', QStringLiteral("Games"))));
}

void TestKilld::plainFileNamedLikeALeftoverGoes()
{
    const QString file = m_world->writeFile(m_world->onDrive(u'c', QStringLiteral("Zelv0ab")), "x");
    QCOMPARE(killd(*m_world, {QStringLiteral("c:\\Zelv0ab")}).exitCode, 0);
    QVERIFY(!QFileInfo::exists(file));
}

void TestKilld::missingDirectoryIsAlreadyGone()
{
    const Run r = killd(*m_world, {QStringLiteral("c:\\Zelv099")});
    QCOMPARE(r.exitCode, 0);
}

void TestKilld::refusals_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no argument") << QStringList();
    QTest::newRow("empty argument") << QStringList{QString()};
    QTest::newRow("blank argument") << QStringList{QStringLiteral("  ")};
    QTest::newRow("drive root") << QStringList{QStringLiteral("c:\\")};
    QTest::newRow("bare drive") << QStringList{QStringLiteral("c:")};
    QTest::newRow("root by dot-dot") << QStringList{QStringLiteral("c:\\Zelv001\\..")};
    QTest::newRow("root by many dot-dots") << QStringList{QStringLiteral("c:\\..\\..\\..")};
    QTest::newRow("no drive letter") << QStringList{QStringLiteral("Zelv001")};
    QTest::newRow("host path") << QStringList{QStringLiteral("/tmp")};
    QTest::newRow("drive not in the table") << QStringList{QStringLiteral("q:\\Zelv001")};
    QTest::newRow("two words") << QStringList{QStringLiteral("c:\\My"), QStringLiteral("Dir")};
    // clang-format on
}

void TestKilld::refusals()
{
    QFETCH(QStringList, args);
    const QString marker = m_world->writeFile(m_world->onDrive(u'c', QStringLiteral("Zelv001/keep.txt")), "x");
    const Run r = killd(*m_world, args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.startsWith(QStringLiteral("killd.pif: ")), qPrintable(r.err));
    QCOMPARE(r.err.count(u'\n'), 1);
    QVERIFY(QFileInfo::exists(marker));
}

void TestKilld::driveRootReachedByAnotherNameIsRefused()
{
    // Drive d: is a folder inside drive c:; removing it by its c: name would take drive d away.
    const QString data = m_world->makeFolder(m_world->onDrive(u'c', QStringLiteral("data")));
    m_world->writeFile(data + QStringLiteral("/keep.txt"), "x");
    m_world->linkDrive(u'd', data);
    const Run r = killd(*m_world, {QStringLiteral("c:\\data")});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(QFileInfo::exists(data + QStringLiteral("/keep.txt")));
}

void TestKilld::runnerReportsTheHelpersOwnWords()
{
    const CommandRunner runner(m_world->drives());
    const ExecResult refused = runner.ExecCmd(QStringLiteral("killd.pif c:\\"));
    QVERIFY(refused.started);
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(refused.error.startsWith(QStringLiteral("killd.pif: will not remove the drive root")),
             qPrintable(refused.error));

    m_world->writeFile(m_world->onDrive(u'c', QStringLiteral("Zelv007/x")), "x");
    const ExecResult removed =
        start(runner, helpercommands::removeLeftover(QStringLiteral("c"), QStringLiteral("Zelv007")));
    QVERIFY(removed.succeeded());
    QVERIFY(!QFileInfo::exists(m_world->onDrive(u'c', QStringLiteral("Zelv007"))));
}

void TestKilld::folderSwappedForALinkChangesNothingOutside()
{
    // Someone keeps exchanging a read-only folder of the tree with links to a file and a folder
    // outside it while killd.pif runs. Whatever it catches, nothing outside may change.
    const QString secret = m_world->writeFile(m_world->root() + QStringLiteral("/secret.txt"), "secret");
    const QString vault = m_world->makeFolder(m_world->root() + QStringLiteral("/vault"));
    m_world->writeFile(vault + QStringLiteral("/keep.txt"), "keep");
    QVERIFY(chmod(QFile::encodeName(secret).constData(), 0600) == 0);
    QVERIFY(chmod(QFile::encodeName(vault).constData(), 0700) == 0);

    const QString dir = m_world->onDrive(u'c', QStringLiteral("Zelv010"));
    const QByteArray folder = QFile::encodeName(dir + QStringLiteral("/ro"));
    const QByteArray toFile = QFile::encodeName(dir + QStringLiteral("/to-file"));
    const QByteArray toVault = QFile::encodeName(dir + QStringLiteral("/to-vault"));
    for (int run = 0; run < 300; ++run) {
        for (const QByteArray &name : {folder, toFile, toVault}) // what a raced run left behind
            fchmodat(AT_FDCWD, name.constData(), 0755, AT_SYMLINK_NOFOLLOW);
        QDir(dir).removeRecursively();
        for (int i = 0; i < 8; ++i)
            m_world->writeFile(dir + QStringLiteral("/ro/f%1").arg(i), "x");
        QVERIFY(chmod(folder.constData(), 06555) == 0);
        QVERIFY(symlink(QFile::encodeName(secret).constData(), toFile.constData()) == 0);
        QVERIFY(symlink(QFile::encodeName(vault).constData(), toVault.constData()) == 0);

        std::atomic<bool> stop = false;
        std::thread swapper([&] {
            while (!stop) {
                for (const QByteArray *link : {&toFile, &toFile, &toVault, &toVault})
                    renameat2(AT_FDCWD, folder.constData(), AT_FDCWD, link->constData(), RENAME_EXCHANGE);
            }
        });
        const Run r = killd(*m_world, {QStringLiteral("c:\\Zelv010")});
        stop = true;
        swapper.join();

        const QString where = QStringLiteral("run %1: %2").arg(run).arg(r.err);
        QVERIFY2(r.exitCode == 0 || r.exitCode == 1, qPrintable(where));
        QVERIFY2(r.exitCode != 0 || !QFileInfo::exists(dir), qPrintable(where));
        QVERIFY2(modeOf(secret) == 0600, qPrintable(where + QString::number(modeOf(secret), 8)));
        QVERIFY2(modeOf(vault) == 0700, qPrintable(where + QString::number(modeOf(vault), 8)));
        QCOMPARE(contentsOf(secret), QByteArray("secret"));
        QCOMPARE(contentsOf(vault + QStringLiteral("/keep.txt")), QByteArray("keep"));
    }
}

void TestKilld::mountedFolderIsNotEntered_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("mountAt");
    QTest::addColumn<QString>("reported");
    QTest::newRow("inside the tree") << QStringLiteral("/sub") << QStringLiteral("c:\\Zelv011\\sub");
    QTest::newRow("on the folder itself") << QString() << QStringLiteral("c:\\Zelv011");
    // clang-format on
}

void TestKilld::mountedFolderIsNotEntered()
{
    // A bind mount shows a folder from elsewhere on the same file system: same device number.
    QFETCH(QString, mountAt);
    QFETCH(QString, reported);
    const QString outside = m_world->makeFolder(m_world->root() + QStringLiteral("/outside"));
    m_world->writeFile(outside + QStringLiteral("/keep.txt"), "precious");
    m_world->writeFile(outside + QStringLiteral("/inner/more.txt"), "more");
    const QString dir = m_world->onDrive(u'c', QStringLiteral("Zelv011"));
    m_world->writeFile(dir + QStringLiteral("/a.txt"), "a");
    m_world->makeFolder(dir + QStringLiteral("/sub"));

    const QByteArray from = QFile::encodeName(outside);
    const QByteArray onto = QFile::encodeName(dir + mountAt);
    const test::ChildRun r = killdInChild(*m_world, QStringLiteral("c:\\Zelv011"), [&] {
        // In a mount namespace of its own the mount ends with the child, however the test ends.
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(from.constData(), onto.constData(), nullptr, MS_BIND, nullptr) != 0)
            _exit(77);
    });
    if (r.exitCode == 77)
        QSKIP("cannot bind-mount a folder here (needs root and mount namespaces)");
    QCOMPARE(contentsOf(outside + QStringLiteral("/keep.txt")), QByteArray("precious"));
    QCOMPARE(contentsOf(outside + QStringLiteral("/inner/more.txt")), QByteArray("more"));
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err,
             QStringLiteral("killd.pif: cannot remove %1: another file system is mounted there\n").arg(reported));
}

void TestKilld::deepTrees_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("nameLength");
    QTest::addColumn<int>("openFiles"); // the child's limit
    QTest::newRow("6000 levels, 64 open files") << 6000 << 1 << 64;
    QTest::newRow("20000 levels, descriptors to spare") << 20000 << 1 << 1000000;
    QTest::newRow("2000 levels of 255-byte names") << 2000 << 255 << 4096;
    // clang-format on
}

void TestKilld::deepTrees()
{
    QFETCH(int, depth);
    QFETCH(int, nameLength);
    QFETCH(int, openFiles);
    const QString dir = m_world->makeFolder(m_world->onDrive(u'c', QStringLiteral("Zelv012")));
    const QByteArray top = QFile::encodeName(dir);
    const QByteArray name(nameLength, 'd');
    const auto cleanup = qScopeGuard([&] { removeChain(top, name); });
    QVERIFY(makeChain(top, name, depth));

    struct rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(openFiles, limit.rlim_max);
    const test::ChildRun r =
        killdInChild(*m_world, QStringLiteral("c:\\Zelv012"), [&] { setrlimit(RLIMIT_NOFILE, &limit); });
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(dir));
    QVERIFY2(r.maxRssKb < 100 * 1024, qPrintable(QStringLiteral("peak memory %1 kB").arg(r.maxRssKb)));
}

QTEST_GUILESS_MAIN(TestKilld)
#include "tst_killd.moc"
