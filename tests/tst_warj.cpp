// warj.pif against sets made by arj itself: whole sets through the install's per-volume runs, a
// later volume first under another letter case, and names that arj never finishes. What every
// helper shares is in tst_archiverhelpers.
#include "support/childrun.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace zelv;

namespace {

using Run = test::ChildRun;

QByteArray noise(int size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        out[i] = char(seed >> 24);
    }
    return out;
}

// Gives a member another name of the same length in every volume, with the header's CRC made
// right again, as a hostile packer would.
bool renameMember(const QString &volume, const QByteArray &from, const QByteArray &to, int hostOs = -1)
{
    QFile f(volume);
    if (from.size() != to.size() || !f.open(QIODevice::ReadWrite))
        return false;
    QByteArray b = f.readAll();
    const qsizetype at = b.indexOf(from + '\0');
    if (at < 0)
        return false;
    const qsizetype header = b.lastIndexOf(QByteArray("\x60\xea", 2), at);
    const int size = uchar(b[header + 2]) | uchar(b[header + 3]) << 8;
    b.replace(at, to.size(), to);
    if (hostOs >= 0)
        b[header + 4 + 3] = char(hostOs);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData() + header + 4), uInt(size)));
    for (int i = 0; i < 4; ++i)
        b[header + 4 + size + i] = char(crc >> (8 * i));
    return f.seek(0) && f.write(b) == b.size();
}

class Fixture {
public:
    Fixture()
    {
        m_world.linkDrive(u'z', m_world.root());
        m_world.installHelper(QStringLiteral("warj.pif"));
        m_source = m_world.onDrive(u'c', QStringLiteral("dl"));
        m_world.makeFolder(m_source + QStringLiteral("/in/sub"));
        put(QStringLiteral("in/big.bin"), noise(150000, 7));
        put(QStringLiteral("in/small.txt"), "small\n");
        put(QStringLiteral("in/sub/inner.txt"), "inner\n");
        // arj keeps a file's mode, set-user-ID bit and all.
        ::chmod(QFile::encodeName(m_source + QStringLiteral("/in/small.txt")).constData(), 04755);
    }

    test::TestWorld &world() { return m_world; }
    QString source() const { return m_source; }
    void put(const QString &relative, const QByteArray &data) { m_world.writeFile(m_source + u'/' + relative, data); }

    // Volumes of 50,000 bytes: big.bin spans the first three. Stored, or packed by arj.
    bool makeSet(bool stored = false)
    {
        QProcess arj;
        arj.setWorkingDirectory(m_source + QStringLiteral("/in"));
        arj.setStandardInputFile(QProcess::nullDevice());
        QStringList args{QStringLiteral("a"), QStringLiteral("-v50k"), QStringLiteral("-y")};
        if (stored)
            args << QStringLiteral("-m0");
        args << QStringLiteral("../set.arj") << QStringLiteral("big.bin") << QStringLiteral("small.txt")
             << QStringLiteral("sub/inner.txt");
        arj.start(QStringLiteral("arj"), args);
        return arj.waitForFinished(60000) && QFileInfo::exists(m_source + QStringLiteral("/set.a01"));
    }

    Run warj(const QString &volumeDos, const QString &destinationDos)
    {
        return test::runProgram(m_world.programFolder() + QStringLiteral("/warj.pif"),
                                {QStringLiteral("x"), QStringLiteral("-y"), volumeDos, destinationDos});
    }

    QString destination() const { return m_world.onDrive(u'c', QStringLiteral("Zelv002")); }

    // The destination holds the set exactly.
    void checkWhole()
    {
        QCOMPARE(test::entriesBelow(destination()), QStringList({"big.bin", "small.txt", "sub", "sub/inner.txt"}));
        QCOMPARE(test::readBytes(destination() + QStringLiteral("/big.bin")), noise(150000, 7));
        QCOMPARE(test::readBytes(destination() + QStringLiteral("/sub/inner.txt")), QByteArray("inner\n"));
        // The execute bits kept under the umask of 022, the set-user-ID bit never.
        const auto mode = [this](const char *name) {
            struct stat st;
            return ::stat(QFile::encodeName(destination() + u'/' + QLatin1String(name)).constData(), &st) == 0
                       ? int(st.st_mode & 07777)
                       : -1;
        };
        QCOMPARE(mode("small.txt"), 0755);
        QCOMPARE(mode("big.bin"), 0644);
    }

private:
    test::TestWorld m_world;
    QString m_source;
};

} // namespace

