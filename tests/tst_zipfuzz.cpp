// Mutated archives against the engine's reading of the directory: a seeded loop of bit flips,
// lying header fields, cuts and splices over valid and hostile seeds. Whatever the bytes, the
// engine answers a known code, writes nothing unless the directory passed every check, never
// more than the directory declares, and nothing outside the destination.
#include "archive/zipcentral.h"
#include "archive/zipengine.h"
#include "support/rawzip.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <random>

using namespace zelv;
using test::RawMember;
using test::RawZip;
using test::ZipEntry;

namespace {

// Bytes of every file under folder, and the entries outside it.
qint64 bytesUnder(const QString &folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

QStringList entriesOutside(const QString &root, const QString &skipped)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path != skipped && !path.startsWith(skipped + u'/'))
            out << path;
    }
    out.sort();
    return out;
}

QByteArray zip64Seed()
{
    // A directory found through a zip64 record, the end record saturated as writers leave it.
    const RawMember a = RawMember::stored("a.txt", "zip64 directory");
    const RawMember b = RawMember::deflated("dir/b.txt", test::textBytes(3000));
    RawZip zip;
    const qint64 aAt = zip.addMember(a);
    const qint64 bAt = zip.addMember(b);
    const QByteArray directory = test::centralHeader(a, quint64(a.data.size()), quint64(aAt)) +
                                 test::centralHeader(b, quint64(b.data.size()), quint64(bAt));
    const qint64 directoryAt = zip.append(directory);
    const qint64 record = zip.append(test::zip64EndRecord(2, quint64(directory.size()), quint64(directoryAt)));
    zip.append(test::zip64Locator(quint64(record)));
    zip.append(test::endRecord(0xffff, 0xffffffff, 0xffffffff, 0));
    return zip.bytes();
}

} // namespace

class TestZipFuzz : public QObject {
    Q_OBJECT
private slots:
    void zip64DirectoryIsRead();
    void mutatedArchives();

private:
    QList<QByteArray> seeds(const test::TestWorld &w);
};

