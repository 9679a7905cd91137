// wace.pif and ace.pif against ACE sets the tests write and against real archives of every
// packing: both names, archives marked 2.0, packing the reader does not know, and damaged data
// in real packed archives. What every helper shares is in tst_archiverhelpers.
#include "support/aceblockwriter.h"
#include "support/childrun.h"
#include "support/setwriters.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace zelv;
using test::SetMember;

namespace {

using Run = test::ChildRun;

const QList<SetMember> kMembers{SetMember::file("setup.exe", test::patternBytes(70000, 3)), SetMember::folder("data"),
                                SetMember::file("data/game.dat", test::patternBytes(20000, 9)),
                                SetMember::file("readme.txt", "hello")};

// Changes the body of the first file header of an ACE volume and makes its CRC right again.
void patchFirstFileHeader(const QString &path, const std::function<void(QByteArray &)> &change)
{
    QByteArray v = test::readBytes(path);
    const auto le16 = [&v](int at) { return int(uchar(v[at]) | uchar(v[at + 1]) << 8); };
    const int at = 4 + le16(2);
    const int size = le16(at + 2);
    QByteArray body = v.mid(at + 4, size);
    change(body);
    const quint32 crc = test::aceCrc32(body);
    v[at] = char(crc & 0xFF);
    v[at + 1] = char(crc >> 8 & 0xFF);
    v.replace(at + 4, size, body);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(v) == v.size());
}

class Fixture {
public:
    explicit Fixture(const QString &helper = QStringLiteral("wace.pif")) : m_helper(helper)
    {
        m_world.installHelper(helper);
        m_world.makeFolder(source());
    }
    test::TestWorld &world() { return m_world; }
    QString source() const { return m_world.onDrive(u'c', QStringLiteral("Zelv001")); }
    QString destination() const { return m_world.onDrive(u'c', QStringLiteral("Zelv002")); }
    QString program() const { return m_world.programFolder() + u'/' + m_helper; }

    QStringList write(qint64 volumeSize, const QList<SetMember> &members = kMembers, int versionNeeded = 10)
    {
        QString error;
        const auto volumes =
            test::writeAceSet(source(), QStringLiteral("prog"), members, volumeSize, versionNeeded, &error);
        return volumes.value_or(QStringList());
    }

    Run run(const QString &archiveDos)
    {
        return test::runProgram(program(),
                                {QStringLiteral("x"), QStringLiteral("-y"), archiveDos, QStringLiteral("c:\\Zelv002")});
    }

    void checkWhole()
    {
        QCOMPARE(test::entriesBelow(destination()), QStringList({"data", "data/game.dat", "readme.txt", "setup.exe"}));
        QCOMPARE(test::readBytes(destination() + QStringLiteral("/setup.exe")), test::patternBytes(70000, 3));
        QCOMPARE(test::readBytes(destination() + QStringLiteral("/data/game.dat")), test::patternBytes(20000, 9));
    }

private:
    QString m_helper;
    test::TestWorld m_world;
};

QString sharedAceArchives() { return test::sharedFolder() + QStringLiteral("/testdata/ace"); }

} // namespace

class TestWace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void wholeSets_data();
    void wholeSets();
    void refused_data();
    void refused();
    void packedSets_data();
    void packedSets();
    void realArchives_data();
    void realArchives();
};

void TestWace::initTestCase() {}

void TestWace::wholeSets_data()
{
    QTest::addColumn<QString>("helper");
    QTest::addColumn<qint64>("volumeSize");
    QTest::addColumn<QString>("given");
    QTest::addColumn<int>("versionNeeded");
    // clang-format off
    QTest::newRow("one archive") << "wace.pif" << qint64(0) << "prog.ace" << 10;
    QTest::newRow("volumes, the first given") << "wace.pif" << qint64(30000) << "prog.ace" << 10;
    QTest::newRow("volumes, a later one given") << "ace.pif" << qint64(30000) << "prog.c01" << 10;
    QTest::newRow("marked 2.0 but only stored") << "ace.pif" << qint64(30000) << "prog.ace" << 20;
    // clang-format on
}

void TestWace::wholeSets()
{
    QFETCH(QString, helper);
    QFETCH(qint64, volumeSize);
    QFETCH(QString, given);
    QFETCH(int, versionNeeded);
    Fixture f(helper);
    QVERIFY(!f.write(volumeSize, kMembers, versionNeeded).isEmpty());
    const Run run = f.run(QStringLiteral("c:\\Zelv001\\") + given);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    f.checkWhole();
}

void TestWace::refused_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("flagsHigh"); // OR-ed into the first file header's flags
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("stored data said to be packed") << QByteArray("x.txt") << 0 << 2 << "wace.pif: Damaged data in x.txt";
    QTest::newRow("unknown packing") << QByteArray("x.txt") << 0 << 7 << "wace.pif: Unknown packing method 7 for x.txt in prog.ace";
    // clang-format on
}

void TestWace::refused()
{
    QFETCH(QByteArray, name);
    QFETCH(int, flagsHigh);
    QFETCH(int, method);
    QFETCH(QString, message);
    Fixture f;
    const QStringList volumes = f.write(0, QList<SetMember>{SetMember::rawFile(name, "payload")} + kMembers);
    QCOMPARE(volumes.size(), 1);
    patchFirstFileHeader(volumes.first(), [&](QByteArray &body) {
        body[2] = char(body[2] | flagsHigh);
        if (method)
            body[23] = char(method);
    });
    const QStringList before = test::entriesBelow(f.world().root());
    const Run run = f.run(QStringLiteral("c:\\Zelv001\\prog.ace"));
    QCOMPARE(run.err, message);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(test::entriesBelow(f.world().root()), before);
}

