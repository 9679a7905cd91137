#include "archive/zipcentral.h"
#include "archive/zipengine.h"
#include "support/rawzip.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include <sys/stat.h>
#include <zlib.h>

using namespace zelv;
using test::RawMember;
using test::RawZip;
using test::ZipEntry;

namespace {

enum class Damage {
    FlippedStoredByte,
    ReservedDeflateBlock,
    FlippedDeflateByte,
    CutInTheMiddle,
    EndRecordSignature,
    EntryCount,
    CentralDirectoryOffset,
    CentralHeaderSignature,
    LocalNameDisagrees,
    NotAZip,
    EncryptedAes,
    EncryptedPkware,
    UnknownMethod,
    Missing,
    FolderAsArchive,
    DestinationUnderAFile,
};

// Every file, folder ("/" appended) and link ("@" appended) under folder, relative and
// sorted; links are listed, never followed.
QStringList tree(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString entry = base.relativeFilePath(info.filePath());
        if (info.isSymLink())
            entry += u'@';
        else if (info.isDir())
            entry += u'/';
        out << entry;
    }
    out.sort();
    return out;
}

QStringList filesOnly(const QStringList &entries)
{
    QStringList out;
    for (const QString &e : entries)
        if (!e.endsWith(u'/'))
            out << e;
    return out;
}

qint16 extract(const QString &archive, const QString &destination, const QString &masks = QString(),
               bool skipIfExisting = false)
{
    std::atomic<bool> abort{false};
    return ZipEngine::extract({archive, masks, destination, skipIfExisting}, abort);
}

qint16 testArchive(const QString &archive, const QString &masks = QString())
{
    std::atomic<bool> abort{false};
    return ZipEngine::test({archive, masks, QString(), false}, abort);
}

QByteArray contents(const QString &path) { return test::readBytes(path); }

// Runs a shell script in a folder; its exit code, or -1 when it could not run.
int shell(const QString &folder, const QString &script, const QByteArray &input = QByteArray(),
          QByteArray *output = nullptr)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    if (!p.waitForStarted())
        return -1;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000))
        return -1;
    if (output)
        *output = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A member of one stored name whose directory entry says more than its local header does.
RawZip withFolderAndFile(const RawMember &folder, const QByteArray &fileName)
{
    RawZip zip;
    zip.addMember(folder);
    zip.addMember(RawMember::deflated(fileName, "inside the folder"));
    zip.addEntriesForMembers();
    return zip;
}

} // namespace

Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(ZipEntry::NameBytes)
Q_DECLARE_METATYPE(ZipEntry::Method)

class TestZipEngine : public QObject {
    Q_OBJECT
private slots:
    void damagedArchives_data();
    void damagedArchives();
    void failedMemberLeavesNoFile_data();
    void failedMemberLeavesNoFile();
    void masks_data();
    void masks();
    void hostileNames_data();
    void hostileNames();
    void somethingInTheWay_data();
    void somethingInTheWay();
    void linkNamedLikeAFileIsReplaced_data();
    void linkNamedLikeAFileIsReplaced();
    void linksSwappedInWhileItRuns();
    void oldFileAtTheName_data();
    void oldFileAtTheName();
    void existingFiles_data();
    void existingFiles();
    void repeatedNameLastCopyWins();
    void dataAndTimes_data();
    void dataAndTimes();
    void dosTimesAsTheCLibraryReadsThem_data();
    void dosTimesAsTheCLibraryReadsThem();
    void names_data();
    void names();
    void testWritesNothing();
    void testOfEmptyArchive();
    void memberOver4GiB();
    void peersArchives_data();
    void peersArchives();
    void unicodePathField_data();
    void unicodePathField();
    void directoryDisagreesHarmlessly_data();
    void directoryDisagreesHarmlessly();
    void folderByAttributes_data();
    void folderByAttributes();
    void zstandard_data();
    void zstandard();
    void unreadableMethods_data();
    void unreadableMethods();
    void countBeyond16Bits();
    void shrunk_data();
    void shrunk();
    void imploded_data();
    void imploded();
    void abortInALibraryDecoder();

private:
    // The places every test uses: the archive in c:\dl, the destination two folders down, so
    // that anything escaping it lands inside the world where it can be seen.
    static QString archiveIn(const test::TestWorld &w) { return w.onDrive(u'c', QStringLiteral("dl/a.zip")); }
    static QString destinationIn(const test::TestWorld &w) { return w.onDrive(u'c', QStringLiteral("work/in/dest")); }
    static QString outsideIn(const test::TestWorld &w) { return w.onDrive(u'c', QStringLiteral("work/outside")); }
    static void readsClean(const RawMember &member,
                           const std::function<void(const QString &archive, const QString &destination)> &check);
    static void readsAsUnzipDoes(const RawMember &member, const QByteArray &plain);
    static void prepare(const test::TestWorld &w)
    {
        w.makeFolder(QFileInfo(archiveIn(w)).absolutePath());
        w.makeFolder(QFileInfo(destinationIn(w)).absolutePath());
        w.makeFolder(outsideIn(w));
    }
    static bool write(const QString &path, const QList<ZipEntry> &entries)
    {
        QString error;
        const bool ok = test::writeZip(path, entries, &error);
        if (!ok)
            qWarning("%s", qPrintable(error));
        return ok;
    }
};

void TestZipEngine::damagedArchives_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QList<int>>("extractCodes");
    QTest::addColumn<QList<int>>("testCodes");

    const QList<int> crc{ZipCrcError};
    const QList<int> structure{ZipStructureError};
    const QList<int> unsupported{ZipUnsupported};
    const QList<int> cannotOpen{ZipCannotOpen};
    const QList<int> done{ZipDone};
    QTest::newRow("flipped byte in stored data") << Damage::FlippedStoredByte << crc << crc;
    QTest::newRow("deflate block of the reserved type")
        << Damage::ReservedDeflateBlock << QList<int>{ZipDataError} << QList<int>{ZipDataError};
    // Where a random flip lands decides whether the stream breaks or only the CRC differs.
    const QList<int> either{ZipCrcError, ZipDataError};
    QTest::newRow("flipped byte in deflated data") << Damage::FlippedDeflateByte << either << either;
    QTest::newRow("cut in the middle") << Damage::CutInTheMiddle << structure << structure;
    QTest::newRow("end record signature overwritten") << Damage::EndRecordSignature << structure << structure;
    QTest::newRow("entry count too high") << Damage::EntryCount << structure << structure;
    QTest::newRow("directory offset wrong") << Damage::CentralDirectoryOffset << structure << structure;
    QTest::newRow("directory entry signature overwritten") << Damage::CentralHeaderSignature << structure << structure;
    // unzip and 7-Zip go on with the directory's name.
    QTest::newRow("local header name disagrees") << Damage::LocalNameDisagrees << done << done;
    QTest::newRow("not a zip") << Damage::NotAZip << structure << structure;
    QTest::newRow("encrypted, AES") << Damage::EncryptedAes << unsupported << unsupported;
    QTest::newRow("encrypted, PKWARE") << Damage::EncryptedPkware << unsupported << unsupported;
    QTest::newRow("unknown compression method") << Damage::UnknownMethod << unsupported << unsupported;
    QTest::newRow("missing archive") << Damage::Missing << cannotOpen << cannotOpen;
    QTest::newRow("folder as archive") << Damage::FolderAsArchive << cannotOpen << cannotOpen;
    QTest::newRow("destination under a plain file")
        << Damage::DestinationUnderAFile << QList<int>{ZipCannotWrite} << QList<int>{ZipDone};
    // clang-format on
}

