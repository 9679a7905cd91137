#include "archive/archivekind.h"
#include "support/testworld.h"

#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace zelv;

class TestArchiveKind : public QObject {
    Q_OBJECT
private slots:
    void literals();
    void keys();
    void candidate_data();
    void candidate();
    void firstVolume_data();
    void firstVolume();
    void signature_data();
    void signature();
    void signatureOfMissingFileOrFolder();
    void signatureClosesTheFile();
    void listedPath_data();
    void listedPath();

private:
    test::TestWorld m_world;
};

void TestArchiveKind::literals()
{
    const ArchiveKindInfo &rar = archiveKindInfo(ArchiveKind::Rar);
    QCOMPARE(rar.listingFilter, QStringLiteral("*.R??;*.0??"));
    QCOMPARE(rar.filterAfterSelect, QStringLiteral("*.r??;*.0??"));
    QCOMPARE(rar.presencePatterns, QStringList({QStringLiteral("*.R??"), QStringLiteral("*.0??")}));
    const ArchiveKindInfo &ace = archiveKindInfo(ArchiveKind::Ace);
    QCOMPARE(ace.listingFilter, QStringLiteral("*.ACE;*.C??"));
    QCOMPARE(ace.filterBeforeSelect, QStringLiteral("*.C??;*.ACE"));
    QCOMPARE(ace.filterAfterSelect, QStringLiteral("*.c??;*.ACE"));
    QCOMPARE(ace.candidateMarkers, QStringList({QStringLiteral(".A"), QStringLiteral(".C"), QStringLiteral(".0")}));
    QCOMPARE(archiveKindInfo(ArchiveKind::Zip).listingFilter, QStringLiteral("*.ZIP"));
    QCOMPARE(archiveKindInfo(ArchiveKind::Zip).label, QStringLiteral("*.zip"));
    QCOMPARE(archiveKindInfo(ArchiveKind::Arj).label, QStringLiteral("*.arj"));
    QCOMPARE(archiveKindInfo(ArchiveKind::Arj).tooltip, QStringLiteral("Arj's"));
}

void TestArchiveKind::keys()
{
    // The table is indexed by kind: each row must describe its own kind, in toolbar order.
    QStringList keys;
    for (ArchiveKind k : kAllArchiveKinds) {
        QCOMPARE(archiveKindInfo(k).kind, k);
        QCOMPARE(archiveKindFromKey(archiveKindInfo(k).key), std::optional<ArchiveKind>(k));
        keys << archiveKindInfo(k).key;
    }
    QCOMPARE(keys, QStringList({"zip", "rar", "arj", "ace"}));
    QVERIFY(!archiveKindFromKey(u"ZIP"));
    QVERIFY(!archiveKindFromKey(u"diz"));
}

void TestArchiveKind::candidate_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<ArchiveKind>("kind");
    QTest::addColumn<bool>("expected");
    QTest::newRow("rar first") << "prog.RAR" << ArchiveKind::Rar << true;
    QTest::newRow("rar continuation lower case") << "prog.r00" << ArchiveKind::Rar << true;
    QTest::newRow("rar numbered") << "prog.001" << ArchiveKind::Rar << true;
    QTest::newRow("NOTES.REG is a rar candidate") << "NOTES.REG" << ArchiveKind::Rar << true;
    QTest::newRow("rar marker anywhere") << "a.rc.txt" << ArchiveKind::Rar << true;
    QTest::newRow("no marker") << "readme" << ArchiveKind::Rar << false;
    QTest::newRow("arj continuation") << "prog.a01" << ArchiveKind::Arj << true;
    QTest::newRow("arj not rar") << "prog.r00" << ArchiveKind::Arj << false;
    QTest::newRow("ace first") << "prog.ace" << ArchiveKind::Ace << true;
    QTest::newRow("ace continuation") << "prog.C00" << ArchiveKind::Ace << true;
    QTest::newRow("zip has no candidates") << "prog.zip" << ArchiveKind::Zip << false;
    // clang-format on
}

void TestArchiveKind::candidate()
{
    QFETCH(QString, name);
    QFETCH(ArchiveKind, kind);
    QFETCH(bool, expected);
    QCOMPARE(isVolumeCandidate(name, kind), expected);
}

void TestArchiveKind::firstVolume_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<ArchiveKind>("kind");
    QTest::addColumn<bool>("expected");
    QTest::newRow("ABC.RAR") << "ABC.RAR" << ArchiveKind::Rar << true;
    QTest::newRow("abc.rar") << "abc.rar" << ArchiveKind::Rar << true;
    QTest::newRow("Abc.Rar") << "Abc.Rar" << ArchiveKind::Rar << true;
    QTest::newRow("abc.r00") << "abc.r00" << ArchiveKind::Rar << false;
    QTest::newRow("name ending rar without dot") << "xRAr" << ArchiveKind::Rar << true;
    QTest::newRow("short name") << "ra" << ArchiveKind::Rar << false;
    QTest::newRow("arj") << "x.arj" << ArchiveKind::Arj << true;
    QTest::newRow("ace") << "x.Ace" << ArchiveKind::Ace << true;
    QTest::newRow("ace continuation") << "x.c00" << ArchiveKind::Ace << false;
    QTest::newRow("zip never") << "x.zip" << ArchiveKind::Zip << false;
    // clang-format on
}

void TestArchiveKind::firstVolume()
{
    QFETCH(QString, name);
    QFETCH(ArchiveKind, kind);
    QFETCH(bool, expected);
    QCOMPARE(isFirstVolume(name, kind), expected);
}