class TestWarj : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void perVolumeRunsMakeTheWholeSet();
    void aLaterVolumeFirst();
    void refusedNames_data();
    void refusedNames();
    void namesAsTheirSystemWroteThem_data();
    void namesAsTheirSystemWroteThem();
    void deadStagingFoldersGo_data();
    void deadStagingFoldersGo();
};

void TestWarj::initTestCase()
{
    umask(022);
    if (QStandardPaths::findExecutable(QStringLiteral("arj")).isEmpty())
        QSKIP("arj is not installed (scripts/install-deps installs it)");
}

void TestWarj::perVolumeRunsMakeTheWholeSet()
{
    Fixture f;
    QVERIFY(f.makeSet());
    const QStringList volumes{"set.arj", "set.a01", "set.a02", "set.a03"};
    for (const QString &v : volumes)
        QVERIFY2(QFileInfo::exists(f.source() + u'/' + v), qPrintable(v));
    for (const QString &v : volumes) {
        const Run run = f.warj(QStringLiteral("c:\\dl\\") + v, QStringLiteral("c:\\Zelv002"));
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
    }
    f.checkWhole();
}

void TestWarj::aLaterVolumeFirst()
{
    Fixture f;
    QVERIFY(f.makeSet());
    const Run run = f.warj(QStringLiteral("c:\\dl\\SET.A02"), QStringLiteral("c:\\Zelv002"));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole();
}

void TestWarj::refusedNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("message");

    // The rows read as a table.
    // clang-format off
    // A parent part starts with a dot too: it is refused as unsafe, before arj's own limit.
    QTest::newRow("parent, slash") << QByteArray("../innerx.txt") << "Unsafe name ../innerx.txt in set.arj";
    QTest::newRow("a dot first, which arj never finishes")
        << QByteArray(".ub/inner.txt") << "arj cannot extract .ub/inner.txt (a name starting with a dot) in set.arj";
    // clang-format on
}

void TestWarj::refusedNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, message);

    Fixture f;
    QVERIFY(f.makeSet());
    // "sub/inner.txt" sits in the last volume; every name here has its length.
    QVERIFY(renameMember(f.source() + QStringLiteral("/set.a03"), "sub/inner.txt", name));
    const QStringList before = test::entriesBelow(f.world().root());
    const Run run = f.warj(QStringLiteral("c:\\dl\\set.arj"), QStringLiteral("c:\\Zelv002"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("warj.pif: ") + message);
    QCOMPARE(test::entriesBelow(f.world().root()), before);
}

void TestWarj::namesAsTheirSystemWroteThem_data()
{
    QTest::addColumn<QByteArray>("name"); // as long as "sub/inner.txt"
    QTest::addColumn<int>("hostOs");
    QTest::addColumn<QString>("delivered");

    const int dos = 0, unix = 2, win32 = 11;
    QTest::newRow("DOS, code page 437") << QByteArray("sub/caf\x82"
                                                      "1.txt")
                                        << dos << QStringLiteral("sub/café1.txt");
    QTest::newRow("DOS, a folder in code page 437") << QByteArray("s\x81"
                                                                  "b/inner.txt")
                                                    << dos << QStringLiteral("süb/inner.txt");
    QTest::newRow("DOS, backslash") << QByteArray("sub\\inner.txt") << dos << QStringLiteral("sub/inner.txt");
    QTest::newRow("Windows, both") << QByteArray("s\x81"
                                                 "b\\inner.txt")
                                   << win32 << QStringLiteral("süb/inner.txt");
    QTest::newRow("Unix, UTF-8") << QByteArray("sub/caf\xc3\xa9.txt") << unix << QStringLiteral("sub/café.txt");
}