void TestWace::realArchives_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<qint64>("damageAt"); // a byte flipped there, or none
    QTest::addColumn<QString>("message");
    // clang-format off
    QTest::newRow("stored") << "Ace.store.ace" << qint64(-1) << "";
    QTest::newRow("ACE 1.0") << "Ace.method1.ace" << qint64(-1) << "";
    QTest::newRow("ACE 1.0, solid") << "Ace.method1-solid.ace" << qint64(-1) << "";
    QTest::newRow("ACE 2.0") << "Ace.method2.ace" << qint64(-1) << "";
    QTest::newRow("ACE 2.0, solid") << "Ace.method2-solid.ace" << qint64(-1) << "";
    QTest::newRow("ACE 2.0, damaged in the exe") << "Ace.method2.ace" << qint64(5000) << "ace.pif: Damaged data in exe\\test.exe";
    QTest::newRow("ACE 1.0 solid, damaged in the picture") << "Ace.method1-solid.ace" << qint64(45000) << "ace.pif: CRC error in jpg\\test.jpg";
    // clang-format on
}

void TestWace::realArchives()
{
    QFETCH(QString, archive);
    QFETCH(qint64, damageAt);
    QFETCH(QString, message);
    const QString shared = sharedAceArchives();
    if (!QFileInfo::exists(shared + u'/' + archive))
        QSKIP("the shared ACE test archives are not here (../shared/testdata/ace)");
    Fixture f(QStringLiteral("ace.pif"));
    const QString copy = f.source() + u'/' + archive;
    QVERIFY(QFile::copy(shared + u'/' + archive, copy));
    QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner));
    if (damageAt >= 0)
        QVERIFY(test::flipByte(copy, damageAt));
    f.world().writeFile(f.destination() + QStringLiteral("/kept.txt"), "as it was");
    const Run run = f.run(QStringLiteral("c:\\Zelv001\\") + archive);
    if (!message.isEmpty()) {
        QCOMPARE(run.err, message);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(test::entriesBelow(f.destination()), QStringList{"kept.txt"});
        return;
    }
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    const QString out = f.destination();
    QCOMPARE(test::readBytes(out + QStringLiteral("/exe/test.exe")),
             test::readBytes(shared + QStringLiteral("/original/exe/test.exe")));
    QCOMPARE(test::readBytes(out + QStringLiteral("/jpg/test.jpg")),
             test::readBytes(shared + QStringLiteral("/original/jpg/test.jpg")));
    // The text file's name is in a DOS code page of its own; its bytes are what count.
    QByteArray text = test::readBytes(shared + QStringLiteral("/original/тест.txt"));
    text.replace("\n", "\r\n");
    const QStringList entries = test::entriesBelow(out);
    QCOMPARE(entries.size(), 6);
    const auto name = std::find_if(entries.begin(), entries.end(),
                                   [](const QString &e) { return e.endsWith(u".txt") && e != u"kept.txt"; });
    QVERIFY(name != entries.end());
    QCOMPARE(test::readBytes(out + u'/' + *name), text);
}

void TestWace::packedSets_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("ACE 1.0 solid volumes") << 1 << false;
    QTest::newRow("ACE 2.0 solid volumes") << 2 << false;
    QTest::newRow("ACE 2.0 solid volumes, damaged") << 2 << true;
}

void TestWace::packedSets()
{
    // Packed solid volume sets of the tests' writer through the helper: every file as it was,
    // or, with a byte of packed data changed, nothing but what was there before.
    QFETCH(int, method);
    QFETCH(bool, damaged);
    Fixture f(QStringLiteral("ace.pif"));
    QList<test::AceArchiveMember> members;
    QByteArray before;
    for (int i = 0; i < 3; ++i) {
        QByteArray data;
        QRandomGenerator rng{quint32(i)};
        for (int k = 0; data.size() < 30000 + 7000 * i; ++k)
            data +=
                "line " + QByteArray::number(rng.bounded(5000)) + " of setup file " + QByteArray::number(i) + "\r\n";
        members << test::packedMember("dir\\file" + QByteArray::number(i) + ".txt", data, method, before);
        before += data;
    }
    const auto volumes = test::writeAceArchive(f.source(), QStringLiteral("prog"), members, true, 8000);
    QVERIFY(volumes);
    QVERIFY2(volumes->size() > 1, qPrintable(volumes->join(u' ')));
    if (damaged)
        QVERIFY(test::flipByte(volumes->at(1), 3000));
    f.world().writeFile(f.destination() + QStringLiteral("/kept.txt"), "as it was");
    const Run run = f.run(QStringLiteral("c:\\Zelv001\\prog.ace"));
    if (damaged) {
        QVERIFY2(run.err.startsWith(QStringLiteral("ace.pif: ")), qPrintable(run.err));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(test::entriesBelow(f.destination()), QStringList{"kept.txt"});
        return;
    }
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    for (const test::AceArchiveMember &m : members)
        QCOMPARE(test::readBytes(f.destination() + u'/' + QString::fromLatin1(m.name).replace(u'\\', u'/')), m.data);
}

QTEST_GUILESS_MAIN(TestWace)
#include "tst_wace.moc"
