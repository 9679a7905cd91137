// The zip engine against archives made to deceive it: overlapping members, a second directory,
// a zip64 locator pointing elsewhere, paths deeper than any cache, a low open-file limit,
// failures that race between the workers, and names that hide what they are.
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

#include <sys/resource.h>
#include <zlib.h>

using namespace zelv;
using test::RawMember;
using test::RawZip;
using test::ZipEntry;

namespace {

qint16 extract(const QString &archive, const QString &destination)
{
    std::atomic<bool> abort{false};
    return ZipEngine::extract({archive, QString(), destination, false}, abort);
}

qint16 testArchive(const QString &archive)
{
    std::atomic<bool> abort{false};
    return ZipEngine::test({archive, QString(), QString(), false}, abort);
}

// An archive of one member readme.txt whose directory says "real"; a second directory (or a
// zip64 record) says the same name, sizes and CRC for other bytes.
const QByteArray kReal = "The real readme that every other tool shows.\n";

RawMember forgedTwin()
{
    QByteArray other = "Run evil.exe first; it is safe, trust us!!!\n";
    other.resize(kReal.size() - 4, ' ');
    other += test::crcForgery(other, RawMember::stored("", kReal).crc);
    return RawMember::stored("readme.txt", other);
}

QByteArray secondDirectoryInTheComment()
{
    RawZip zip;
    zip.addMember(RawMember::stored("readme.txt", kReal));
    zip.addEntriesForMembers();
    const qint64 directory = zip.append(QByteArray());
    // Everything after the true end record is its comment: a member, its directory and an end
    // record of their own that reaches the end of the file just as well.
    const RawMember twin = forgedTwin();
    QByteArray comment;
    const qint64 afterEnd = directory + test::centralHeader(RawMember::stored("readme.txt", kReal), 0, 0).size() + 22;
    const qint64 twinAt = afterEnd;
    comment += test::localHeader(twin, quint64(twin.data.size())) + twin.data;
    const QByteArray twinDirectory = test::centralHeader(twin, quint64(twin.data.size()), quint64(twinAt));
    const qint64 twinDirectoryAt = afterEnd + comment.size();
    comment += twinDirectory;
    comment += test::endRecord(1, quint64(twinDirectory.size()), quint64(twinDirectoryAt), 0);
    return zip.finish(comment);
}

// The end record describes the real directory with values that need no zip64; a locator
// before it leads to a zip64 record for the twin's directory, out of its place or right there.
QByteArray zip64LocatorElsewhere(bool inPlace)
{
    RawZip zip;
    const RawMember real = RawMember::stored("readme.txt", kReal);
    const qint64 realAt = zip.addMember(real);
    const RawMember twin = forgedTwin();
    const qint64 twinAt = zip.append(test::localHeader(twin, quint64(twin.data.size())) + twin.data);
    const QByteArray directory = test::centralHeader(real, quint64(real.data.size()), quint64(realAt));
    const QByteArray twinDirectory = test::centralHeader(twin, quint64(twin.data.size()), quint64(twinAt));
    qint64 directoryAt = -1;
    if (inPlace)
        directoryAt = zip.append(directory);
    const qint64 twinDirectoryAt = zip.append(twinDirectory);
    const qint64 zip64End =
        zip.append(test::zip64EndRecord(1, quint64(twinDirectory.size()), quint64(twinDirectoryAt)));
    if (!inPlace)
        directoryAt = zip.append(directory);
    zip.append(test::zip64Locator(quint64(zip64End)));
    zip.append(test::endRecord(1, quint64(directory.size()), quint64(directoryAt), 0));
    return zip.bytes();
}

// One member whose stored data covers the whole of the next member, header and all.
QByteArray memberInsideAnother()
{
    const RawMember inner = RawMember::stored("inner.txt", "inner data");
    const QByteArray innerBytes = test::localHeader(inner, quint64(inner.data.size())) + inner.data;
    const RawMember outer = RawMember::stored("outer.txt", innerBytes);
    RawZip zip;
    const qint64 outerAt = zip.append(test::localHeader(outer, quint64(outer.data.size())));
    const qint64 innerAt = zip.append(innerBytes);
    zip.addEntry(outer, quint64(outer.data.size()), quint64(outerAt));
    zip.addEntry(inner, quint64(inner.data.size()), quint64(innerAt));
    return zip.finish();
}

// Two directory entries of one name on the very same local header.
QByteArray twoEntriesOneHeader()
{
    const RawMember m = RawMember::stored("same.txt", "shared");
    RawZip zip;
    const qint64 at = zip.addMember(m);
    zip.addEntry(m, quint64(m.data.size()), quint64(at));
    zip.addEntry(m, quint64(m.data.size()), quint64(at));
    return zip.finish();
}

// The soft open-file limit lowered for a while, put back when it goes.
class OpenFileLimit {
public:
    explicit OpenFileLimit(rlim_t soft)
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = std::min(soft, m_saved.rlim_max);
        m_ok = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~OpenFileLimit() { setrlimit(RLIMIT_NOFILE, &m_saved); }
    bool ok() const { return m_ok; }

private:
    rlimit m_saved{};
    bool m_ok = false;
};

QByteArray littleEndian32(quint32 v)
{
    QByteArray b;
    for (int i = 0; i < 4; ++i)
        b += char((v >> (8 * i)) & 0xff);
    return b;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestZipHostile : public QObject {
    Q_OBJECT
private slots:
    void refusedBeforeAnythingIsWritten_data();
    void refusedBeforeAnythingIsWritten();
    void deepMembers_data();
    void deepMembers();
    void manyFoldersUnderALowOpenFileLimit();
    void firstFailureInArchiveOrderDecides_data();
    void firstFailureInArchiveOrderDecides();
    void hiddenNames_data();
    void hiddenNames();
    void decodersKeepToTheDirectory_data();
    void decodersKeepToTheDirectory();
    void forgedEndRecordBehindAStub();
    void localHeadersOfAnySize_data();
    void localHeadersOfAnySize();

private:
    static QString archiveIn(const test::TestWorld &w) { return w.onDrive(u'c', QStringLiteral("dl/a.zip")); }
    static QString destinationIn(const test::TestWorld &w) { return w.onDrive(u'c', QStringLiteral("work/dest")); }
};

void TestZipHostile::refusedBeforeAnythingIsWritten_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("why");

    QTest::newRow("second directory in the comment") << secondDirectoryInTheComment() << QByteArray("more than one end record");
    QTest::newRow("zip64 locator leading elsewhere")
        << zip64LocatorElsewhere(false) << QByteArray("zip64 end record out of place");
    QTest::newRow("zip64 record describing another directory")
        << zip64LocatorElsewhere(true) << QByteArray("zip64 end record disagrees with the end record");
    QTest::newRow("member data covering another member") << memberInsideAnother() << QByteArray("members overlap");
    QTest::newRow("two entries on one local header") << twoEntriesOneHeader() << QByteArray("members overlap");
    QTest::newRow("twenty members sharing one deflate stream")
        << test::overlappingBomb(20, 1 << 20) << QByteArray("members overlap");
    // clang-format on
}

void TestZipHostile::refusedBeforeAnythingIsWritten()
{
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, why);