// Names as the packer's system wrote them: arj writes a name's bytes as they stand, and the
// helper delivers the file under the name decoded.
void TestWarj::namesAsTheirSystemWroteThem()
{
    QFETCH(QByteArray, name);
    QFETCH(int, hostOs);
    QFETCH(QString, delivered);

    Fixture f;
    QVERIFY(f.makeSet());
    QVERIFY(renameMember(f.source() + QStringLiteral("/set.a03"), "sub/inner.txt", name, hostOs));
    const Run run = f.warj(QStringLiteral("c:\\dl\\set.arj"), QStringLiteral("c:\\Zelv002"));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QStringList expected{"big.bin", "small.txt", delivered.section(u'/', 0, 0), delivered};
    expected.sort();
    QCOMPARE(test::entriesBelow(f.destination()), expected);
    QCOMPARE(test::readBytes(f.destination() + u'/' + delivered), QByteArray("inner\n"));
}

void TestWarj::deadStagingFoldersGo_data()
{
    QTest::addColumn<QString>("run"); // what the later run has to do
    QTest::addColumn<int>("exitCode");
    QTest::newRow("nothing: the set is in place already") << "in place" << 0;
    QTest::newRow("nothing: a volume is missing") << "missing" << 1;
    QTest::newRow("the whole set") << "extract" << 0;
}

// A run killed while it delivered leaves the set in place and its staging folder, holding what
// it replaced, behind: any later run into that destination removes it, whatever that run has to
// do, and leaves every folder it did not make or that a running helper holds.
void TestWarj::deadStagingFoldersGo()
{
    QFETCH(QString, run);
    QFETCH(int, exitCode);
    Fixture f;
    QVERIFY(f.makeSet());
    if (run != u"extract")
        QCOMPARE(f.warj(QStringLiteral("c:\\dl\\set.arj"), QStringLiteral("c:\\Zelv002")).exitCode, 0);
    if (run == u"missing")
        QVERIFY(QFile::remove(f.source() + QStringLiteral("/set.a02")));
    const QString dest = f.world().makeFolder(f.destination());
    // As a killed run leaves it: private, what a delivered file replaced set aside in it.
    const QString dead = f.world().makeFolder(dest + QStringLiteral("/.zelv-staging-Q3xk9a/.replaced"));
    f.world().writeFile(dead + QStringLiteral("/0"), "the person's own small.txt");
    f.world().writeFile(dest + QStringLiteral("/.zelv-staging-Q3xk9a/big.bin"), "part");
    // Held by a helper that still runs.
    const QString held = f.world().makeFolder(dest + QStringLiteral("/.zelv-staging-H0ld3r"));
    f.world().writeFile(held + QStringLiteral("/a"), "a");
    // Not one of ours: another name, open to others, a link.
    const QString other = f.world().makeFolder(dest + QStringLiteral("/.zelv-staging-mine"));
    const QString open = f.world().makeFolder(dest + QStringLiteral("/.zelv-staging-0pen12"));
    const QString outside = f.world().makeFolder(f.world().root() + QStringLiteral("/outside"));
    f.world().writeFile(outside + QStringLiteral("/keep"), "keep");
    QVERIFY(QFile::link(outside, dest + QStringLiteral("/.zelv-staging-L1nk00")));
    for (const QString &folder : {dead.section(u'/', 0, -2), held, other})
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QFile::setPermissions(open, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                            QFile::ExeOther));
    const int lock = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0);

    const Run later = f.warj(QStringLiteral("c:\\dl\\set.arj"), QStringLiteral("c:\\Zelv002"));
    ::close(lock);
    QCOMPARE(later.exitCode, exitCode);
    QStringList left = QDir(dest).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.removeIf([](const QString &name) { return !name.startsWith(u'.'); });
    QCOMPARE(left, QStringList(
                       {".zelv-staging-0pen12", ".zelv-staging-H0ld3r", ".zelv-staging-L1nk00", ".zelv-staging-mine"}));
    QCOMPARE(test::readBytes(held + QStringLiteral("/a")), QByteArray("a"));
    QCOMPARE(test::readBytes(outside + QStringLiteral("/keep")), QByteArray("keep"));
    if (exitCode == 0)
        QCOMPARE(test::readBytes(dest + QStringLiteral("/big.bin")), noise(150000, 7));
}

QTEST_GUILESS_MAIN(TestWarj)
#include "tst_warj.moc"