void TestZipEngine::damagedArchives()
{
    QFETCH(Damage, damage);
    QFETCH(QList<int>, extractCodes);
    QFETCH(QList<int>, testCodes);

    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QString destination = destinationIn(w);
    const QByteArray name("m.bin");

    ZipEntry member = ZipEntry::file(name, test::textBytes(200000));
    if (damage == Damage::FlippedStoredByte) {
        member.data = test::noiseBytes(5000);
        member.method = ZipEntry::Method::Store;
    } else if (damage == Damage::EncryptedAes || damage == Damage::EncryptedPkware) {
        member.encryption =
            damage == Damage::EncryptedAes ? ZipEntry::Encryption::Aes256 : ZipEntry::Encryption::TraditionalPkware;
        member.password = "secret";
    }
    QVERIFY(write(archive, {ZipEntry::file("first.txt", "a member that is fine"), member}));
    const auto layout = test::readLayout(archive);
    QVERIFY(layout);
    const auto m = layout->member(name);
    QVERIFY(m);
    const qint64 end = layout->endOfCentralDirectory;

    switch (damage) {
    case Damage::FlippedStoredByte:
        QVERIFY(test::flipByte(archive, m->data + 1234));
        break;
    case Damage::ReservedDeflateBlock:
        // First block header: final block, type 3, which no stream may use.
        QVERIFY(test::patchBytes(archive, m->data, QByteArray(1, char(0x07))));
        break;
    case Damage::FlippedDeflateByte:
        QVERIFY(test::flipByte(archive, m->data + m->compressedSize / 2));
        break;
    case Damage::CutInTheMiddle:
        QVERIFY(test::cutFile(archive, QFileInfo(archive).size() / 2));
        break;
    case Damage::EndRecordSignature:
        QVERIFY(test::patchBytes(archive, end, "XXXX"));
        break;
    case Damage::EntryCount:
        QVERIFY(test::patchBytes(archive, end + 8, QByteArray("\x03\x00\x03\x00", 4)));
        break;
    case Damage::CentralDirectoryOffset:
        QVERIFY(test::patchBytes(archive, end + 16, QByteArray(1, char(layout->centralDirectory + 7))));
        break;
    case Damage::CentralHeaderSignature:
        QVERIFY(test::patchBytes(archive, m->centralHeader, "PK\x09\x09"));
        break;
    case Damage::LocalNameDisagrees:
        QVERIFY(test::patchBytes(archive, m->localHeader + 30, "n"));
        break;
    case Damage::NotAZip:
        w.writeFile(archive, test::textBytes(3000));
        break;
    case Damage::EncryptedAes:
    case Damage::EncryptedPkware:
        break;
    case Damage::UnknownMethod:
        QVERIFY(test::setMemberMethod(archive, name, 97)); // WavPack, which nothing here reads
        break;
    case Damage::Missing:
        QVERIFY(QFile::remove(archive));
        break;
    case Damage::FolderAsArchive:
        QVERIFY(QFile::remove(archive));
        w.makeFolder(archive);
        break;
    case Damage::DestinationUnderAFile:
        w.writeFile(destination, "a plain file");
        destination += QStringLiteral("/below");
        break;
    }

    const qint16 tested = testArchive(archive);
    QVERIFY2(testCodes.contains(tested), qPrintable(QString::number(tested)));
    const qint16 extracted = extract(archive, destination);
    QVERIFY2(extractCodes.contains(extracted), qPrintable(QString::number(extracted)));
    // Whatever else was written, the member that failed left nothing behind; one read
    // whole is there under the directory's name.
    QCOMPARE(QFileInfo::exists(destination + u'/' + QString::fromLatin1(name)), extracted == ZipDone);
}

void TestZipEngine::failedMemberLeavesNoFile_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<ZipEntry::Method>("method");
    QTest::addColumn<QList<int>>("codes");

    // Small members are checked before they are written, large ones after; both must vanish.
    QTest::newRow("small, stored") << test::noiseBytes(100000) << ZipEntry::Method::Store << QList<int>{ZipCrcError};
    QTest::newRow("bzip2") << test::textBytes(300000) << ZipEntry::Method::Bzip2
                           << QList<int>{ZipCrcError, ZipDataError};
    QTest::newRow("over 32 MiB, stored")
        << test::noiseBytes((33 << 20) + 17) << ZipEntry::Method::Store << QList<int>{ZipCrcError};
    // Zeros first (quick to deflate), then text, where the damage lands.
    QTest::newRow("over 32 MiB, deflated") << QByteArray(33 << 20, '\0') + test::textBytes(300000)
                                           << ZipEntry::Method::Deflate << QList<int>{ZipCrcError, ZipDataError};
    // clang-format on
}

void TestZipEngine::failedMemberLeavesNoFile()
{
    QFETCH(QByteArray, data);
    QFETCH(ZipEntry::Method, method);
    QFETCH(QList<int>, codes);

    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {ZipEntry::file("sub/big.bin", data, method)}));
    const auto layout = test::readLayout(archive);
    QVERIFY(layout);
    const auto m = layout->member("sub/big.bin");
    QVERIFY(m);
    // Near the end, so most of the member has been written when the damage shows.
    QVERIFY(test::flipByte(archive, m->data + m->compressedSize - 40));

    const QString destination = destinationIn(w);
    const qint16 code = extract(archive, destination);
    QVERIFY2(codes.contains(code), qPrintable(QString::number(code)));
    // Nothing in the destination, and no temporary file beside it either.
    QCOMPARE(filesOnly(tree(w.onDrive(u'c', QStringLiteral("work")))), QStringList());
}

