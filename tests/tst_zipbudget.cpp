// The zip engine's decoders within their budget: a member that asks for more memory than a
// decoder may take is refused with what it needs, every decoder stops at the request however
// little output it makes, and a directory that lies about its size costs nothing.
#include "archive/memorybudget.h"
#include "archive/zipengine.h"
#include "archive/zipmethods.h"
#include "support/rawzip.h"
#include "support/testworld.h"
#include "support/zipmaker.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

using namespace zelv;
using test::RawMember;
using test::RawZip;

namespace {

std::optional<QByteArray> run(const QString &folder, const QString &command)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    p.waitForFinished(120000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

// The packed data of a member of the method, made by the tools that write it (7-Zip for zip
// members, zstd for Zstandard), from plain.
QByteArray packedBy(int method, const QByteArray &plain, const QString &folder)
{
    QFile f(folder + QStringLiteral("/plain"));
    if (!f.open(QIODevice::WriteOnly) || f.write(plain) != plain.size())
        return {};
    f.close();
    if (method == 93)
        return run(folder, QStringLiteral("zstd -q -c plain")).value_or(QByteArray());
    static const QMap<int, QString> names = {{9, QStringLiteral("Deflate64")},
                                             {12, QStringLiteral("BZip2")},
                                             {14, QStringLiteral("LZMA")},
                                             {95, QStringLiteral("XZ")},
                                             {98, QStringLiteral("PPMd")}};
    if (!run(folder, QStringLiteral("rm -f a.zip && 7zz a -tzip -mm=%1 a.zip plain >/dev/null").arg(names[method])))
        return {};
    QFile zip(folder + QStringLiteral("/a.zip"));
    if (!zip.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = zip.readAll();
    // The only member's data, after its local header.
    const auto le16 = [&](int at) { return int(quint8(bytes[at])) | int(quint8(bytes[at + 1])) << 8; };
    const qint64 packed = qFromLittleEndian<quint32>(bytes.constData() + 18);
    return bytes.mid(30 + le16(26) + le16(28), packed);
}

// Runs of "partial clear" (256, 2) at nine bits each after one literal: no output at all.
QByteArray clearingRuns(qsizetype bytes)
{
    QByteArray out;
    quint64 buffer = 'a';
    int count = 9;
    while (out.size() < bytes) {
        for (const quint64 code : {256, 2}) {
            buffer |= code << count;
            count += 9;
        }
        while (count >= 8) {
            out.append(char(buffer & 0xff));
            buffer >>= 8;
            count -= 8;
        }
    }
    return out;
}

// The XZ stream with its block header asking for the dictionary of the code (LZMA2's byte);
// the header's CRC made to match. xz writes one filter and no sizes in the header.
QByteArray xzAsking(QByteArray s, quint8 dictionaryCode)
{
    const int header = 12, size = (quint8(s[header]) + 1) * 4;
    if (s.size() < header + size || s[header + 1] != 0 || s[header + 2] != 0x21 || s[header + 3] != 1)
        return {};
    s[header + 4] = char(dictionaryCode);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(s.constData() + header), uInt(size - 4)));
    for (int i = 0; i < 4; ++i)
        s[header + size - 4 + i] = char(crc >> (8 * i));
    return s;
}

} // namespace

class TestZipBudget : public QObject {
    Q_OBJECT
private slots:
    void membersAskingTooMuchMemory_data();
    void membersAskingTooMuchMemory();
    void everyDecoderStopsWithoutOutput_data();
    void everyDecoderStopsWithoutOutput();
    void clearingRunsCostWhatTheyFree();
    void lyingDirectoryUnderAnAddressSpaceLimit();
};

void TestZipBudget::membersAskingTooMuchMemory_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint64>("needed");
    const QByteArray junk = test::noiseBytes(4000);
    // LZMA: version, the properties' length 5, lc/lp/pb, a dictionary of 4 GiB less one.
    QTest::newRow("LZMA, 4 GiB dictionary") << 14 << QByteArray::fromHex("091405005dffffffff") + junk << quint64(0);
    // Zstandard: a frame whose window descriptor asks for 2 GiB, one raw block of one byte.
    QTest::newRow("Zstandard, 2 GiB window")
        << 93 << QByteArray::fromHex("28b52ffd00a8090000") + "x" << (quint64(2) << 30);
    // PPMd: order 6, a model of 256 MB.
    QTest::newRow("PPMd, 256 MB model") << 98 << QByteArray::fromHex("f50f") + junk << (quint64(256) << 20);
    QTest::newRow("XZ, 4 GiB dictionary") << 95 << QByteArray() << quint64(0);
}

