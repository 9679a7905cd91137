#include "zipcentral.h"

#include "archive/crc32.h"
#include "archive/littleendian.h"
#include "platform/cp437.h"

#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

namespace {

constexpr quint32 kEndSignature = 0x06054b50;
constexpr quint32 kZip64LocatorSignature = 0x07064b50;
constexpr quint32 kZip64EndSignature = 0x06064b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22, kLocatorSize = 20, kZip64EndSize = 56, kCentralSize = 46, kLocalSize = 30;
constexpr quint16 kZip64ExtraId = 1;
constexpr quint16 kUnicodePathExtraId = 0x7075;
constexpr quint16 kHasDataDescriptor = 1 << 3;
constexpr quint16 kUtf8Name = 1 << 11;

// An extra field of the given id, if any, among a header's extra fields.
std::optional<std::pair<const unsigned char *, size_t>> findExtra(const unsigned char *extra, size_t length, quint16 id)
{
    const unsigned char *end = extra + length;
    for (const unsigned char *x = extra; end - x >= 4;) {
        const size_t fieldLength = le16(x + 2);
        if (size_t(end - x - 4) < fieldLength)
            return std::nullopt;
        if (le16(x) == id)
            return std::pair{x + 4, fieldLength};
        x += 4 + fieldLength;
    }
    return std::nullopt;
}

std::optional<std::pair<const unsigned char *, size_t>> zip64Extra(const unsigned char *extra, size_t length)
{
    return findExtra(extra, length, kZip64ExtraId);
}

QString decodeName(const QByteArray &raw, quint16 flags, const unsigned char *extra, size_t extraLength)
{
    if (flags & kUtf8Name)
        return QString::fromUtf8(raw);
    // The Unicode path counts only for the very name it was written for: a tool that renamed
    // the member without knowing the field leaves a CRC that no longer matches.
    if (const auto field = findExtra(extra, extraLength, kUnicodePathExtraId); field && field->second >= 5) {
        const unsigned char *f = field->first;
        if (f[0] == 1 && le32(f + 1) == updateCrc32(0, raw.constData(), size_t(raw.size())))
            return QString::fromUtf8(reinterpret_cast<const char *>(f + 5), qsizetype(field->second - 5));
    }
    // Without the flag, DOS and Windows writers use code page 437, but macOS and Unix ones
    // write UTF-8: bytes that read as UTF-8 with more than ASCII in them are taken as that, which
    // a real code page 437 name almost never does ("├⌐" for "é").
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return uchar(c) < 0x80; });
    if (!ascii) {
        const QString text = utf8.decode(raw);
        if (!utf8.hasError())
            return text;
    }
    return cp437::decode(raw);
}

// Takes the next eight bytes of a zip64 field for a saturated value; false when they are
// missing.
bool widen(quint64 &value, quint64 saturated, const unsigned char *&field, const unsigned char *end, size_t width = 8)
{
    if (value != saturated)
        return true;
    if (size_t(end - field) < width)
        return false;
    value = width == 8 ? le64(field) : le32(field);
    field += width;
    return true;
}

struct Location {
    quint64 count = 0;
    quint64 directoryOffset = 0;
    quint64 directorySize = 0;
    quint64 shift = 0; // bytes before the archive that its offsets do not count (a stub)
    bool wide = false; // found through a zip64 record
};