void TestZipEngine::masks_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QString>("masks");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("code");

    const QStringList all{"deep/", "deep/sub/", "deep/sub/c.txt", "docs/", "docs/a.txt", "docs/b.nfo", "empty/",
                          "file_id.diz", "noext", "other/", "other/X.DIZ", "other/docs/", "other/docs/d.txt",
                          "readme.txt"};
    QTest::newRow("*.* and an empty mask after it") << "*.*\r" << all << 0;
    QTest::newRow("empty") << "" << all << 0;
    const QStringList infos{"docs/", "docs/b.nfo", "file_id.diz", "other/", "other/X.DIZ"};
    QTest::newRow("names in any folder") << "*.diz\r*.nfo" << infos << 0;
    QTest::newRow("line feed separates too") << "*.diz\n*.nfo" << infos << 0;
    QTest::newRow("path mask matches the whole path only") << "docs\\*.txt" << QStringList{"docs/", "docs/a.txt"} << 0;
    QTest::newRow("letter case ignored in names") << "README.TXT" << QStringList{"readme.txt"} << 0;
    QTest::newRow("letter case ignored in paths") << "DOCS\\A.Txt" << QStringList{"docs/", "docs/a.txt"} << 0;
    QTest::newRow("name mask is not a path mask")
        << "d.txt" << QStringList{"other/", "other/docs/", "other/docs/d.txt"} << 0;
    QTest::newRow("nothing matches") << "*.exe\rsetup.*" << QStringList() << int(ZipNothingMatched);
    // clang-format on
}

void TestZipEngine::masks()
{
    QFETCH(QString, masks);
    QFETCH(QStringList, expected);
    QFETCH(int, code);

    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {ZipEntry::file("readme.txt", "read me"), ZipEntry::file("file_id.diz", "description"),
                            ZipEntry::file("docs/a.txt", "a"), ZipEntry::file("docs/b.nfo", "info"),
                            ZipEntry::file("deep/sub/c.txt", "c"), ZipEntry::file("other/docs/d.txt", "d"),
                            ZipEntry::file("other/X.DIZ", "x"), ZipEntry::file("noext", "no extension"),
                            ZipEntry::folder("empty/")}));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination, masks)), code);
    if (code == ZipNothingMatched)
        QVERIFY(tree(destination).isEmpty());
    else
        QCOMPARE(tree(destination), expected);
    QCOMPARE(int(testArchive(archive, masks)), code);
    if (expected.contains(QStringLiteral("docs/a.txt")))
        QCOMPARE(contents(destination + QStringLiteral("/docs/a.txt")), QByteArray("a"));
}

void TestZipEngine::hostileNames_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("parent") << QByteArray("../x");
    QTest::newRow("parent, backslash") << QByteArray("..\\x");
    QTest::newRow("parent after a folder") << QByteArray("a/../../x");
    QTest::newRow("parent after a folder, backslashes") << QByteArray("a\\..\\..\\x");
    QTest::newRow("parent folder entry") << QByteArray("../evil/");
    QTest::newRow("absolute") << QByteArray("/abs"); // made absolute inside the world below
    QTest::newRow("drive letter") << QByteArray("C:\\x");
    QTest::newRow("drive letter, relative") << QByteArray("c:x");
    QTest::newRow("control character") << QByteArray("a\x01" "b");
    QTest::newRow("escape character") << QByteArray("a\x1b[2Jb");
    QTest::newRow("tab") << QByteArray("a\tb");
    QTest::newRow("line feed") << QByteArray("a\nb");
    QTest::newRow("delete") << QByteArray("a\x7f");
    // clang-format on
}

void TestZipEngine::hostileNames()
{
    QFETCH(QByteArray, name);

    test::TestWorld w;
    prepare(w);
    if (name.startsWith('/'))
        name = QFile::encodeName(w.root()) + name;
    const QString archive = archiveIn(w);
    // A good member first: an engine that wrote members as it met them would leave it behind.
    ZipEntry hostile = ZipEntry::file(name, "payload");
    hostile.nameBytes = ZipEntry::NameBytes::Raw;
    QVERIFY(write(archive, {ZipEntry::file("good.txt", "fine"), hostile}));
    const QStringList before = tree(w.root());

    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipStructureError));
    QStringList after = tree(w.root());
    // An empty destination folder may remain; nothing else may appear anywhere in the world.
    const QString emptyDestination = QDir(w.root()).relativeFilePath(destination) + u'/';
    if (after.contains(emptyDestination)) {
        QVERIFY(tree(destination).isEmpty());
        after.removeOne(emptyDestination);
    }
    QCOMPARE(after, before);
    QCOMPARE(int(testArchive(archive)), int(ZipStructureError));
}

void TestZipEngine::somethingInTheWay_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("member");
    QTest::addColumn<QString>("inTheWay");
    QTest::addColumn<bool>("isLink");

    QTest::newRow("link named like the member's folder") << QByteArray("sub/f.txt") << "sub" << true;
    QTest::newRow("link named like a folder deeper up") << QByteArray("sub/deeper/f.txt") << "sub" << true;
    QTest::newRow("link named like a folder entry") << QByteArray("sub/") << "sub" << true;
    QTest::newRow("folder named like a file") << QByteArray("f.txt") << "f.txt" << false;
    // clang-format on
}

void TestZipEngine::somethingInTheWay()
{
    QFETCH(QByteArray, member);
    QFETCH(QString, inTheWay);
    QFETCH(bool, isLink);

    test::TestWorld w;
    prepare(w);
    const QString outside = outsideIn(w);
    w.writeFile(outside + QStringLiteral("/keep.txt"), "outside");
    const QString destination = destinationIn(w);
    w.makeFolder(destination);
    if (isLink) {
        QVERIFY(QFile::link(outside, destination + u'/' + inTheWay));
    } else {
        w.writeFile(destination + u'/' + inTheWay + QStringLiteral("/keep.txt"), "inside");
    }
    const QStringList before = tree(destination);
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {member.endsWith('/') ? ZipEntry::folder(member) : ZipEntry::file(member, "member data")}));

    QCOMPARE(int(extract(archive, destination)), int(ZipCannotWrite));
    QCOMPARE(tree(outside), QStringList{"keep.txt"});
    QCOMPARE(contents(outside + QStringLiteral("/keep.txt")), QByteArray("outside"));
    QCOMPARE(tree(destination), before);
}

void TestZipEngine::linkNamedLikeAFileIsReplaced_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to an outside file") << true;
    QTest::newRow("dangling link") << false;
    // clang-format on
}