    test::TestWorld w;
    const QString path = archiveIn(w);
    QVERIFY(test::writeFileBytes(path, archive));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const char *reason = nullptr;
    QVERIFY(!readCentralDirectory(file.handle(), &reason));
    QCOMPARE(QByteArray(reason), why);
    QCOMPARE(int(testArchive(path)), int(ZipStructureError));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(path, destination)), int(ZipStructureError));
    QCOMPARE(test::entriesBelow(destination), QStringList());
}

void TestZipHostile::deepMembers_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<int>("depth");
    // Deeper than the folders one worker keeps open, and as deep as a path can be named here.
    QTest::newRow("600 folders") << 600;
    QTest::newRow("1900 folders") << 1900;
    // clang-format on
}

void TestZipHostile::deepMembers()
{
    QFETCH(int, depth);

    test::TestWorld w;
    const QByteArray folder = QByteArray("d/").repeated(depth);
    const QString path = archiveIn(w);
    QVERIFY(test::writeZip(path, {ZipEntry::file(folder + "deep.txt", "at the bottom"),
                                  ZipEntry::file(folder.left(folder.size() / 2) + "half.txt", "half way"),
                                  ZipEntry::folder(folder + "empty/")}));
    QCOMPARE(int(testArchive(path)), int(ZipDone));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(path, destination)), int(ZipDone));
    const QString bottom = destination + u'/' + QString::fromLatin1(folder);
    QCOMPARE(test::readBytes(bottom + QStringLiteral("deep.txt")), QByteArray("at the bottom"));
    QVERIFY(QFileInfo(bottom + QStringLiteral("empty")).isDir());
    QCOMPARE(test::readBytes(destination + u'/' + QString::fromLatin1(folder.left(folder.size() / 2)) +
                             QStringLiteral("half.txt")),
             QByteArray("half way"));
}