// The one end record, and the zip64 record it may lead to.
std::optional<Location> locateDirectory(int fd, quint64 size, const char *&why)
{
    if (size < kEndSize) {
        why = "too short for an end record";
        return std::nullopt;
    }
    // An end record sits in the last 22 bytes plus a comment of at most 65535, and its
    // comment reaches exactly the end of the file. A second one that does too would be a
    // second directory: which one counts is then a guess, and readers guess differently.
    // When none reaches the end, bytes were added after the archive (padding, a trailer):
    // the last record whose comment fits counts then, as every reader searching back from the
    // end finds it, within as much again for the added bytes.
    const size_t tail = size_t(std::min<quint64>(size, 2 * (kEndSize + 0xffff)));
    std::vector<unsigned char> t(tail);
    if (!readAt(fd, t.data(), tail, size - tail)) {
        why = "cannot read the end of the archive";
        return std::nullopt;
    }
    std::optional<size_t> found, lastFitting;
    for (size_t e = 0; e + kEndSize <= tail; ++e) {
        if (le32(&t[e]) != kEndSignature)
            continue;
        const size_t recordEnd = e + kEndSize + le16(&t[e + 20]);
        if (recordEnd == tail && tail - e <= kEndSize + 0xffff) {
            if (found) {
                why = "more than one end record";
                return std::nullopt;
            }
            found = e;
        } else if (recordEnd < tail) {
            lastFitting = e;
        }
    }
    if (!found)
        found = lastFitting;
    if (!found) {
        why = "no end record";
        return std::nullopt;
    }
    const unsigned char *e = &t[*found];
    const quint64 endOffset = size - tail + *found;
    const quint16 disk = le16(e + 4), directoryDisk = le16(e + 6);
    const quint16 countHere = le16(e + 8), count = le16(e + 10);
    const quint32 directorySize = le32(e + 12), directoryOffset = le32(e + 16);

    Location at{count, directoryOffset, directorySize};
    quint64 directoryEnd = endOffset;
    unsigned char locator[kLocatorSize];
    if (endOffset >= kLocatorSize && readAt(fd, locator, kLocatorSize, endOffset - kLocatorSize) &&
        le32(locator) == kZip64LocatorSignature) {
        // With a locator the zip64 record counts, as for every other reader; it must sit right
        // before the locator and agree with every value the end record does not leave to it.
        const quint64 locatorOffset = endOffset - kLocatorSize;
        const quint64 recordOffset = le64(locator + 8);
        unsigned char z[kZip64EndSize];
        if (le32(locator + 4) != 0 || le32(locator + 16) > 1) {
            why = "spans several disks";
            return std::nullopt;
        }
        if (recordOffset > locatorOffset || locatorOffset - recordOffset < kZip64EndSize ||
            !readAt(fd, z, kZip64EndSize, recordOffset) || le32(z) != kZip64EndSignature ||
            le64(z + 4) != locatorOffset - recordOffset - 12) {
            why = "zip64 end record out of place";
            return std::nullopt;
        }
        if (le32(z + 16) != 0 || le32(z + 20) != 0 || le64(z + 24) != le64(z + 32)) {
            why = "spans several disks";
            return std::nullopt;
        }
        const Location wide{le64(z + 32), le64(z + 48), le64(z + 40)};
        const bool agrees = (count == 0xffff || count == wide.count) &&
                            (countHere == 0xffff || countHere == wide.count) &&
                            (directorySize == 0xffffffff || directorySize == wide.directorySize) &&
                            (directoryOffset == 0xffffffff || directoryOffset == wide.directoryOffset) &&
                            (disk == 0xffff || disk == 0) && (directoryDisk == 0xffff || directoryDisk == 0);
        if (!agrees) {
            why = "zip64 end record disagrees with the end record";
            return std::nullopt;
        }
        at = wide;
        at.wide = true;
        directoryEnd = recordOffset;
    } else if (disk != 0 || directoryDisk != 0 || countHere != count) {
        why = "spans several disks";
        return std::nullopt;
    }
    if (at.directoryOffset > directoryEnd || directoryEnd - at.directoryOffset < at.directorySize ||
        (directoryEnd != endOffset && directoryEnd - at.directoryOffset != at.directorySize)) {
        why = "directory is not where the end record says";
        return std::nullopt;
    }
    // Bytes between the directory's end and the end record: a stub before the archive that its
    // offsets leave out (a self-extractor's program), when the directory starts right there.
    at.shift = directoryEnd - at.directorySize - at.directoryOffset;
    if (at.shift != 0) {
        unsigned char signature[4];
        if (at.count != 0 &&
            (!readAt(fd, signature, 4, at.directoryOffset + at.shift) || le32(signature) != kCentralSignature)) {
            why = "directory is not where the end record says";
            return std::nullopt;
        }
        at.directoryOffset += at.shift;
    }
    if (at.count > at.directorySize / kCentralSize) {
        why = "more members than the directory can hold";
        return std::nullopt;
    }
    return at;
}