void TestZipEngine::linkNamedLikeAFileIsReplaced()
{
    QFETCH(bool, targetExists);

    test::TestWorld w;
    prepare(w);
    const QString target = outsideIn(w) + QStringLiteral("/target.txt");
    if (targetExists)
        w.writeFile(target, "outside data");
    const QString destination = destinationIn(w);
    w.makeFolder(destination + QStringLiteral("/sub"));
    QVERIFY(QFile::link(target, destination + QStringLiteral("/sub/f.txt")));
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {ZipEntry::file("sub/f.txt", "member data")}));

    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    const QFileInfo written(destination + QStringLiteral("/sub/f.txt"));
    QVERIFY(!written.isSymLink());
    QVERIFY(written.isFile());
    QCOMPARE(contents(written.filePath()), QByteArray("member data"));
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists)
        QCOMPARE(contents(target), QByteArray("outside data"));
}

void TestZipEngine::linksSwappedInWhileItRuns()
{
    // Into a folder that starts empty, files are created first and looked at only when
    // something is there; links put at the names meanwhile must never be written through.
    test::TestWorld w;
    prepare(w);
    const QString target = outsideIn(w) + QStringLiteral("/target.txt");
    w.writeFile(target, "outside data");
    QList<ZipEntry> entries;
    QStringList names;
    for (int i = 0; i < 300; ++i) {
        names << QStringLiteral("sub/f%1.txt").arg(i);
        entries << ZipEntry::file(names.last().toUtf8(), QByteArray("member ") + QByteArray::number(i));
    }
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, entries));
    for (int round = 0; round < 5; ++round) {
        const QString destination = destinationIn(w) + QString::number(round);
        w.makeFolder(destination);
        std::atomic<bool> done{false};
        std::thread swapper([&] {
            const QByteArray to = QFile::encodeName(target);
            while (!done)
                for (const QString &name : names)
                    ::symlink(to.constData(), QFile::encodeName(destination + u'/' + name).constData());
        });
        const int code = extract(archive, destination);
        done = true;
        swapper.join();
        QVERIFY2(code == ZipDone || code == ZipCannotWrite, qPrintable(QString::number(code)));
        QCOMPARE(contents(target), QByteArray("outside data"));
        for (int i = 0; i < names.size(); ++i) {
            const QFileInfo f(destination + u'/' + names[i]);
            if (f.isFile() && !f.isSymLink())
                QCOMPARE(contents(f.filePath()), QByteArray("member ") + QByteArray::number(i));
        }
    }
}

void TestZipEngine::oldFileAtTheName_data()
{
    QTest::addColumn<QString>("old");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("samePlace");
    const QByteArray text = test::textBytes(20000);
    // Zeros first: streamed, and over old bytes that are not zeros.
    const QByteArray streamed = QByteArray((33 << 20) + 5, '\0') + test::textBytes(1000);
    // clang-format off
    QTest::newRow("an earlier extraction's, longer") << "own" << text << true;
    QTest::newRow("an earlier extraction's, streamed") << "own" << streamed << true;
    QTest::newRow("with a second name outside") << "hardlink" << text << false;
    QTest::newRow("read-only") << "readonly" << text << false;
    QTest::newRow("a pipe") << "fifo" << text << false;
    // clang-format on
}

void TestZipEngine::oldFileAtTheName()
{
    // An earlier extraction's own file is written over in place; anything else at the name is
    // replaced, never written through.
    QFETCH(QString, old);
    QFETCH(QByteArray, data);
    QFETCH(bool, samePlace);
    test::TestWorld w;
    prepare(w);
    const QString destination = destinationIn(w);
    const QString file = destination + QStringLiteral("/sub/f.bin");
    const QString outside = outsideIn(w) + QStringLiteral("/other.bin");
    const QByteArray oldBytes(data.size() + 70000, '\xff');
    w.makeFolder(destination + QStringLiteral("/sub"));
    if (old == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0644), 0);
    } else if (old == u"hardlink") {
        w.writeFile(outside, oldBytes);
        QCOMPARE(::link(QFile::encodeName(outside).constData(), QFile::encodeName(file).constData()), 0);
    } else {
        w.writeFile(file, oldBytes);
        if (old == u"readonly")
            QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    }
    struct stat before;
    QCOMPARE(::lstat(QFile::encodeName(file).constData(), &before), 0);
    // Held open, so that a replaced file's number is not given to its successor.
    const int held = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(held >= 0);
    const auto release = qScopeGuard([held] { ::close(held); });
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {ZipEntry::file("sub/f.bin", data, ZipEntry::Method::Deflate)}));

    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    struct stat after;
    QCOMPARE(::lstat(QFile::encodeName(file).constData(), &after), 0);
    QVERIFY(S_ISREG(after.st_mode));
    QCOMPARE(after.st_nlink, nlink_t(1));
    QCOMPARE(after.st_ino == before.st_ino, samePlace);
    QVERIFY(contents(file) == data);
    if (old == u"hardlink")
        QVERIFY(contents(outside) == oldBytes);
}

void TestZipEngine::existingFiles_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("skipIfExisting");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("overwritten") << false << QByteArray("new data from the archive");
    QTest::newRow("kept") << true << QByteArray("old");
    // clang-format on
}

void TestZipEngine::existingFiles()
{
    QFETCH(bool, skipIfExisting);
    QFETCH(QByteArray, expected);

    test::TestWorld w;
    prepare(w);
    const QString destination = destinationIn(w);
    w.writeFile(destination + QStringLiteral("/docs/readme.txt"), "old");
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {ZipEntry::file("docs/readme.txt", "new data from the archive", ZipEntry::Method::Store),
                            ZipEntry::file("docs/other.txt", "other")}));

    QCOMPARE(int(extract(archive, destination, QString(), skipIfExisting)), int(ZipDone));
    QCOMPARE(contents(destination + QStringLiteral("/docs/readme.txt")), expected);
    QCOMPARE(contents(destination + QStringLiteral("/docs/other.txt")), QByteArray("other"));
}