void TestZipHostile::manyFoldersUnderALowOpenFileLimit()
{
    test::TestWorld w;
    QList<ZipEntry> entries;
    for (int i = 0; i < 3000; ++i)
        entries << ZipEntry::file("f" + QByteArray::number(i) + "/sub/x.txt", QByteArray::number(i),
                                  ZipEntry::Method::Store);
    const QString path = archiveIn(w);
    QVERIFY(test::writeZip(path, entries));

    const QString destination = destinationIn(w);
    for (int round = 0; round < 3; ++round) {
        qint16 code = -1;
        {
            // Room for what the engine needs besides its folders, and not many of those.
            OpenFileLimit limit(rlim_t(openDescriptors() + 48));
            QVERIFY(limit.ok());
            code = extract(path, destination);
        }
        QCOMPARE(int(code), int(ZipDone));
    }
    for (int i : {0, 1234, 2999})
        QCOMPARE(test::readBytes(destination + QStringLiteral("/f%1/sub/x.txt").arg(i)), QByteArray::number(i));
}

void TestZipHostile::firstFailureInArchiveOrderDecides_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<bool>("write");
    QTest::newRow("test") << false;
    QTest::newRow("extract") << true;
    // clang-format on
}

void TestZipHostile::firstFailureInArchiveOrderDecides()
{
    QFETCH(bool, write);

    // The first member fails its CRC; the second, larger one fails at once when inflated and
    // is met first, as the largest member goes first; the third keeps the other worker busy.
    test::TestWorld w;
    const QString path = archiveIn(w);
    QVERIFY(test::writeZip(path, {ZipEntry::file("crc.bin", test::noiseBytes(5000), ZipEntry::Method::Store),
                                  ZipEntry::file("broken.txt", test::textBytes(4 << 20)),
                                  ZipEntry::file("busy.txt", test::textBytes(8 << 20))}));
    const auto layout = test::readLayout(path);
    QVERIFY(layout);
    QVERIFY(test::flipByte(path, layout->member("crc.bin")->data + 100));
    // The first block header says "reserved type": the stream breaks at its first byte.
    QVERIFY(test::patchBytes(path, layout->member("broken.txt")->data, QByteArray(1, char(0x07))));

    for (int round = 0; round < 5; ++round) {
        const qint16 code = write ? extract(path, destinationIn(w)) : testArchive(path);
        QCOMPARE(int(code), int(ZipCrcError));
    }
}

void TestZipHostile::hiddenNames_data()
{
    // The rows read as a table.
    // clang-format off
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("utf8");

    QTest::newRow("NUL in the stored name") << QByteArray("evil\0.txt", 9) << false;
    QTest::newRow("next line, U+0085") << QByteArray("a\xc2\x85" "b.txt") << true;
    QTest::newRow("C1 control, U+009B") << QByteArray("a\xc2\x9b" "2J.txt") << true;
    QTest::newRow("right-to-left override, U+202E") << QByteArray("photo\xe2\x80\xae" "gpj.exe") << true;
    QTest::newRow("left-to-right isolate, U+2066") << QByteArray("a\xe2\x81\xa6" "b.txt") << true;
    // clang-format on
}