// A directory entry's fields, the saturated ones taken from its zip64 field.
std::optional<CentralEntry> parseEntry(const unsigned char *h, size_t available, size_t *length, const char *&why)
{
    const size_t nameLength = le16(h + 28), extraLength = le16(h + 30), commentLength = le16(h + 32);
    *length = kCentralSize + nameLength + extraLength + commentLength;
    if (*length > available) {
        why = "directory entry runs past the directory";
        return std::nullopt;
    }
    CentralEntry e;
    e.versionMadeBy = le16(h + 4);
    e.flags = le16(h + 8);
    e.dosTime = le32(h + 12);
    e.externalAttributes = le32(h + 38);
    e.method = le16(h + 10);
    e.crc = le32(h + 16);
    e.compressedSize = le32(h + 20);
    e.size = le32(h + 24);
    quint64 diskStart = le16(h + 34);
    e.localHeader = le32(h + 42);
    e.rawName = QByteArray(reinterpret_cast<const char *>(h + kCentralSize), qsizetype(nameLength));
    if (e.size == 0xffffffff || e.compressedSize == 0xffffffff || e.localHeader == 0xffffffff || diskStart == 0xffff) {
        const auto field = zip64Extra(h + kCentralSize + nameLength, extraLength);
        const unsigned char *f = field ? field->first : nullptr;
        const unsigned char *end = field ? field->first + field->second : nullptr;
        if (!field || !widen(e.size, 0xffffffff, f, end) || !widen(e.compressedSize, 0xffffffff, f, end) ||
            !widen(e.localHeader, 0xffffffff, f, end) || !widen(diskStart, 0xffff, f, end, 4)) {
            why = "zip64 field missing";
            return std::nullopt;
        }
    }
    e.name = decodeName(e.rawName, e.flags, h + kCentralSize + nameLength, extraLength);
    if (diskStart != 0) {
        why = "spans several disks";
        return std::nullopt;
    }
    return e;
}

// Reads up to n bytes at an offset, fewer only at the end of the file.
size_t readUpTo(int fd, unsigned char *buffer, size_t n, quint64 offset)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = pread(fd, buffer + got, n - got, off_t(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += size_t(r);
    }
    return got;
}

// The directory, read through a window of its own size at most: an entry is at most 64 KiB
// times three plus its fixed part, so a window of 256 KiB always holds a whole one.
class DirectoryReader {
public:
    DirectoryReader(int fd, quint64 offset, quint64 size) : m_fd(fd), m_offset(offset), m_size(size) {}

    // The next n bytes from where the reading stands, or nothing when the directory ends
    // first or cannot be read; they stay until the next call.
    const unsigned char *next(size_t n)
    {
        if (m_size - m_used < n)
            return nullptr;
        if (m_used < m_start || m_used + n > m_start + m_window.size()) {
            const size_t length = size_t(std::min<quint64>(kWindow, m_size - m_used));
            m_window.resize(length);
            if (!readAt(m_fd, m_window.data(), length, m_offset + m_used)) {
                m_failed = true;
                m_window.clear();
                return nullptr;
            }
            m_start = m_used;
        }
        return m_window.data() + (m_used - m_start);
    }

    void consume(size_t n) { m_used += n; }
    bool atEnd() const { return m_used == m_size; }
    bool failed() const { return m_failed; }

private:
    static constexpr size_t kWindow = 256 << 10;
    int m_fd;
    quint64 m_offset, m_size;
    quint64 m_used = 0, m_start = 0;
    std::vector<unsigned char> m_window;
    bool m_failed = false;
};

// The local headers, read through a window: where members are small, one read brings many
// headers, and an archive of 20,000 members is checked with a few thousand reads.
class LocalHeaders {
public:
    explicit LocalHeaders(int fd) : m_fd(fd), m_window(kWindow) {}