void TestZipEngine::repeatedNameLastCopyWins()
{
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    // Two spellings of one path, as archives made on DOS and elsewhere mix them.
    QVERIFY(write(archive, {ZipEntry::file("d/a.txt", "first copy", ZipEntry::Method::Store),
                            ZipEntry::file("d\\a.txt", "second copy", ZipEntry::Method::Store)}));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    QCOMPARE(tree(destination), QStringList({"d/", "d/a.txt"}));
    QCOMPARE(contents(destination + QStringLiteral("/d/a.txt")), QByteArray("second copy"));

    // Every copy is read, the one an extraction does not write too: test and extraction agree.
    const auto layout = test::readLayout(archive);
    QVERIFY(layout && layout->members.size() == 2);
    QVERIFY(test::flipByte(archive, layout->members.first().second.data + 2));
    QCOMPARE(int(testArchive(archive)), int(ZipCrcError));
    QCOMPARE(int(extract(archive, destinationIn(w) + QStringLiteral("1"))), int(ZipCrcError));

    // The very same stored name twice: the last copy wins too, and every copy is checked.
    QVERIFY(test::renameMember(archive, "d\\a.txt", "d/a.txt"));
    QCOMPARE(int(testArchive(archive)), int(ZipCrcError));
    QVERIFY(test::flipByte(archive, layout->members.first().second.data + 2));
    QCOMPARE(int(testArchive(archive)), int(ZipDone));
    const QString again = destinationIn(w) + QStringLiteral("2");
    QCOMPARE(int(extract(archive, again)), int(ZipDone));
    QCOMPARE(tree(again), QStringList({"d/", "d/a.txt"}));
    QCOMPARE(contents(again + QStringLiteral("/d/a.txt")), QByteArray("second copy"));
}

void TestZipEngine::dataAndTimes_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<ZipEntry::Method>("method");
    QTest::addColumn<QDateTime>("time");

    // Odd seconds: DOS time keeps two-second steps.
    QTest::newRow("stored") << QByteArray("stored") << ZipEntry::Method::Store
                            << QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59));
    QTest::newRow("deflated") << test::textBytes(5000) << ZipEntry::Method::Deflate
                              << QDateTime(QDate(2003, 7, 19), QTime(14, 35, 21));
    QTest::newRow("streamed") << QByteArray((33 << 20) + 5, '\0') + test::textBytes(1000) << ZipEntry::Method::Deflate
                              << QDateTime(QDate(2011, 2, 3), QTime(4, 5, 6));
    // Ends in a hole that the file's length must still cover.
    QTest::newRow("ending in zeros") << test::textBytes(1000) + QByteArray((3 << 20) + 7, '\0')
                                     << ZipEntry::Method::Deflate << QDateTime(QDate(2015, 6, 7), QTime(8, 9, 10));
    QTest::newRow("bzip2") << test::textBytes(300000) << ZipEntry::Method::Bzip2
                           << QDateTime(QDate(2024, 2, 29), QTime(0, 0, 1));
    // clang-format on
}

void TestZipEngine::dataAndTimes()
{
    QFETCH(QByteArray, data);
    QFETCH(ZipEntry::Method, method);
    QFETCH(QDateTime, time);

    test::TestWorld w;
    prepare(w);
    ZipEntry e = ZipEntry::file("dir/file.dat", data, method);
    e.mtime = time;
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {e}));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    const QFileInfo written(destination + QStringLiteral("/dir/file.dat"));
    QCOMPARE(written.size(), qint64(data.size()));
    QVERIFY(contents(written.filePath()) == data);
    const qint64 difference = written.lastModified().secsTo(time);
    QVERIFY2(qAbs(difference) <= 2, qPrintable(written.lastModified().toString(Qt::ISODate)));
}

void TestZipEngine::dosTimesAsTheCLibraryReadsThem_data()
{
    // Zones as POSIX rules, so that no time zone files are needed.
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDate>("from");
    QTest::newRow("UTC") << QByteArray("UTC0") << QDate(2024, 2, 20);
    QTest::newRow("changes at night") << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3") << QDate(2024, 3, 28);
    QTest::newRow("changes at night, autumn") << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3") << QDate(2024, 10, 24);
    QTest::newRow("changes at midnight") << QByteArray("<-03>3<-02>,M11.1.0/0,M2.3.0/0") << QDate(2018, 11, 1);
    QTest::newRow("changes at midnight, back") << QByteArray("<-03>3<-02>,M11.1.0/0,M2.3.0/0") << QDate(2019, 2, 14);
    QTest::newRow("half-hour changes") << QByteArray("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0") << QDate(2024, 10, 3);
}

void TestZipEngine::dosTimesAsTheCLibraryReadsThem()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDate, from);
    const QByteArray old = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    tzset();
    const auto restore = qScopeGuard([&] {
        if (hadZone)
            qputenv("TZ", old);
        else
            qunsetenv("TZ");
        tzset();
    });
    const auto reference = [](quint32 dos) {
        struct tm t = {};
        t.tm_year = int(dos >> 25) + 80;
        t.tm_mon = int((dos >> 21) & 0x0f) - 1;
        t.tm_mday = int((dos >> 16) & 0x1f);
        t.tm_hour = int((dos >> 11) & 0x1f);
        t.tm_min = int((dos >> 5) & 0x3f);
        t.tm_sec = int(dos & 0x1f) * 2;
        t.tm_isdst = -1;
        return qint64(mktime(&t));
    };
    zelv::DosTimes times;
    int compared = 0;
    for (QDate day = from; day < from.addDays(7); day = day.addDays(1)) {
        const quint32 date = quint32(day.year() - 1980) << 9 | quint32(day.month()) << 5 | quint32(day.day());
        // Every 6 minutes 34 seconds of the day, then fields out of range: hour 24 to 31,
        // minute 60 to 63, second 60 to 62.
        for (quint32 time = 0; time < (1u << 16); time += 197) {
            const quint32 dos = date << 16 | time;
            QVERIFY2(times.toUnix(dos) == reference(dos), qPrintable(QStringLiteral("%1 %2:%3:%4")
                                                                         .arg(day.toString(Qt::ISODate))
                                                                         .arg(time >> 11)
                                                                         .arg((time >> 5) & 0x3f)
                                                                         .arg((time & 0x1f) * 2)));
            ++compared;
        }
    }
    // Dates out of range too: month 0 and 13, day 0.
    for (const quint32 date :
         {quint32(44) << 9 | 0u << 5 | 5u, quint32(44) << 9 | 13u << 5 | 5u, quint32(44) << 9 | 3u << 5}) {
        const quint32 dos = date << 16 | 12u << 11;
        QCOMPARE(times.toUnix(dos), reference(dos));
    }
    QVERIFY(compared > 2000);
}