QList<QByteArray> TestZipFuzz::seeds(const test::TestWorld &w)
{
    QList<QByteArray> out;
    const QString path = w.onDrive(u'c', QStringLiteral("seed.zip"));
    const auto made = [&](const QList<ZipEntry> &entries) {
        if (test::writeZip(path, entries))
            out << test::readBytes(path);
    };
    made({ZipEntry::file("readme.txt", "read me"), ZipEntry::file("docs/a.txt", test::textBytes(4000)),
          ZipEntry::file("bin/setup.exe", test::noiseBytes(3000), ZipEntry::Method::Store), ZipEntry::folder("empty/"),
          ZipEntry::file("b.bz2", test::textBytes(2000), ZipEntry::Method::Bzip2)});
    QList<ZipEntry> many;
    for (int i = 0; i < 30; ++i)
        many << ZipEntry::file("d" + QByteArray::number(i % 4) + "/f" + QByteArray::number(i) + ".txt",
                               test::textBytes(50 + i * 10),
                               i % 2 ? ZipEntry::Method::Store : ZipEntry::Method::Deflate);
    made(many);
    ZipEntry named = ZipEntry::file("\x81"
                                    "ber/\x84.txt",
                                    "code page 437");
    named.nameBytes = ZipEntry::NameBytes::Raw;
    made({named, ZipEntry::file("\xc3\xbc"
                                "ber.txt",
                                "utf-8")});

    out << test::overlappingBomb(4, 4000) << zip64Seed();
    RawZip commented;
    commented.addMember(RawMember::stored("x.txt", "with a comment"));
    commented.addEntriesForMembers();
    out << commented.finish("PK\x05\x06 a comment that looks like an end record");

    // Other writers and every other method decoded: streamed members, a stub before and bytes
    // after the archive, and 7-Zip's methods, each over text long enough for real codes.
    const QString folder = w.onDrive(u'c', QStringLiteral("made"));
    w.writeFile(folder + QStringLiteral("/src/t.txt"), test::textBytes(6000));
    w.writeFile(folder + QStringLiteral("/src/n.bin"), test::noiseBytes(700));
    const QStringList commands{
        QStringLiteral("cd src && bsdtar --format zip -cf ../a.zip *"),
        QStringLiteral("(cd src && zip -q - *) > x.zip && head -c 300 /dev/urandom > s && cat s x.zip > a.zip && "
                       "head -c 100 /dev/zero >> a.zip"),
        QStringLiteral("cd src && 7zz a -tzip -mm=Deflate64 ../a.zip *"),
        QStringLiteral("cd src && 7zz a -tzip -mm=BZip2 ../a.zip *"),
        QStringLiteral("cd src && 7zz a -tzip -mm=LZMA ../a.zip *"),
        QStringLiteral("cd src && 7zz a -tzip -mm=PPMd ../a.zip *"),
        QStringLiteral("cd src && 7zz a -tzip -mm=XZ ../a.zip *"),
        QStringLiteral("zstd -q -c src/t.txt > a.zst"),
    };
    for (const QString &command : commands) {
        QFile::remove(folder + QStringLiteral("/a.zip"));
        QProcess p;
        p.setWorkingDirectory(folder);
        p.start(QStringLiteral("bash"), {QStringLiteral("-c"), command});
        if (p.waitForFinished(60000) && p.exitCode() == 0 && QFileInfo::exists(folder + QStringLiteral("/a.zip")))
            out << test::readBytes(folder + QStringLiteral("/a.zip"));
    }
    RawMember zstd = RawMember::stored("t.txt", test::textBytes(6000));
    zstd.data = test::readBytes(folder + QStringLiteral("/a.zst"));
    zstd.method = 93;
    RawZip zstdZip;
    zstdZip.addMember(zstd);
    zstdZip.addEntriesForMembers();
    if (!zstd.data.isEmpty())
        out << zstdZip.finish();
    RawZip old;
    old.addMember(RawMember::shrunk("s.txt", test::textBytes(30000)));
    old.addMember(RawMember::imploded("i.txt", test::textBytes(20000), true, true));
    old.addMember(RawMember::imploded("j.txt", test::textBytes(9000), false, false));
    old.addEntriesForMembers();
    out << old.finish();
    return out;
}

void TestZipFuzz::zip64DirectoryIsRead()
{
    test::TestWorld w;
    const QString path = w.onDrive(u'c', QStringLiteral("z64.zip"));
    QVERIFY(test::writeFileBytes(path, zip64Seed()));
    std::atomic<bool> abort{false};
    const QString destination = w.onDrive(u'c', QStringLiteral("dest"));
    QCOMPARE(int(ZipEngine::extract({path, QString(), destination, false}, abort)), int(ZipDone));
    QCOMPARE(test::readBytes(destination + QStringLiteral("/a.txt")), QByteArray("zip64 directory"));
    QCOMPARE(test::readBytes(destination + QStringLiteral("/dir/b.txt")), test::textBytes(3000));
}