// Refused before the decoder takes the memory: code 410 with the need, nothing written, and
// the process no larger.
void TestZipBudget::membersAskingTooMuchMemory()
{
    QFETCH(int, method);
    QFETCH(QByteArray, data);
    QFETCH(quint64, needed);
    test::TestWorld w;
    const QString folder = w.onDrive(u'c', QStringLiteral("budget"));
    w.makeFolder(folder);
    const QByteArray plain = test::textBytes(100000);
    if (method == 95) {
        data = xzAsking(run(folder, QStringLiteral("head -c 100000 /dev/zero | xz -c")).value_or(QByteArray()), 40);
        QVERIFY(!data.isEmpty());
    }
    RawMember m = RawMember::stored("big.txt", plain);
    m.data = data;
    m.method = quint16(method);
    RawZip zip;
    zip.addMember(m);
    zip.addEntriesForMembers();
    const QString archive = folder + QStringLiteral("/a.zip");
    QVERIFY(test::writeFileBytes(archive, zip.finish()));

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::atomic<bool> abort{false};
    ZipWhy why;
    QCOMPARE(int(ZipEngine::extract({archive, QString(), folder + QStringLiteral("/dest"), false}, abort, {}, &why)),
             int(ZipUnsupported));
    QVERIFY(why.memoryNeeded > budget::kInProcessWindow);
    if (needed)
        QCOMPARE(why.memoryNeeded, needed);
    QVERIFY(!QFile::exists(folder + QStringLiteral("/dest/big.txt")));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 << 10, "the decoder took the memory it asked for");
}

void TestZipBudget::everyDecoderStopsWithoutOutput_data()
{
    QTest::addColumn<int>("method");
    for (const int method : {1, 6, 9, 12, 14, 93, 95, 98})
        QTest::addRow("method %d", method) << method;
}

// The stop request is asked for before any output: every decoder stops, having handed on
// nothing, and says it stopped.
void TestZipBudget::everyDecoderStopsWithoutOutput()
{
    QFETCH(int, method);
    test::TestWorld w;
    const QString folder = w.onDrive(u'c', QStringLiteral("stop"));
    const QByteArray plain = test::textBytes(3 << 20);
    w.makeFolder(folder);
    QByteArray data;
    quint16 flags = 0;
    if (method == 1) {
        data = clearingRuns(1 << 20);
    } else if (method == 6) {
        const RawMember imploded = RawMember::imploded("a", plain, true, true);
        data = imploded.data;
        flags = imploded.flags;
    } else {
        data = packedBy(method, plain, folder);
    }
    QVERIFY(!data.isEmpty());
    const QString path = folder + QStringLiteral("/packed");
    QVERIFY(test::writeFileBytes(path, data));
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const PackedMember member{fd, 0, quint64(data.size()), quint64(plain.size()), 0, quint16(method), flags};
    int asked = 0;
    qint64 output = 0;
    DecodeControl control{[&asked] { return ++asked > 0; }, budget::kInProcessWindow};
    const DecodeResult r = decodeMember(
        member,
        [&output](const unsigned char *, size_t n) {
            output += qint64(n);
            return true;
        },
        control);
    close(fd);
    QCOMPARE(int(r), int(DecodeResult::Stopped));
    QVERIFY(asked > 0);
    QCOMPARE(output, 0);
}

// Megabytes of clears cost what the codes they free cost: without a stop, the decoding runs
// out of input at once and calls it damage (it made nothing of the declared size).
void TestZipBudget::clearingRunsCostWhatTheyFree()
{
    test::TestWorld w;
    RawMember m = RawMember::stored("old.txt", QByteArray(1000, 'a'));
    m.data = clearingRuns(48 << 20);
    m.method = 1;
    RawZip zip;
    zip.addMember(m);
    zip.addEntriesForMembers();
    const QString archive = w.onDrive(u'c', QStringLiteral("a.zip"));
    QVERIFY(test::writeFileBytes(archive, zip.finish()));
    std::atomic<bool> abort{false};
    QCOMPARE(int(ZipEngine::test({archive, QString(), QString(), false}, abort)), int(ZipDataError));
}

// An end record declaring a directory of 3 GiB over a sparse file: under an address space of
// 2 GiB, the engine refuses it as a damaged structure instead of ending the process.
void TestZipBudget::lyingDirectoryUnderAnAddressSpaceLimit()
{
    test::TestWorld w;
    const QString archive = w.onDrive(u'c', QStringLiteral("lying.zip"));
    const quint64 directory = quint64(3) << 30;
    {
        QFile f(archive);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(directory) + 100));
        QVERIFY(f.seek(qint64(directory) + 100));
        QVERIFY(f.write(test::endRecord(0xffff, directory, 100, 0)) == 22);
    }
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_AS, &saved) == 0);
    const rlimit tight{rlim_t(2) << 30, saved.rlim_max};
    QVERIFY(setrlimit(RLIMIT_AS, &tight) == 0);
    std::atomic<bool> abort{false};
    const ZipCode code = ZipEngine::test({archive, QString(), QString(), false}, abort);
    setrlimit(RLIMIT_AS, &saved);
    QCOMPARE(int(code), int(ZipStructureError));
}

QTEST_GUILESS_MAIN(TestZipBudget)
#include "tst_zipbudget.moc"