    // Up to n bytes at the offset, fewer only at the end of the file; they stay until the
    // next call.
    const unsigned char *read(quint64 offset, size_t n, size_t *got)
    {
        if (n > kWindow) {
            m_large.resize(n);
            *got = readUpTo(m_fd, m_large.data(), n, offset);
            return m_large.data();
        }
        if (offset < m_start || offset - m_start + n > m_length) {
            m_start = offset;
            m_length = readUpTo(m_fd, m_window.data(), kWindow, offset);
        }
        const quint64 into = offset - m_start;
        *got = size_t(std::min<quint64>(n, m_length > into ? m_length - into : 0));
        return m_window.data() + into;
    }

private:
    static constexpr size_t kWindow = 32 << 10;
    int m_fd;
    std::vector<unsigned char> m_window;
    std::vector<unsigned char> m_large; // a header with a long name and extra field
    quint64 m_start = 0;
    quint64 m_length = 0;
};

// Checks the local header against the entry and finds where the data starts.
bool checkLocalHeader(LocalHeaders &headers, CentralEntry &e, const char *&why)
{
    size_t got = 0;
    const unsigned char *h = headers.read(e.localHeader, kLocalSize, &got);
    if (got < kLocalSize) {
        why = "local header past the end of the archive";
        return false;
    }
    if (le32(h) != kLocalSignature) {
        why = "no local header where the directory says";
        return false;
    }
    const quint16 flags = le16(h + 6);
    const size_t fixed = kLocalSize + le16(h + 26); // the local header's own name
    const size_t extraLength = le16(h + 28);
    // The directory's name is the member's, as unzip and 7-Zip take it: a local header that
    // spells it otherwise is no reason to refuse the archive.
    if (le16(h + 8) != e.method || (flags & 1) != (e.flags & 1)) {
        why = "local header disagrees with the directory";
        return false;
    }
    h = headers.read(e.localHeader, fixed + extraLength, &got);
    if (got < fixed + extraLength) {
        why = "local header past the end of the archive";
        return false;
    }
    if (!(flags & kHasDataDescriptor)) {
        quint64 size = le32(h + 22), compressedSize = le32(h + 18);
        if (size == 0xffffffff || compressedSize == 0xffffffff) {
            // A local zip64 field holds both sizes, whichever is saturated.
            const auto field = zip64Extra(h + fixed, extraLength);
            if (!field || field->second < 16) {
                why = "zip64 field missing";
                return false;
            }
            size = le64(field->first);
            compressedSize = le64(field->first + 8);
        }
        if (le32(h + 14) != e.crc || size != e.size || compressedSize != e.compressedSize) {
            why = "local header disagrees with the directory";
            return false;
        }
    }
    e.data = e.localHeader + fixed + extraLength;
    return true;
}

} // namespace

bool CentralEntry::isDirectory() const
{
    if (rawName.endsWith('/') || rawName.endsWith('\\'))
        return true;
    if (size != 0)
        return false;
    // A Unix maker's mode in the high half says it; else the DOS attribute in the low byte.
    constexpr quint16 kUnixHost = 3;
    constexpr quint32 kDosDirectory = 0x10;
    if (versionMadeBy >> 8 == kUnixHost && externalAttributes >> 16 != 0)
        return S_ISDIR(externalAttributes >> 16);
    return externalAttributes & kDosDirectory;
}

namespace {

qint64 localTime(quint32 dosTime)
{
    struct tm t = {};
    t.tm_year = int((dosTime >> 25) & 0x7f) + 80;
    t.tm_mon = int((dosTime >> 21) & 0x0f) - 1;
    t.tm_mday = int((dosTime >> 16) & 0x1f);
    t.tm_hour = int((dosTime >> 11) & 0x1f);
    t.tm_min = int((dosTime >> 5) & 0x3f);
    t.tm_sec = int(dosTime & 0x1f) * 2;
    t.tm_isdst = -1;
    return qint64(mktime(&t));
}

} // namespace