void TestArchiveKind::signature_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ArchiveKind>("kind");
    QTest::addColumn<bool>("expected");

    QTest::newRow("rar") << QByteArray("Rar!\x1a\x07\x00", 7) << ArchiveKind::Rar << true;
    QTest::newRow("rar exactly four bytes") << QByteArray("Rar!") << ArchiveKind::Rar << true;
    QTest::newRow("rar wrong case") << QByteArray("RAR!\x1a\x07\x00", 7) << ArchiveKind::Rar << false;
    QTest::newRow("rar short") << QByteArray("Rar") << ArchiveKind::Rar << false;
    QTest::newRow("rar empty") << QByteArray() << ArchiveKind::Rar << false;
    QTest::newRow("rar at offset 1") << QByteArray(" Rar!") << ArchiveKind::Rar << false;

    QTest::newRow("ace") << QByteArray("0123456**ACE**") << ArchiveKind::Ace << true;
    QTest::newRow("ace exactly twelve bytes") << QByteArray("0123456**ACE") << ArchiveKind::Ace << true;
    QTest::newRow("ace lower case") << QByteArray("0123456**ace**") << ArchiveKind::Ace << false;
    QTest::newRow("ace short") << QByteArray("0123456**AC") << ArchiveKind::Ace << false;
    QTest::newRow("ace at offset 0") << QByteArray("**ACE*******") << ArchiveKind::Ace << false;

    auto arj = [](int at, char next, int size = 200) {
        QByteArray b(size, 'x');
        b[at] = char(0x60);
        if (at + 1 < size)
            b[at + 1] = next;
        return b;
    };
    QTest::newRow("arj at 0") << arj(0, char(0xEA)) << ArchiveKind::Arj << true;
    QTest::newRow("arj first 0x60 at 99, 0xEA at 100") << arj(99, char(0xEA)) << ArchiveKind::Arj << true;
    QTest::newRow("arj first 0x60 at 100") << arj(100, char(0xEA)) << ArchiveKind::Arj << false;
    QTest::newRow("arj 0x60 at 99, file ends") << arj(99, char(0xEA), 100) << ArchiveKind::Arj << false;
    QByteArray firstCounts = arj(20, char(0xEA));
    firstCounts[3] = char(0x60);
    firstCounts[4] = char(0x00);
    QTest::newRow("arj only the first 0x60 counts") << firstCounts << ArchiveKind::Arj << false;
    QTest::newRow("arj no 0x60") << QByteArray(200, 'x') << ArchiveKind::Arj << false;
    QTest::newRow("arj two bytes") << QByteArray("\x60\xEA") << ArchiveKind::Arj << true;

    QTest::newRow("rar bytes are not ace") << QByteArray("Rar!\x1a\x07\x00....", 11) << ArchiveKind::Ace << false;
    QTest::newRow("zip is judged elsewhere") << QByteArray("PK\x03\x04") << ArchiveKind::Zip << false;
    // clang-format on
}

void TestArchiveKind::signature()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ArchiveKind, kind);
    QFETCH(bool, expected);
    const QString path = m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("sig.bin")), bytes);
    QCOMPARE(hasVolumeSignature(path, kind), expected);
}

void TestArchiveKind::signatureOfMissingFileOrFolder()
{
    QVERIFY(!hasVolumeSignature(m_world.onDrive(u'c', QStringLiteral("missing.rar")), ArchiveKind::Rar));
    const QString folder = m_world.makeFolder(m_world.onDrive(u'c', QStringLiteral("folder.rar")));
    QVERIFY(!hasVolumeSignature(folder, ArchiveKind::Rar));
    // A named pipe would block a plain open for ever; it is simply not a volume.
    const QString fifo = m_world.onDrive(u'c', QStringLiteral("pipe.rar"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!hasVolumeSignature(fifo, ArchiveKind::Rar));
    const QString locked = m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("locked.rar")), "Rar!");
    QFile::setPermissions(locked, QFileDevice::Permissions());
    if (QFile(locked).open(QIODevice::ReadOnly))
        QSKIP("running with rights that read any file");
    QVERIFY(!hasVolumeSignature(locked, ArchiveKind::Rar));
}

void TestArchiveKind::signatureClosesTheFile()
{
    const QString path = m_world.writeFile(m_world.onDrive(u'c', QStringLiteral("many.rar")), "Rar!");
    const auto openFiles = [] {
        return QDir(QStringLiteral("/proc/self/fd"))
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
            .size();
    };
    const qsizetype before = openFiles();
    for (int i = 0; i < 50; ++i) {
        QVERIFY(hasVolumeSignature(path, ArchiveKind::Rar));
        QVERIFY(!hasVolumeSignature(path, ArchiveKind::Arj));
        QVERIFY(!hasVolumeSignature(path, ArchiveKind::Ace));
    }
    QCOMPARE(openFiles(), before);
}

void TestArchiveKind::listedPath_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("root") << "C:\\" << "C:\\prog.rar";
    QTest::newRow("folder") << "c:\\dl\\new" << "c:\\dl\\new\\prog.rar";
    QTest::newRow("folder with blank") << "c:\\My Downloads" << "c:\\My Downloads\\prog.rar";
    // clang-format on
}

void TestArchiveKind::listedPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(listedFilePath(folder, u"prog.rar"), expected);
}

QTEST_GUILESS_MAIN(TestArchiveKind)
#include "tst_archivekind.moc"