void TestZipHostile::hiddenNames()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, utf8);

    RawMember m = RawMember::stored(name, "payload");
    if (utf8)
        m.flags = 0x800;
    RawZip zip;
    zip.addMember(RawMember::stored("good.txt", "fine"));
    zip.addMember(m);
    zip.addEntriesForMembers();
    test::TestWorld w;
    const QString path = archiveIn(w);
    QVERIFY(test::writeFileBytes(path, zip.finish()));
    QCOMPARE(int(testArchive(path)), int(ZipStructureError));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(path, destination)), int(ZipStructureError));
    QCOMPARE(test::entriesBelow(destination), QStringList());
}

void TestZipHostile::decodersKeepToTheDirectory_data()
{
    // The rows read as a table: 7-Zip's method name, and what is done to the one member.
    // clang-format off
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("damage");
    for (const char *method : {"Deflate64", "BZip2", "LZMA", "PPMd", "XZ"}) {
        QTest::addRow("%s, declared size too small", method) << QString::fromLatin1(method) << QStringLiteral("size");
        QTest::addRow("%s, CRC forged", method) << QString::fromLatin1(method) << QStringLiteral("crc");
        QTest::addRow("%s, data flipped", method) << QString::fromLatin1(method) << QStringLiteral("flip");
        QTest::addRow("%s, data cut short", method) << QString::fromLatin1(method) << QStringLiteral("short");
    }
    // clang-format on
}

// Whatever a decoder makes of damaged data, nothing more than the directory's size is written,
// the directory's CRC decides, and a failed member leaves no file.
void TestZipHostile::decodersKeepToTheDirectory()
{
    QFETCH(QString, method);
    QFETCH(QString, damage);
    test::TestWorld w;
    const QString folder = w.onDrive(u'c', QStringLiteral("made"));
    w.writeFile(folder + QStringLiteral("/big.txt"), test::textBytes(2 << 20));
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("7zz"), {QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-mm=") + method,
                                    QStringLiteral("a.zip"), QStringLiteral("big.txt")});
    QVERIFY(p.waitForFinished(120000) && p.exitCode() == 0);
    const QString path = folder + QStringLiteral("/a.zip");
    const auto layout = test::readLayout(path);
    QVERIFY(layout);
    const auto m = layout->member("big.txt");
    QVERIFY(m);
    int expected = ZipDataError;
    if (damage == u"size") {
        // Both headers say a megabyte less than the data holds.
        const quint32 size = quint32((2 << 20) - (1 << 20));
        const QByteArray le = littleEndian32(size);
        QVERIFY(test::patchBytes(path, m->localHeader + 22, le));
        QVERIFY(test::patchBytes(path, m->centralHeader + 24, le));
        expected = -1; // the data goes on past the size, or the size's bytes fail the CRC
    } else if (damage == u"crc") {
        QVERIFY(test::flipByte(path, m->localHeader + 14));
        QVERIFY(test::flipByte(path, m->centralHeader + 16));
        expected = ZipCrcError;
    } else if (damage == u"flip") {
        QVERIFY(test::flipByte(path, m->data + m->compressedSize / 2));
        expected = -1; // a CRC or a data error, as the decoder finds it
    } else {
        // The directory says the data is half as long as it is.
        const quint32 packed = quint32(m->compressedSize / 2);
        const QByteArray le = littleEndian32(packed);
        QVERIFY(test::patchBytes(path, m->localHeader + 18, le));
        QVERIFY(test::patchBytes(path, m->centralHeader + 20, le));
    }
    const qint16 tested = testArchive(path);
    const QString destination = destinationIn(w);
    const qint16 extracted = extract(path, destination);
    if (expected < 0) {
        QVERIFY2(tested == ZipCrcError || tested == ZipDataError, qPrintable(QString::number(tested)));
        QCOMPARE(extracted, tested);
    } else {
        QCOMPARE(int(tested), expected);
        QCOMPARE(int(extracted), expected);
    }
    QCOMPARE(test::entriesBelow(destination), QStringList());
}