qint64 DosTimes::toUnix(quint32 dosTime)
{
    const int hour = int((dosTime >> 11) & 0x1f);
    const int minute = int((dosTime >> 5) & 0x3f);
    const int second = int(dosTime & 0x1f) * 2;
    // Fields out of range are left to the C library, which carries them over as it does.
    if (hour > 23 || minute > 59 || second > 59)
        return localTime(dosTime);
    const auto date = quint16(dosTime >> 16);
    auto it = m_days.find(date);
    if (it == m_days.end()) {
        Day day;
        day.midnight = localTime(quint32(date) << 16);
        // 24 hours on is the next midnight unless the clocks change in between. localtime_r,
        // unlike mktime, does not look at the time zone's file again, so a new date costs no
        // more than a conversion did before.
        const time_t next = time_t(day.midnight + 24 * 3600);
        struct tm t = {};
        day.even = localtime_r(&next, &t) && t.tm_hour == 0 && t.tm_min == 0 && t.tm_sec == 0;
        it = m_days.emplace(date, day).first;
    }
    if (!it->second.even)
        return localTime(dosTime);
    return it->second.midnight + hour * 3600 + minute * 60 + second;
}

bool readAt(int fd, void *buffer, size_t n, quint64 offset)
{
    return readUpTo(fd, static_cast<unsigned char *>(buffer), n, offset) == n;
}

std::optional<std::vector<CentralEntry>> readCentralDirectory(int fd, const char **why)
{
    const char *reason = nullptr;
    const auto refuse = [&](const char *r = nullptr) -> std::optional<std::vector<CentralEntry>> {
        if (why)
            *why = r ? r : reason;
        return std::nullopt;
    };
    struct stat st;
    if (fstat(fd, &st) != 0)
        return refuse("cannot read the archive");
    const auto at = locateDirectory(fd, quint64(st.st_size), reason);
    if (!at)
        return refuse();

    // The directory is read a piece at a time and each entry checked as it comes: its declared
    // size and count cost nothing until entries are really there.
    DirectoryReader directory(fd, at->directoryOffset, at->directorySize);
    std::vector<CentralEntry> entries;
    entries.reserve(size_t(std::min<quint64>(at->count, 1 << 16)));
    // Writers without zip64 count past 65535 members modulo 65536 in the end record: the
    // directory's own entries, filling its size exactly, are the count then.
    for (quint64 i = 0; i < at->count || (!at->wide && !directory.atEnd()); ++i) {
        const unsigned char *h = directory.next(kCentralSize);
        if (!h || le32(h) != kCentralSignature)
            return refuse(directory.failed() ? "cannot read the directory" : "directory entry missing");
        const size_t length = kCentralSize + le16(h + 28) + le16(h + 30) + le16(h + 32);
        h = directory.next(length);
        if (!h)
            return refuse(directory.failed() ? "cannot read the directory" : "directory entry runs past the directory");
        size_t parsed = 0;
        auto e = parseEntry(h, length, &parsed, reason);
        if (!e)
            return refuse();
        e->localHeader += at->shift;
        entries.push_back(std::move(*e));
        directory.consume(length);
    }
    const bool counted = entries.size() == at->count || (!at->wide && entries.size() % 0x10000 == at->count);
    if (!directory.atEnd() || !counted)
        return refuse("directory size disagrees with its entries");

    // Each member's header and data in a range of its own, all of them before the directory.
    std::vector<std::pair<quint64, quint64>> ranges;
    ranges.reserve(entries.size());
    LocalHeaders headers(fd);
    for (CentralEntry &e : entries) {
        if (e.localHeader >= at->directoryOffset)
            return refuse("local header inside the directory");
        if (!checkLocalHeader(headers, e, reason))
            return refuse();
        if (e.data > at->directoryOffset || e.compressedSize > at->directoryOffset - e.data)
            return refuse("member data runs into the directory");
        ranges.emplace_back(e.localHeader, e.data + e.compressedSize);
    }
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second)
            return refuse("members overlap");
    return entries;
}

} // namespace zelv
