#include "core/commandrunner.h"
#include "core/helpercommands.h"
#include "support/testworld.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace zelv;

namespace {

struct Run {
    int exitCode = -1;
    QString err;
};

Run killd(const test::TestWorld &world, const QStringList &args)
{
    QProcess p;
    p.setProgram(world.programFolder() + QStringLiteral("/killd.pif"));
    p.setArguments(args);
    p.start();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TestKilld : public QObject {
    Q_OBJECT
private slots:
    void init();
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

private:
    std::unique_ptr<test::TestWorld> m_world;
};

void TestKilld::init()
{
    m_world = std::make_unique<test::TestWorld>();
    QVERIFY(!m_world->installHelper(QStringLiteral("killd.pif")).isEmpty());
}

void TestKilld::removesATreeWithReadOnlyParts()
{
    const QString dir = m_world->onDrive(u'c', QStringLiteral("Zelv001"));
    m_world->writeFile(dir + QStringLiteral("/setup.exe"), "MZ");
    const QString ro = m_world->writeFile(dir + QStringLiteral("/deep/er/readonly.txt"), "x");
    m_world->writeFile(dir + QStringLiteral("/.hidden"), "x");
    QFile::setPermissions(ro, QFileDevice::ReadOwner);
    QFile::setPermissions(dir + QStringLiteral("/deep/er"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    const Run r = killd(*m_world, {QStringLiteral("c:\\Zelv001")});
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
    const ExecResult removed = start(runner, helpercommands::removeLeftover(QStringLiteral("c"), QStringLiteral("Zelv007")));
    QVERIFY(removed.succeeded());
    QVERIFY(!QFileInfo::exists(m_world->onDrive(u'c', QStringLiteral("Zelv007"))));
}

QTEST_GUILESS_MAIN(TestKilld)
#include "tst_killd.moc"