// Bytes between a directory and its end record read as a stub before the archive only when
// a directory starts right where the shift puts it; else the archive is refused as before.
void TestZipHostile::forgedEndRecordBehindAStub()
{
    RawZip zip;
    zip.addMember(RawMember::stored("readme.txt", kReal));
    zip.addEntriesForMembers();
    QByteArray bytes = zip.finish();
    // A gap of noise between the directory and the end record.
    const qsizetype endAt = bytes.size() - 22;
    bytes.insert(endAt, test::noiseBytes(333));
    test::TestWorld w;
    const QString path = archiveIn(w);
    QVERIFY(test::writeFileBytes(path, bytes));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const char *reason = nullptr;
    QVERIFY(!readCentralDirectory(file.handle(), &reason));
    QCOMPARE(QByteArray(reason), QByteArray("directory is not where the end record says"));
    QCOMPARE(int(testArchive(path)), int(ZipStructureError));
    QCOMPARE(int(extract(path, destinationIn(w))), int(ZipStructureError));
    QCOMPARE(test::entriesBelow(destinationIn(w)), QStringList());

    // The same bytes before the archive are a stub: the members are found, shifted.
    RawZip plain;
    plain.addMember(RawMember::stored("readme.txt", kReal));
    plain.addEntriesForMembers();
    QVERIFY(test::writeFileBytes(path, test::noiseBytes(333) + plain.finish()));
    QCOMPARE(int(extract(path, destinationIn(w))), int(ZipDone));
    QCOMPARE(test::readBytes(destinationIn(w) + QStringLiteral("/readme.txt")), kReal);
}

void TestZipHostile::localHeadersOfAnySize_data()
{
    // The second member's local header with its own name and extra field, as long as the
    // format allows: read through the reader's window or past it. In the last row the header
    // claims an extra field that is not there, so its data would start inside the next member
    // (or past the end).
    QTest::addColumn<int>("nameLength");
    QTest::addColumn<int>("extraLength");
    QTest::addColumn<bool>("present");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << 0 << 0 << true << int(ZipDone);
    QTest::newRow("extra field within one read") << 0 << 20000 << true << int(ZipDone);
    QTest::newRow("extra field longer than one read") << 0 << 40000 << true << int(ZipDone);
    QTest::newRow("longest name and extra field") << 65535 << 65535 << true << int(ZipDone);
    QTest::newRow("extra field claimed, not there") << 0 << 65535 << false << int(ZipStructureError);
}

void TestZipHostile::localHeadersOfAnySize()
{
    QFETCH(int, nameLength);
    QFETCH(int, extraLength);
    QFETCH(bool, present);
    QFETCH(int, expected);
    const QList<RawMember> members{RawMember::stored("a.txt", "first member"),
                                   RawMember::deflated("b.txt", test::textBytes(70000)),
                                   RawMember::stored("c.txt", "third member")};
    RawZip zip;
    for (qsizetype i = 0; i < members.size(); ++i) {
        const RawMember &m = members[i];
        QByteArray header = test::localHeader(m, quint64(m.data.size()));
        if (i == 1) {
            // The directory's name is the member's; the local one may differ.
            const QByteArray name = nameLength ? QByteArray(nameLength, 'n') : m.name;
            QByteArray extra;
            if (extraLength) {
                const int field = extraLength - 4;
                extra = QByteArray::fromHex("feca") + char(field & 0xff) + char(field >> 8) + QByteArray(field, 'x');
            }
            header = header.left(26);
            for (const qsizetype length : {name.size(), extra.size()})
                header += char(length & 0xff) + QByteArray(1, char(length >> 8));
            header += name + (present ? extra : QByteArray());
        }
        const qint64 at = zip.append(header);
        zip.append(m.data);
        zip.addEntry(m, quint64(m.data.size()), quint64(at));
    }
    test::TestWorld w;
    const QString path = archiveIn(w);
    QVERIFY(test::writeFileBytes(path, zip.finish()));
    const QString destination = destinationIn(w);
    QCOMPARE(int(extract(path, destination)), expected);
    if (expected == int(ZipDone)) {
        QCOMPARE(test::readBytes(destination + QStringLiteral("/a.txt")), QByteArray("first member"));
        QCOMPARE(test::readBytes(destination + QStringLiteral("/b.txt")), test::textBytes(70000));
        QCOMPARE(test::readBytes(destination + QStringLiteral("/c.txt")), QByteArray("third member"));
    } else {
        QCOMPARE(test::entriesBelow(destination), QStringList());
    }
}

QTEST_GUILESS_MAIN(TestZipHostile)
#include "tst_ziphostile.moc"