void TestZipEngine::names_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<ZipEntry::NameBytes>("nameBytes");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("code page 437 u umlaut")
        << QByteArray("\x81" "ber.txt") << ZipEntry::NameBytes::Raw << QStringList{QStringLiteral("über.txt")};
    QTest::newRow("code page 437 capital U umlaut")
        << QByteArray("\x9a" "BER.TXT") << ZipEntry::NameBytes::Raw << QStringList{QStringLiteral("ÜBER.TXT")};
    QTest::newRow("code page 437 folder")
        << QByteArray("d\x81r/\x84.txt") << ZipEntry::NameBytes::Raw
        << QStringList{QStringLiteral("dür/"), QStringLiteral("dür/ä.txt")};
    QTest::newRow("UTF-8 flag")
        << QByteArray("\xc3\xbc" "ber.txt") << ZipEntry::NameBytes::Utf8 << QStringList{QStringLiteral("über.txt")};
    QTest::newRow("UTF-8 flag, beyond Latin")
        << QByteArray("\xe6\x97\xa5\xe6\x9c\xac/\xc3\x9c.txt") << ZipEntry::NameBytes::Utf8
        << QStringList{QStringLiteral("日本/"), QStringLiteral("日本/Ü.txt")};
    // clang-format on
}

void TestZipEngine::names()
{
    QFETCH(QByteArray, raw);
    QFETCH(ZipEntry::NameBytes, nameBytes);
    QFETCH(QStringList, expected);

    test::TestWorld w;
    prepare(w);
    ZipEntry e = ZipEntry::file(raw, "named");
    e.nameBytes = nameBytes;
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {e}));
    // The archive holds what the row says: the raw bytes, with the flag only for UTF-8.
    const auto layout = test::readLayout(archive);
    QVERIFY(layout);
    const auto m = layout->member(raw);
    QVERIFY(m);
    QCOMPARE(bool(m->flags & 0x800), nameBytes == ZipEntry::NameBytes::Utf8);

    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    QCOMPARE(tree(destination), expected);
    QCOMPARE(contents(destination + u'/' + expected.last()), QByteArray("named"));
}

void TestZipEngine::testWritesNothing()
{
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {ZipEntry::file("a/b.txt", test::textBytes(70000)), ZipEntry::folder("c/"),
                            ZipEntry::file("d.bin", test::noiseBytes(3000), ZipEntry::Method::Store)}));
    const QStringList before = tree(w.root());
    std::atomic<bool> abort{false};
    QCOMPARE(int(ZipEngine::test({archive, QString(), destinationIn(w), false}, abort)), int(ZipDone));
    QCOMPARE(tree(w.root()), before);
}

void TestZipEngine::testOfEmptyArchive()
{
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {}));
    QVERIFY(QFileInfo(archive).size() > 0);
    QCOMPARE(int(testArchive(archive)), int(ZipDone));
}

void TestZipEngine::memberOver4GiB()
{
    // The slowest test here: libzip deflates 4 GiB of zeros to make the archive.
    constexpr quint64 size = (4ull << 30) + (1 << 20);
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QElapsedTimer timer;
    timer.start();
    QString error;
    QVERIFY2(test::writeZipOfZeros(archive, "huge/zeros.bin", size, &error), qPrintable(error));
    const qint64 making = timer.restart();

    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    const qint64 extracting = timer.restart();
    const QString written = destination + QStringLiteral("/huge/zeros.bin");
    QCOMPARE(quint64(QFileInfo(written).size()), size);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(written).constData(), &st), 0);
    QVERIFY2(qint64(st.st_blocks) * 512 < (64 << 20), "runs of zeros should be holes");
    QFile::remove(written);

    QCOMPARE(int(testArchive(archive)), int(ZipDone));
    qInfo("4 GiB member: made in %lld ms, extracted in %lld ms, tested in %lld ms", making, extracting,
          timer.elapsed());
}

void TestZipEngine::peersArchives_data()
{
    // The rows read as a table: how the archive a.zip is made from the folder src (beside it),
    // and the peer whose extraction the engine's must equal.
    // clang-format off
    QTest::addColumn<QString>("make");
    QTest::addColumn<QString>("peer");
    const QString sevenZip = QStringLiteral("7zz x -y -oref a.zip");
    const QString unzip = QStringLiteral("unzip -qq a.zip -d ref; [ $? -le 1 ]");
    QTest::newRow("bsdtar, streamed") << "cd src && bsdtar --format zip -cf ../a.zip *" << unzip;
    QTest::newRow("zip -fd, data descriptors") << "cd src && zip -q -r -fd ../a.zip ." << unzip;
    QTest::newRow("zip into a pipe") << "(cd src && zip -q -r - .) | cat > a.zip" << unzip;
    QTest::newRow("Deflate64") << "cd src && 7zz a -tzip -mm=Deflate64 ../a.zip ." << sevenZip;
    QTest::newRow("BZip2") << "cd src && 7zz a -tzip -mm=BZip2 ../a.zip ." << sevenZip;
    QTest::newRow("LZMA") << "cd src && 7zz a -tzip -mm=LZMA ../a.zip ." << sevenZip;
    QTest::newRow("PPMd") << "cd src && 7zz a -tzip -mm=PPMd ../a.zip ." << sevenZip;
    QTest::newRow("XZ") << "cd src && 7zz a -tzip -mm=XZ ../a.zip ." << sevenZip;
    QTest::newRow("Deflate64, maximum compression") << "cd src && 7zz a -tzip -mm=Deflate64 -mx=9 ../a.zip ." << sevenZip;
    QTest::newRow("stub before, offsets not adjusted")
        << "(cd src && zip -q -r ../x.zip .) && head -c 7001 /dev/urandom > stub && cat stub x.zip > a.zip" << unzip;
    QTest::newRow("stub before, zip -A")
        << "(cd src && zip -q -r ../x.zip .) && head -c 7001 /dev/urandom > stub && cat stub x.zip > a.zip && zip -q -A a.zip"
        << unzip;
    QTest::newRow("junk after the end record")
        << "(cd src && zip -q -r ../a.zip .) && head -c 3000 /dev/urandom >> a.zip" << unzip;
    QTest::newRow("padding after the end record")
        << "(cd src && zip -q -r ../a.zip .) && head -c 100000 /dev/zero >> a.zip" << sevenZip;
    QTest::newRow("stub before, padding after")
        << "(cd src && bsdtar --format zip -cf ../x.zip *) && head -c 7001 /dev/urandom > stub && "
           "cat stub x.zip > a.zip && head -c 512 /dev/zero >> a.zip" << unzip;
    // clang-format on
}