void TestZipFuzz::mutatedArchives()
{
    test::TestWorld w;
    const QList<QByteArray> seedList = seeds(w);
    QVERIFY(seedList.size() >= 15);
    const QString archive = w.onDrive(u'c', QStringLiteral("dl/mutant.zip"));
    const QString destination = w.onDrive(u'c', QStringLiteral("work/dest"));
    QVERIFY(test::writeFileBytes(archive, seedList.first()));
    w.makeFolder(destination);
    const QStringList before = entriesOutside(w.root(), destination);
    const QList<int> known{ZipDone,           ZipCrcError,  ZipStructureError, ZipCannotOpen,
                           ZipNothingMatched, ZipDataError, ZipCannotWrite,    ZipUnsupported};
    static const quint64 interesting[] = {0, 1, 0x7f, 0x80, 0xff, 0xffff, 0x7fffffff, 0xffffffff, 46, 22, 30};

    // A longer or other run for a developer: ZELV_FUZZ_ROUNDS=200000 ZELV_FUZZ_SEED=7.
    const int rounds =
        qEnvironmentVariableIsSet("ZELV_FUZZ_ROUNDS") ? qEnvironmentVariableIntValue("ZELV_FUZZ_ROUNDS") : 4000;
    std::mt19937 random(
        qEnvironmentVariableIsSet("ZELV_FUZZ_SEED") ? uint(qEnvironmentVariableIntValue("ZELV_FUZZ_SEED")) : 20261208u);
    const auto below = [&](size_t n) { return n ? size_t(random() % n) : 0; };
    int extracted = 0, accepted = 0;
    for (int round = 0; round < rounds; ++round) {
        QByteArray bytes = seedList[qsizetype(below(size_t(seedList.size())))];
        const int mutations = 1 + int(below(3));
        for (int k = 0; k < mutations && !bytes.isEmpty(); ++k) {
            const size_t size = size_t(bytes.size());
            switch (below(6)) {
            case 0: // a flipped bit
                bytes[qsizetype(below(size))] ^= char(1 << below(8));
                break;
            case 1: { // a header field that lies, next to a signature
                const qsizetype pk = bytes.indexOf("PK", qsizetype(below(size)));
                const qsizetype at = (pk >= 0 ? pk : 0) + qsizetype(below(48));
                quint64 v = interesting[below(std::size(interesting))];
                for (size_t b = 0, width = below(2) ? 4 : 2; b < width && at + qsizetype(b) < bytes.size();
                     ++b, v >>= 8)
                    bytes[at + qsizetype(b)] = char(v & 0xff);
                break;
            }
            case 2: // cut
                bytes.truncate(qsizetype(below(size)));
                break;
            case 3: { // a piece of itself inserted elsewhere
                const qsizetype from = qsizetype(below(size)), length = qsizetype(below(200));
                bytes.insert(qsizetype(below(size)), bytes.mid(from, length));
                break;
            }
            case 4: // the end of another seed
                bytes += seedList[qsizetype(below(size_t(seedList.size())))].right(qsizetype(below(300)));
                break;
            default: // a random byte
                bytes[qsizetype(below(size))] = char(random());
                break;
            }
        }
        QVERIFY(test::writeFileBytes(archive, bytes));

        QFile file(archive);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto directory = readCentralDirectory(file.handle());
        file.close();
        quint64 declared = 0;
        if (directory) {
            ++accepted;
            for (const CentralEntry &e : *directory) {
                QVERIFY(e.data + e.compressedSize <= quint64(bytes.size()));
                declared += e.size;
            }
        }

        std::atomic<bool> abort{false};
        const qint16 tested = ZipEngine::test({archive, QString(), QString(), false}, abort);
        QVERIFY2(known.contains(tested), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(tested)));
        if (round % 8 != 0)
            continue;
        ++extracted;
        QVERIFY(QDir(destination).removeRecursively());
        const qint16 code = ZipEngine::extract({archive, QString(), destination, false}, abort);
        QVERIFY2(known.contains(code), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(code)));
        // Nothing is written for an archive whose directory failed a check, and never more
        // than the directory declares.
        const qint64 written = bytesUnder(destination);
        QVERIFY2(directory || written == 0, qPrintable(QStringLiteral("round %1").arg(round)));
        QVERIFY2(quint64(written) <= declared, qPrintable(QStringLiteral("round %1").arg(round)));
    }
    QVERIFY(QDir(destination).removeRecursively());
    QCOMPARE(entriesOutside(w.root(), destination), before);
    qInfo("%d mutants, %d with a directory that passed, %d extracted", rounds, accepted, extracted);
}

QTEST_GUILESS_MAIN(TestZipFuzz)
#include "tst_zipfuzz.moc"