void TestZipEngine::peersArchives()
{
    QFETCH(QString, make);
    QFETCH(QString, peer);
    test::TestWorld w;
    const QString folder = w.onDrive(u'c', QStringLiteral("peer"));
    // More than a megabyte of text (the engine's piece) and than the 64 KiB window, noise, an
    // empty file and an empty folder.
    w.writeFile(folder + QStringLiteral("/src/big.txt"), test::textBytes(3 << 20));
    w.writeFile(folder + QStringLiteral("/src/sub/noise.bin"), test::noiseBytes(300000));
    w.writeFile(folder + QStringLiteral("/src/sub/empty.txt"), QByteArray());
    // Repeats further back than deflate reaches and longer than its longest match: Deflate64's
    // own distance and length codes.
    w.writeFile(folder + QStringLiteral("/src/sub/repeats.bin"), test::noiseBytes(40000, 7).repeated(40));
    w.makeFolder(folder + QStringLiteral("/src/sub/nothing"));
    // A setup script keeps its execute bits; a set-user-ID bit never comes out.
    w.writeFile(folder + QStringLiteral("/src/setup"), QByteArray("#!/bin/sh\necho installed\n"));
    w.writeFile(folder + QStringLiteral("/src/sub/owner"), QByteArray("#!/bin/sh\n"));
    QCOMPARE(::chmod(QFile::encodeName(folder + QStringLiteral("/src/setup")).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder + QStringLiteral("/src/sub/owner")).constData(), 04755), 0);
    const mode_t umaskBefore = umask(022);
    const auto restoreUmask = qScopeGuard([umaskBefore] { umask(umaskBefore); });
    QCOMPARE(shell(folder, make), 0);
    const QString archive = folder + QStringLiteral("/a.zip");
    QCOMPARE(shell(folder, peer), 0);

    QCOMPARE(int(testArchive(archive)), int(ZipDone));
    const QString destination = folder + QStringLiteral("/dest");
    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    const QStringList files = filesOnly(tree(destination));
    QCOMPARE(files, filesOnly(tree(folder + QStringLiteral("/ref"))));
    QVERIFY(files.contains(QStringLiteral("sub/noise.bin")));
    const auto mode = [](const QString &path) {
        struct stat st;
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    for (const QString &f : files) {
        QVERIFY2(contents(destination + u'/' + f) == contents(folder + QStringLiteral("/src/") + f), qPrintable(f));
        QCOMPARE(mode(destination + u'/' + f) & 0777, mode(folder + QStringLiteral("/ref/") + f) & 0777);
    }
    QCOMPARE(mode(destination + QStringLiteral("/setup")), 0755);
    QCOMPARE(mode(destination + QStringLiteral("/sub/owner")), 0755);
}

void TestZipEngine::unicodePathField_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("stored"); // the name's bytes, without the UTF-8 flag
    QTest::addColumn<QByteArray>("forName"); // the stored name the Unicode field's CRC was made for; empty: no field
    QTest::addColumn<QString>("expected");
    // As WinZip writes it: the stored name in the DOS code page, the Unicode one beside it.
    QTest::newRow("CRC of the stored name") << QByteArray("price_E\x81.txt") << QByteArray("price_E\x81.txt") << QStringLiteral(u"price_€ü.txt");
    // A tool renamed the member and left the field: the stored name counts.
    QTest::newRow("CRC of another name") << QByteArray("price_E\x81.txt") << QByteArray("old name.txt") << QStringLiteral(u"price_Eü.txt");
    // macOS writes UTF-8 (letters decomposed) and leaves the flag off.
    QTest::newRow("UTF-8 without the flag") << QByteArray("gru\xcc\x88n.png") << QByteArray() << QStringLiteral(u"gru\u0308n.png");
    QTest::newRow("code page 437") << QByteArray("caf\x82.txt") << QByteArray() << QStringLiteral(u"café.txt");
    // clang-format on
}

void TestZipEngine::unicodePathField()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, forName);
    QFETCH(QString, expected);
    RawMember m = RawMember::deflated(stored, "priced");
    const QByteArray utf8 = QStringLiteral(u"price_€ü.txt").toUtf8();
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(forName.constData()), uInt(forName.size())));
    QByteArray field;
    field += char(0x75);
    field += char(0x70);
    field += char((5 + utf8.size()) & 0xff);
    field += char((5 + utf8.size()) >> 8);
    field += char(1);
    for (int i = 0; i < 4; ++i)
        field += char((crc >> (8 * i)) & 0xff);
    if (!forName.isEmpty())
        m.centralExtra = field + utf8;
    readsClean(m, [&](const QString &, const QString &destination) {
        QCOMPARE(tree(destination), QStringList{expected});
        QCOMPARE(contents(destination + u'/' + expected), QByteArray("priced"));
    });
}

void TestZipEngine::directoryDisagreesHarmlessly_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("versionNeeded");
    QTest::addColumn<quint32>("dosTime");
    QTest::newRow("version needed") << 45 << quint32(0x5a2b6000);
    QTest::newRow("date and time") << 20 << quint32(0x5a2c7123);
    // clang-format on
}

void TestZipEngine::directoryDisagreesHarmlessly()
{
    QFETCH(int, versionNeeded);
    QFETCH(quint32, dosTime);
    RawMember m = RawMember::deflated("note.txt", test::textBytes(5000));
    m.centralVersionNeeded = quint16(versionNeeded);
    m.centralDosTime = dosTime;
    readsClean(m, [](const QString &, const QString &destination) {
        QCOMPARE(contents(destination + QStringLiteral("/note.txt")), test::textBytes(5000));
    });
}

void TestZipEngine::folderByAttributes_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("madeBy");
    QTest::addColumn<quint32>("attributes");
    QTest::addColumn<bool>("isFolder");
    QTest::newRow("DOS folder attribute") << 0 << quint32(0x10) << true;
    QTest::newRow("NTFS folder attribute") << 0x0b00 << quint32(0x30) << true;
    QTest::newRow("Unix folder mode") << 0x0300 << quint32(040755u << 16) << true;
    // A Unix maker's mode says a file, whatever the low byte holds.
    QTest::newRow("Unix file mode") << 0x0300 << quint32(0100644u << 16 | 0x10) << false;
    // clang-format on
}

void TestZipEngine::folderByAttributes()
{
    QFETCH(int, madeBy);
    QFETCH(quint32, attributes);
    QFETCH(bool, isFolder);
    RawMember folder = RawMember::stored("docs", QByteArray());
    folder.versionMadeBy = quint16(madeBy | 20);
    folder.externalAttributes = attributes;
    const QByteArray archiveBytes =
        withFolderAndFile(folder, isFolder ? "docs/readme.txt" : "other/readme.txt").finish();
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(test::writeFileBytes(archive, archiveBytes));
    QCOMPARE(int(testArchive(archive)), int(ZipDone));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    if (isFolder) {
        QCOMPARE(tree(destination), QStringList({"docs/", "docs/readme.txt"}));
    } else {
        QCOMPARE(tree(destination), QStringList({"docs", "other/", "other/readme.txt"}));
        QCOMPARE(contents(destination + QStringLiteral("/docs")), QByteArray());
    }
}

void TestZipEngine::zstandard_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("size");
    QTest::newRow("93, the registered number") << 93 << (3 << 20);
    QTest::newRow("20, an early writers' number") << 20 << (3 << 20);
    // The last output fills the decoder's buffer exactly.
    QTest::newRow("exactly 1 MiB") << 93 << (1 << 20);
    QTest::newRow("exactly 2 MiB") << 93 << (2 << 20);
    // clang-format on
}

void TestZipEngine::zstandard()
{
    QFETCH(int, method);
    QFETCH(int, size);
    const QByteArray plain = test::textBytes(size);
    QByteArray packed;
    QCOMPARE(shell(QDir::tempPath(), QStringLiteral("zstd -q -c -"), plain, &packed), 0);
    QVERIFY(packed.size() > 0 && packed.size() < plain.size());
    RawMember m = RawMember::stored("big.txt", plain);
    m.data = packed;
    m.method = quint16(method);
    readsClean(m, [&](const QString &, const QString &destination) {
        QCOMPARE(contents(destination + QStringLiteral("/big.txt")), plain);
    });
}

void TestZipEngine::unreadableMethods_data()
{
    // The methods nothing here reads: the old Reduce, and the rare ones.
    QTest::addColumn<int>("method");
    for (int method : {2, 3, 4, 5, 7, 10, 16, 18, 19, 94, 96, 97})
        QTest::addRow("%d", method) << method;
}

void TestZipEngine::unreadableMethods()
{
    QFETCH(int, method);
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(write(archive, {ZipEntry::file("fine.txt", "readable"), ZipEntry::file("odd.bin", test::textBytes(9000))}));
    QVERIFY(test::setMemberMethod(archive, "odd.bin", quint16(method)));
    QCOMPARE(int(testArchive(archive)), int(ZipUnsupported));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipUnsupported));
    QVERIFY(!QFileInfo::exists(destination + QStringLiteral("/odd.bin")));
}

// More members than the end record's 16 bits count, without zip64: the count wraps, as some
// writers leave it, and the directory itself says how many there are.
void TestZipEngine::countBeyond16Bits()
{
    RawZip zip;
    constexpr int kMembers = 0x10000 + 2;
    for (int i = 0; i < kMembers; ++i)
        zip.addMember(RawMember::stored("f" + QByteArray::number(i) + ".txt", QByteArray::number(i)));
    zip.addEntriesForMembers();
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(test::writeFileBytes(archive, zip.finish()));
    QCOMPARE(int(testArchive(archive)), int(ZipDone));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination, QStringLiteral("f65537.txt"))), int(ZipDone));
    QCOMPARE(tree(destination), QStringList{"f65537.txt"});
    QCOMPARE(contents(destination + QStringLiteral("/f65537.txt")), QByteArray("65537"));
}

void TestZipEngine::shrunk_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("plain");
    QTest::newRow("a few bytes") << QByteArray("abababababab");
    // Every code size up to 13 bits, then full tables partly cleared again and again.
    QTest::newRow("text past a full table") << test::textBytes(400000);
    QTest::newRow("noise") << test::noiseBytes(60000);
    // clang-format on
}

// An archive of the one member: the engine tests it clean and extracts it whole; then check
// looks at the archive and what came out.
void TestZipEngine::readsClean(const RawMember &member,
                               const std::function<void(const QString &archive, const QString &destination)> &check)
{
    RawZip zip;
    zip.addMember(member);
    zip.addEntriesForMembers();
    test::TestWorld w;
    prepare(w);
    const QString archive = archiveIn(w);
    QVERIFY(test::writeFileBytes(archive, zip.finish()));
    QCOMPARE(int(testArchive(archive)), int(ZipDone));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(archive, destination)), int(ZipDone));
    check(archive, destination);
}

void TestZipEngine::readsAsUnzipDoes(const RawMember &member, const QByteArray &plain)
{
    readsClean(member, [&](const QString &archive, const QString &destination) {
        QByteArray peer;
        QCOMPARE(shell(QFileInfo(archive).absolutePath(), QStringLiteral("unzip -p a.zip"), QByteArray(), &peer), 0);
        QCOMPARE(peer, plain);
        QCOMPARE(contents(destination + QStringLiteral("/old.txt")), plain);
    });
}

// Shrink as PKZIP 1 wrote it, checked against unzip's own unshrinking.
void TestZipEngine::shrunk()
{
    QFETCH(QByteArray, plain);
    readsAsUnzipDoes(RawMember::shrunk("old.txt", plain), plain);
}

void TestZipEngine::imploded_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("literalTree");
    QTest::addColumn<bool>("bigWindow");
    QTest::newRow("three trees, 8 KiB") << true << true;
    QTest::newRow("three trees, 4 KiB") << true << false;
    QTest::newRow("two trees, 8 KiB") << false << true;
    QTest::newRow("two trees, 4 KiB") << false << false;
    // clang-format on
}

// Implode as PKZIP 1 wrote it, checked against unzip's own exploding: text for matches of
// every length, noise for literals, past a megabyte for the window's reuse.
void TestZipEngine::imploded()
{
    QFETCH(bool, literalTree);
    QFETCH(bool, bigWindow);
    const QByteArray plain = test::textBytes(1200000) + test::noiseBytes(5000) + QByteArray(2000, 'z');
    readsAsUnzipDoes(RawMember::imploded("old.txt", plain, literalTree, bigWindow), plain);
}

// A member that libarchive decodes slowly (PPMd) stops at the abort, between its pieces, and
// leaves no file.
void TestZipEngine::abortInALibraryDecoder()
{
    test::TestWorld w;
    const QString folder = w.onDrive(u'c', QStringLiteral("slow"));
    w.writeFile(folder + QStringLiteral("/big.txt"), test::textBytes(6 << 20));
    QCOMPARE(shell(folder, QStringLiteral("7zz a -tzip -mm=PPMd a.zip big.txt")), 0);
    std::atomic<bool> abort{false};
    int reports = 0;
    const QString destination = folder + QStringLiteral("/dest");
    const ZipCode code = ZipEngine::extract({folder + QStringLiteral("/a.zip"), QString(), destination, false}, abort,
                                            [&](const ZipProgress &) {
                                                ++reports;
                                                abort = true;
                                            });
    QCOMPARE(int(code), int(ZipAborted));
    QVERIFY(reports >= 1);
    QCOMPARE(tree(destination), QStringList());
}

QTEST_GUILESS_MAIN(TestZipEngine)
#include "tst_zipengine.moc"
