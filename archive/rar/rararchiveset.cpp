#include "rararchiveset.h"

#include "archive/crc32.h"
#include "archive/libarchive.h"
#include "archive/littleendian.h"
#include "archive/memorybudget.h"
#include "archive/zipmembers.h"
#include "platform/hostfs.h"
#include "platform/linkfolder.h"

#include "platform/toolrun.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace zelv {

namespace {

enum class Next { Follows, Last, Unknown };

// RAR 1.5 to 4: block types and flags.
enum Rar4Block : quint8 {
    Marker = 0x72,
    ArchiveHeader = 0x73,
    FileHeader = 0x74,
    OldComment = 0x75,
    OldAuthenticity = 0x76,
    OldSubblock = 0x77,
    OldRecovery = 0x78,
    OldSignature = 0x79,
    ServiceHeader = 0x7a,
    EndOfArchive = 0x7b,
};
constexpr quint16 kRar4LongBlock = 0x8000;     // any block: a data size follows the head
constexpr quint16 kRar4VolumeArchive = 0x0001; // archive header: one volume of several
constexpr quint16 kRar4SplitAfter = 0x0002;    // file header: goes on in the next volume
constexpr quint16 kRar4LargeFile = 0x0100;     // file header: high 32 bits of the sizes follow
constexpr quint16 kRar4NextVolume = 0x0001;    // end block: another volume follows
constexpr qint64 kRar4HighSizeAt = 32;         // in a file header

// RAR 5: header types and flags.
enum Rar5Header : quint64 { Rar5Main = 1, Rar5File = 2, Rar5Service = 3, Rar5Encryption = 4, Rar5End = 5 };
constexpr quint64 kRar5ExtraArea = 0x0001;  // header flags: an extra area's size follows
constexpr quint64 kRar5DataArea = 0x0002;   // header flags: a data area's size follows
constexpr quint64 kRar5NextVolume = 0x0001; // end of archive flags

// RAR 1.5 to 4: blocks of a fixed head and a size, the end block saying whether a volume follows.
Result<Next> nextAfterRar4(QFile &f)
{
    bool volume = false, splitAfter = false;
    for (qint64 at = 7; at < f.size();) {
        f.seek(at);
        const QByteArray head = f.read(11);
        if (head.size() < 7)
            return Error(QStringLiteral("cut short"));
        const quint8 type = uchar(head[2]);
        const quint16 flags = le16(head.constData() + 3);
        const quint16 size = le16(head.constData() + 5);
        if (size < 7)
            return Error(QStringLiteral("a damaged block"));
        qint64 data = 0;
        if ((flags & kRar4LongBlock) || type == FileHeader || type == ServiceHeader) {
            if (head.size() < 11)
                return Error(QStringLiteral("cut short"));
            data = le32(head.constData() + 7);
            if (type == FileHeader && (flags & kRar4LargeFile)) { // a file over 4 GiB
                f.seek(at + kRar4HighSizeAt);
                const QByteArray high = f.read(4);
                if (high.size() == 4)
                    data += qint64(le32(high.constData())) << 32;
            }
        }
        if (type == ArchiveHeader)
            volume = flags & kRar4VolumeArchive;
        else if (type == FileHeader)
            splitAfter = flags & kRar4SplitAfter;
        else if (type == EndOfArchive)
            return (flags & kRar4NextVolume) ? Next::Follows : Next::Last;
        at += size + data;
    }
    // Volumes of old versions end without an end block: a file split at the end says so.
    if (splitAfter)
        return Next::Follows;
    return volume ? Next::Unknown : Next::Last;
}

// RAR 5: the fields of one header, read in order; any read past its end fails the header.
class Rar5Fields {
public:
    explicit Rar5Fields(QByteArrayView bytes) : m_bytes(bytes) {}
    std::optional<quint64> number()
    {
        quint64 v = 0;
        for (int shift = 0; shift < 64 && m_at < m_bytes.size(); shift += 7) {
            const uchar b = uchar(m_bytes[m_at++]);
            v |= quint64(b & 0x7f) << shift;
            if (!(b & 0x80))
                return v;
        }
        return std::nullopt;
    }
    std::optional<quint32> word()
    {
        if (m_at + 4 > m_bytes.size())
            return std::nullopt;
        m_at += 4;
        return le32(m_bytes.data() + m_at - 4);
    }
    std::optional<QByteArrayView> bytes(quint64 n)
    {
        if (n > quint64(m_bytes.size() - m_at))
            return std::nullopt;
        m_at += qsizetype(n);
        return m_bytes.sliced(m_at - qsizetype(n), qsizetype(n));
    }
    qsizetype at() const { return m_at; }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

// RAR 5: blocks of variable-length numbers, the end block saying whether a volume follows.
Result<Next> nextAfterRar5(QFile &f)
{
    for (qint64 at = 8; at < f.size();) {
        f.seek(at + 4);
        const QByteArray bytes = f.read(64);
        Rar5Fields h(bytes);
        const auto headerSize = h.number();
        const qsizetype headerStart = h.at();
        const auto type = h.number();
        const auto flags = h.number();
        if (!headerSize || !type || !flags || *headerSize == 0)
            return Error(QStringLiteral("a damaged block"));
        std::optional<quint64> extra = 0, data = 0;
        if (*flags & kRar5ExtraArea)
            extra = h.number();
        if (*flags & kRar5DataArea)
            data = h.number();
        if (!extra || !data)
            return Error(QStringLiteral("a damaged block"));
        if (*type == Rar5End) {
            const auto endFlags = h.number();
            return endFlags && (*endFlags & kRar5NextVolume) ? Next::Follows : Next::Last;
        }
        at += 4 + headerStart + qint64(*headerSize) + qint64(*data);
    }
    return Next::Unknown;
}

Result<Next> nextAfter(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Error(f.errorString());
    const QByteArray signature = f.read(8);
    if (signature.startsWith(QByteArray("Rar!\x1a\x07\x01\x00", 8)))
        return nextAfterRar5(f);
    if (signature.startsWith(QByteArray("Rar!\x1a\x07\x00", 7)))
        return nextAfterRar4(f);
    return Error(QStringLiteral("not a RAR volume"));
}

// The name of volume i (from 0) of the set the given name belongs to.
std::function<QString(int)> namingOf(const QString &name)
{
    static const QRegularExpression newStyle(QStringLiteral("^(.*)\\.part(\\d+)\\.rar$"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (const auto m = newStyle.match(name); m.hasMatch()) {
        const QString base = m.captured(1);
        const int width = int(m.captured(2).size());
        return [base, width](int i) {
            return base + QStringLiteral(".part%1.rar").arg(i + 1, width, 10, QLatin1Char('0'));
        };
    }
    const QFileInfo info(name);
    const QString stem = info.completeBaseName();
    static const QRegularExpression numbered(QStringLiteral("^\\d\\d\\d$"));
    if (numbered.match(info.suffix()).hasMatch())
        return [stem](int i) { return stem + QStringLiteral(".%1").arg(i, 3, 10, QLatin1Char('0')); };
    // name.rar, then name.r00 to name.r99, name.s00 and on.
    return [stem](int i) {
        if (i == 0)
            return stem + QStringLiteral(".rar");
        const int n = i - 1;
        return stem + u'.' + QChar(u'r' + n / 100) + QStringLiteral("%1").arg(n % 100, 2, 10, QLatin1Char('0'));
    };
}

struct Found {
    QStringList volumes;
    QString missingVolume;
    std::optional<Error> damage;
};

// The volumes from any one of them, each one's blocks saying whether another follows.
Found findVolumes(const QString &hostPath)
{
    Found set;
    const QFileInfo given(hostPath);
    const QString folder = given.absolutePath();
    const auto volumeName = namingOf(given.fileName());
    int first = 0;
    // Sets numbered .000, .001 may start at either.
    if (hostfs::findFileIgnoringCase(folder, volumeName(0)).isEmpty() &&
        !hostfs::findFileIgnoringCase(folder, volumeName(1)).isEmpty() && given.suffix().size() == 3 &&
        given.suffix().front().isDigit())
        first = 1;
    for (int i = first;; ++i) {
        const QString path = hostfs::findFileIgnoringCase(folder, volumeName(i));
        if (path.isEmpty()) {
            set.missingVolume = folder + u'/' + volumeName(i);
            return set;
        }
        set.volumes << path;
        const auto next = nextAfter(path);
        if (!next) {
            set.damage = Error(
                QStringLiteral("Damaged volume set: %1: %2").arg(QFileInfo(path).fileName(), next.error().text()));
            return set;
        }
        if (*next == Next::Last)
            return set;
        if (*next == Next::Unknown && hostfs::findFileIgnoringCase(folder, volumeName(i + 1)).isEmpty())
            return set;
    }
}

// Where each volume ends in the volumes read one after another.
QList<qint64> volumeEnds(const QStringList &volumes)
{
    QList<qint64> ends;
    qint64 end = 0;
    for (const QString &v : volumes)
        ends << (end += QFileInfo(v).size());
    return ends;
}

// The volume and the place in it of a stored piece at offset in the volumes read one after
// another (ends from volumeEnds()); nothing when the piece does not lie in one volume.
std::optional<MemberPart> partIn(const QList<qint64> &ends, qint64 offset, qint64 length, std::optional<quint32> crc)
{
    // The first volume that reaches past offset; an empty piece may stand at a volume's end.
    const auto in = length > 0 ? std::upper_bound(ends.cbegin(), ends.cend(), offset)
                               : std::lower_bound(ends.cbegin(), ends.cend(), offset);
    if (in == ends.cend())
        return std::nullopt;
    const int i = int(in - ends.cbegin());
    const qint64 start = i > 0 ? ends[i - 1] : 0;
    if (offset < start || offset + length > *in)
        return std::nullopt;
    return MemberPart{i, offset - start, length, true, crc};
}

QString propertyName(const char *key) { return QString::fromLatin1(key); }

// lsar's time, "2024-03-09 10:20:30 +0100"; invalid when it gives none.
QDateTime listedTime(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) ([+-])(\\d\\d)(\\d\\d)$"));
    const auto m = form.match(text);
    if (!m.hasMatch())
        return QDateTime();
    const int offset = (m.captured(3).toInt() * 3600 + m.captured(4).toInt() * 60) * (m.captured(2) == u"-" ? -1 : 1);
    QDateTime clock = QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!clock.isValid())
        return QDateTime();
    clock.setTimeSpec(Qt::UTC);
    return QDateTime::fromSecsSinceEpoch(clock.toSecsSinceEpoch() - offset);
}

constexpr qint64 kLongestTarget = 4096;

quint32 crc32Of(const QByteArray &bytes) { return updateCrc32(0, bytes.constData(), size_t(bytes.size())); }

// A member's place, to match libarchive's names with the listing's.
QString placeKey(const QString &name)
{
    const auto place = safeMemberPath(name);
    return place ? place->joined() : QString();
}

// A copy is of the last file of the name it gives before it, whose size and CRC it takes; one
// that names none is never made.
void takeCopiesFromTheirFiles(QList<SetMember> &members)
{
    QHash<QString, int> files;
    for (int i = 0; i < members.size(); ++i) {
        SetMember &m = members[i];
        if (!m.copyOf.isEmpty()) {
            const int source = files.value(placeKey(m.copyOf), -1);
            m.copyOfMember = source;
            m.link = source < 0;
            m.size = source >= 0 ? members[source].size : 0;
            m.crc = source >= 0 ? members[source].crc : std::nullopt;
            if (source >= 0 && !m.unixMode)
                m.unixMode = members[source].unixMode;
        } else if (!m.directory && !m.symlink && !m.link && !m.special) {
            files.insert(placeKey(m.name), i);
        }
    }
}

// The last member at each place: what the place holds once the set is out.
QHash<QString, int> lastAtEachPlace(const QList<SetMember> &members)
{
    QHash<QString, int> last;
    last.reserve(members.size());
    for (int i = 0; i < members.size(); ++i)
        last.insert(placeKey(members[i].name), i);
    return last;
}

// RAR 5's window from a file's compression information: 128 KiB << n, n in bits 10-13. RAR 7
// (algorithm version 1 in bits 0-5) gives n bits 10-14 and adds that window's 32nds, as many as
// bits 15-19 say.
quint64 rar5Dictionary(quint64 compression)
{
    const bool rar7 = (compression & 0x3f) != 0;
    const quint64 window = quint64(0x20000) << ((compression >> 10) & (rar7 ? 0x1f : 0x0f));
    return rar7 ? window + window / 32 * ((compression >> 15) & 0x1f) : window;
}

// libarchive converts names through the C library's character set: UTF-8 while it reads.
class Utf8Names {
public:
    Utf8Names()
    {
        if (const char *now = setlocale(LC_CTYPE, nullptr))
            m_before = now;
        if (!setlocale(LC_CTYPE, "C.UTF-8"))
            setlocale(LC_CTYPE, "C.utf8");
    }
    ~Utf8Names() { setlocale(LC_CTYPE, m_before.c_str()); }

private:
    std::string m_before = "C";
};

// The volumes as one stream, as libarchive reads a set, then zeros: its RAR 5 reader looks
// past the end of a short last volume, and what lies after the end block is never read as the
// archive.
class VolumeStream {
public:
    explicit VolumeStream(const QStringList &volumes) : m_volumes(volumes), m_buffer(1 << 20) {}
    ~VolumeStream()
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    static la_ssize_t read(archive *a, void *self, const void **bytes)
    {
        return static_cast<VolumeStream *>(self)->next(a, bytes);
    }

private:
    la_ssize_t next(archive *a, const void **bytes)
    {
        for (;;) {
            if (m_fd < 0) {
                if (m_next == m_volumes.size()) {
                    if (m_padded)
                        return 0;
                    m_padded = true;
                    std::fill(m_buffer.begin(), m_buffer.begin() + kPadding, 0);
                    *bytes = m_buffer.data();
                    return kPadding;
                }
                m_fd = open(QFile::encodeName(m_volumes[m_next++]).constData(), O_RDONLY | O_CLOEXEC);
                if (m_fd < 0) {
                    libArchive()->set_error(a, errno, "cannot open a volume");
                    return -1;
                }
            }
            const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                libArchive()->set_error(a, errno, "cannot read a volume");
                return -1;
            }
            if (n > 0) {
                *bytes = m_buffer.data();
                return n;
            }
            close(m_fd);
            m_fd = -1;
        }
    }

    static constexpr la_ssize_t kPadding = 65536;
    QStringList m_volumes;
    std::vector<char> m_buffer;
    qsizetype m_next = 0;
    int m_fd = -1;
    bool m_padded = false;
};

// RAR 5 file header fields and records.
constexpr quint64 kRar5SplitBefore = 0x0008; // header flags: the data goes on from the last volume
constexpr quint64 kRar5SplitAfter = 0x0010;  // header flags: the data goes on in the next volume
constexpr quint64 kRar5Folder = 0x0001;      // file flags
constexpr quint64 kRar5HasTime = 0x0002;
constexpr quint64 kRar5HasCrc = 0x0004;
constexpr quint64 kRar5Encryption = 1; // extra record types
constexpr quint64 kRar5FileTime = 3;
constexpr quint64 kRar5UnixTime = 0x0001; // file time record flags: Unix time, not Windows'
constexpr quint64 kRar5HasModified = 0x0002;
constexpr quint64 kRar5Redirection = 5;
constexpr quint64 kRar5UnixHost = 1;
constexpr qint64 kLongestRar5Header = 2 << 20;

} // namespace

// RAR 5: the members from the headers of every volume, as the format lays them out; nothing
// is taken from a tool. A header whose CRC is wrong, or that runs past its volume, ends it.
Result<void> RarArchiveSet::listRar5()
{
    m_members.clear();
    membersChanged();
    m_windowsNamed.clear();
    m_storedOnly = true;
    const auto unreadable = [this](int volume, const QString &why) {
        return Error(QStringLiteral("%1 cannot be read as a RAR archive").arg(QFileInfo(m_volumes.first()).fileName()),
                     QStringLiteral("%1 in %2").arg(why, QFileInfo(m_volumes.value(volume)).fileName()));
    };
    for (int volume = 0; volume < m_volumes.size(); ++volume) {
        QFile f(m_volumes[volume]);
        if (!f.open(QIODevice::ReadOnly))
            return unreadable(volume, f.errorString());
        const qint64 size = f.size();
        for (qint64 at = 8; at < size;) {
            // The CRC, then the header's size: how much more to read.
            if (!f.seek(at))
                return unreadable(volume, QStringLiteral("a header past the end"));
            const QByteArray lead = f.read(4 + 3);
            if (lead.size() < 5)
                return unreadable(volume, QStringLiteral("a header past the end"));
            Rar5Fields sizeField(QByteArrayView(lead).sliced(4));
            const auto headerSize = sizeField.number();
            if (!headerSize || *headerSize == 0 || qint64(*headerSize) > kLongestRar5Header)
                return unreadable(volume, QStringLiteral("a damaged header"));
            f.seek(at + 4);
            const QByteArray header = f.read(sizeField.at() + qint64(*headerSize));
            if (header.size() != sizeField.at() + qint64(*headerSize) || crc32Of(header) != le32(lead.constData()))
                return unreadable(volume, QStringLiteral("a damaged header"));
            Rar5Fields h(QByteArrayView(header).sliced(sizeField.at()));
            const auto type = h.number();
            const auto flags = h.number();
            std::optional<quint64> extraSize = 0, dataSize = 0;
            if (flags && (*flags & kRar5ExtraArea))
                extraSize = h.number();
            if (flags && (*flags & kRar5DataArea))
                dataSize = h.number();
            if (!type || !flags || !extraSize || !dataSize || *extraSize > *headerSize)
                return unreadable(volume, QStringLiteral("a damaged header"));
            const qint64 dataAt = at + 4 + header.size();
            if (qint64(*dataSize) > size - dataAt)
                return unreadable(volume, QStringLiteral("data past the end"));
            at = dataAt + qint64(*dataSize);
            if (*type == Rar5Encryption)
                return Error(QStringLiteral("Encrypted member %1 in %2")
                                 .arg(QStringLiteral("headers"), QFileInfo(m_volumes.first()).fileName()));
            if (*type == Rar5End)
                break;
            if (*type != Rar5File)
                continue; // the main header, comments, recovery and other service data

            const auto fileFlags = h.number();
            const auto unpacked = h.number();
            const auto attributes = h.number();
            if (!fileFlags || !unpacked || !attributes)
                return unreadable(volume, QStringLiteral("a damaged file header"));
            std::optional<quint32> modified;
            if (*fileFlags & kRar5HasTime) {
                modified = h.word();
                if (!modified)
                    return unreadable(volume, QStringLiteral("a damaged file header"));
            }
            std::optional<quint32> dataCrc;
            if (*fileFlags & kRar5HasCrc) {
                dataCrc = h.word();
                if (!dataCrc)
                    return unreadable(volume, QStringLiteral("a damaged file header"));
            }
            const auto compression = h.number();
            const auto host = h.number();
            const auto nameLength = h.number();
            const auto name = nameLength ? h.bytes(*nameLength) : std::nullopt;
            if (!compression || !host || !name)
                return unreadable(volume, QStringLiteral("a damaged file header"));
            const bool stored = ((*compression >> 7) & 7) == 0;
            // A piece that another follows keeps the CRC of its own bytes; the last, the file's.
            const bool more = *flags & kRar5SplitAfter;
            const MemberPart part{volume, dataAt, qint64(*dataSize), stored, more ? dataCrc : std::nullopt, true};
            const QString memberName = QString::fromUtf8(*name);
            if ((*flags & kRar5SplitBefore) && !m_members.isEmpty() && m_members.last().name == memberName) {
                SetMember &whole = m_members.last();
                whole.parts << part;
                if (!more)
                    whole.crc = dataCrc;
                continue;
            }
            SetMember m;
            m.name = memberName;
            m.directory = *fileFlags & kRar5Folder;
            m.size = m.directory ? 0 : qint64(*unpacked);
            m.crc = more ? std::nullopt : dataCrc;
            m.parts << part;
            if (modified)
                m.modified = QDateTime::fromSecsSinceEpoch(*modified);
            // The extra area's records: encryption, times and links.
            const QByteArrayView area = QByteArrayView(header).last(qsizetype(*extraSize));
            for (qsizetype pos = 0; pos < area.size();) {
                Rar5Fields lead(area.sliced(pos));
                const auto recordSize = lead.number();
                if (!recordSize || *recordSize == 0 || qint64(*recordSize) > area.size() - pos - lead.at())
                    return unreadable(volume, QStringLiteral("a damaged extra record"));
                Rar5Fields record(area.sliced(pos + lead.at(), qsizetype(*recordSize)));
                pos += lead.at() + qsizetype(*recordSize);
                const auto recordType = record.number();
                if (recordType == kRar5Encryption)
                    m.encrypted = true;
                if (recordType == kRar5FileTime)
                    if (const auto timeFlags = record.number(); timeFlags && (*timeFlags & kRar5HasModified)) {
                        // Windows' time counts 100 ns steps from 1601.
                        if (*timeFlags & kRar5UnixTime) {
                            if (const auto seconds = record.word())
                                m.modified = QDateTime::fromSecsSinceEpoch(*seconds);
                        } else if (const auto low = record.word(), high = record.word(); low && high) {
                            const quint64 ticks = quint64(*high) << 32 | *low;
                            m.modified = QDateTime::fromSecsSinceEpoch(qint64(ticks / 10000000) - 11644473600LL);
                        }
                    }
                if (recordType != kRar5Redirection)
                    continue;
                const auto kind = record.number();
                const auto linkFlags = record.number();
                const auto targetLength = record.number();
                const auto target = targetLength ? record.bytes(*targetLength) : std::nullopt;
                if (!kind || !linkFlags || !target)
                    return unreadable(volume, QStringLiteral("a damaged link record"));
                // A hard link or file copy is made as a copy; a symbolic link or junction when
                // it stays inside (a link to a folder is that too); anything else never.
                const QString to = QString::fromUtf8(*target);
                if (*kind == 4 || *kind == 5) {
                    m.copyOf = to;
                } else if (*kind >= 1 && *kind <= 3) {
                    m.symlink = true;
                    m.linkTarget = to;
                } else {
                    m.link = true;
                }
                m.directory = false;
            }
            if (*host == kRar5UnixHost && !m.symlink && m.copyOf.isEmpty()) {
                const quint64 kind = *attributes & 0170000;
                m.special = kind == 0020000 || kind == 0060000 || kind == 0010000 || kind == 0140000;
                if (kind == 0120000) // a link whose target is not in a record
                    m.link = true;
                if (!m.directory && !m.link && !m.special)
                    m.unixMode = quint16(*attributes & 0777);
            }
            // Only packed data is decoded through a window; links and copies have none.
            if (!stored && !m.directory && !m.symlink && m.copyOf.isEmpty())
                m.dictionary = rar5Dictionary(*compression);
            m_storedOnly = m_storedOnly && (stored || m.directory);
            m_members << m;
        }
    }
    takeCopiesFromTheirFiles(m_members);
    return {};
}

RarArchiveSet::RarArchiveSet(const QString &hostPath)
{
    Found found = findVolumes(hostPath);
    m_volumes = found.volumes;
    m_missingVolume = found.missingVolume;
    m_damage = found.damage;
    QFile first(m_volumes.value(0));
    m_rar5 = first.open(QIODevice::ReadOnly) && first.read(8) == QByteArray("Rar!\x1a\x07\x01\x00", 8);
}

RarArchiveSet::~RarArchiveSet() = default;

QString RarArchiveSet::storedText(const SetMember &m) const
{
    QByteArray bytes;
    for (const MemberPart &part : m.parts) {
        QFile f(m_volumes.value(part.volume));
        if (!f.open(QIODevice::ReadOnly) || !f.seek(part.offset))
            return QString();
        bytes += f.read(part.size);
    }
    if (bytes.size() != m.size || (m.crc && quint32(crc32Of(bytes)) != *m.crc))
        return QString();
    return QString::fromUtf8(bytes);
}

Result<int> RarArchiveSet::list(const QString &firstVolume)
{
    m_members.clear();
    membersChanged();
    m_windowsNamed.clear();
    m_storedOnly = true;
    // The listing is needed whole, however many members the set has (lsar writes about a
    // kilobyte a member); the bound only keeps a hostile set from taking all memory.
    constexpr qsizetype kLongestListing = qsizetype(256) << 20;
    const ToolRun run = runTool(QStringLiteral("lsar"), {QStringLiteral("-j"), firstVolume}, QString(), 60000, {},
                                ToolOutput{kLongestListing});
    if (!run.started)
        return Error(QStringLiteral("lsar cannot be started; is unar installed?"));
    if (run.standardOutputCut)
        return Error(QStringLiteral("%1 lists more members than can be read").arg(QFileInfo(firstVolume).fileName()));
    const QJsonObject root = QJsonDocument::fromJson(run.standardOutput).object();
    if (run.timedOut || !root.contains(QStringLiteral("lsarContents")) || root.contains(QStringLiteral("lsarError")))
        return Error(QStringLiteral("%1 cannot be read as a RAR archive").arg(QFileInfo(firstVolume).fileName()));
    const QJsonObject properties = root.value(QStringLiteral("lsarProperties")).toObject();
    const QList<qint64> ends = volumeEnds(m_volumes);
    for (const QJsonValue &value : root.value(QStringLiteral("lsarContents")).toArray()) {
        const QJsonObject e = value.toObject();
        const auto flag = [&e](const char *key) { return e.value(propertyName(key)).toInt() != 0; };
        SetMember m;
        m.name = e.value(QStringLiteral("XADFileName")).toString();
        m.size = qint64(e.value(QStringLiteral("XADFileSize")).toDouble());
        m.directory = flag("XADIsDirectory");
        // A symbolic link is made when it stays inside; a RAR 5 hard link or file copy (kinds 4
        // and 5) is made as a copy of the file it names.
        const int redirection = e.value(QStringLiteral("RAR5RedirectionType")).toInt();
        const QString target = e.value(QStringLiteral("XADLinkDestination")).toString();
        if (redirection == 4 || redirection == 5)
            m.copyOf = target;
        else if (flag("XADIsHardLink"))
            m.link = true;
        else if (flag("XADIsLink")) {
            m.symlink = true;
            m.linkTarget = target;
        }
        // A link to a folder is listed as a folder too: it is made as the link it is.
        if (m.symlink || m.link || !m.copyOf.isEmpty())
            m.directory = false;
        m.special = flag("XADIsCharacterDevice") || flag("XADIsBlockDevice") || flag("XADIsFIFO");
        m.encrypted = flag("XADIsEncrypted");
        // RAR host 3 is Unix, whose attributes are the file's mode.
        if (e.value(QStringLiteral("RAROS")).toInt() == 3 && e.contains(QStringLiteral("XADPosixPermissions")) &&
            !m.directory && !m.symlink && !m.link && !m.special)
            m.unixMode = quint16(e.value(QStringLiteral("XADPosixPermissions")).toInt() & 0777);
        m.modified = listedTime(e.value(QStringLiteral("XADLastModificationDate")).toString());
        // RAR hosts 0 to 2: MS-DOS, OS/2, Windows, where '\\' parts a name. A '/' there is one
        // too, as libarchive reads it: lsar shows it so, or as ':' inside a part, which such a
        // name cannot hold otherwise (one after a first letter, a drive, is left to be refused).
        if (e.contains(QStringLiteral("RAROS")) && e.value(QStringLiteral("RAROS")).toInt() <= 2) {
            for (qsizetype k = 2; k < m.name.size(); ++k)
                if (m.name[k] == u':')
                    m.name[k] = u'/';
            if (m.name.contains(u'/'))
                m_windowsNamed.insert(int(m_members.size()));
        }
        for (const char *key : {"RARCRC32", "RAR5CRC32"})
            if (e.contains(propertyName(key)))
                m.crc = quint32(e.value(propertyName(key)).toDouble());
        if (m.directory)
            m.size = 0;
        // The pieces of a stored member, to tell which volume holds damage.
        QJsonArray parts = e.value(QStringLiteral("RAR5InputParts")).toArray();
        if (parts.isEmpty())
            parts = e.value(QStringLiteral("XADSolidObject"))
                        .toArray()
                        .first()
                        .toObject()
                        .value(QStringLiteral("Parts"))
                        .toArray();
        // A piece that another follows keeps the CRC of its bytes as they lie there, packed or
        // not; the last keeps the whole file's.
        const bool stored = e.value(QStringLiteral("XADCompressionName")).toString() == u"None";
        m_storedOnly = m_storedOnly && (stored || m.directory);
        for (qsizetype i = 0; i < parts.size(); ++i)
            if (auto part =
                    partIn(ends, qint64(parts[i][QStringLiteral("Offset")].toDouble()),
                           qint64(parts[i][QStringLiteral("InputLength")].toDouble()),
                           i + 1 < parts.size() ? std::optional(quint32(parts[i][QStringLiteral("CRC32")].toDouble()))
                                                : std::nullopt)) {
                part->stored = stored;
                part->crcOfPackedBytes = true;
                m.parts << *part;
            }
        // RAR 4 keeps a link's target as its data.
        if (m.symlink && m.linkTarget.isEmpty()) {
            if (stored && m.size <= kLongestTarget)
                m.linkTarget = storedText(m);
            if (m.linkTarget.isEmpty()) {
                m.symlink = false;
                m.link = true;
            }
        }
        m_members << m;
    }
    takeCopiesFromTheirFiles(m_members);
    // The volumes lsar read (its own "scanning failed" mark also stands on whole one-volume
    // archives); one when it names none.
    return int(std::max<qsizetype>(1, properties.value(QStringLiteral("XADVolumes")).toArray().size()));
}

Result<void> RarArchiveSet::readMembers()
{
    // The tools find a set's volumes by their names and take a neighbour whose name differs in
    // a digit for one (Game.CD1.rar beside Game.CD2.rar): they are handed the set's own volumes
    // alone, as links in a private folder. Returns the first one's path there.
    const auto handOver = [this](const std::function<QString(int)> &name) -> Result<QString> {
        m_links = std::make_unique<LinkFolder>("zelv-volumes-");
        if (!m_links->isValid())
            return Error(QStringLiteral("cannot make a private folder for the volumes"), m_links->errorString());
        for (int i = 0; i < m_volumes.size(); ++i)
            if (symlink(QFile::encodeName(m_volumes[i]).constData(), QFile::encodeName(m_links->filePath(name(i)))) !=
                0)
                return Error::fromErrno(
                    QStringLiteral("cannot hand %1 to lsar").arg(QFileInfo(m_volumes[i]).fileName()));
        return m_links->filePath(name(0));
    };
    const QString stem = QFileInfo(m_volumes.first()).completeBaseName();
    const auto newNames = [&stem](int i) {
        return QStringLiteral("%1.part%2.rar").arg(stem).arg(i + 1, 4, 10, QLatin1Char('0'));
    };
    const auto ownNames = [this](int i) { return QFileInfo(m_volumes[i]).fileName(); };
    // RAR 5 is listed from its own headers; unar, should it be needed, follows its volumes only
    // under the new names.
    if (m_rar5) {
        auto first = m_volumes.size() > 1 ? handOver(newNames) : handOver(ownNames);
        if (!first)
            return first.error();
        m_toolFirstVolume = *first;
        return listRar5();
    }
    auto first = handOver(ownNames);
    if (!first)
        return first.error();
    m_toolFirstVolume = *first;
    auto followed = list(m_toolFirstVolume);
    if (followed && *followed < m_volumes.size()) {
        // unar follows a set only under the new volume names (name.part1.rar, ...) at times: a
        // set named the old way is handed over under names of the new way.
        first = handOver(newNames);
        if (!first)
            return first.error();
        m_toolFirstVolume = *first;
        followed = list(m_toolFirstVolume);
    }
    if (!followed)
        return followed.error();
    if (*followed < m_volumes.size())
        return Error(
            QStringLiteral("unar cannot follow the volumes of %1").arg(QFileInfo(m_volumes.first()).fileName()));
    return {};
}

Result<Extracted> RarArchiveSet::extract(const ExtractionRun &run) const
{
    // Stored sets and packed RAR 5 ones are read here: measured several times faster than unar
    // on stored data and faster on every packed RAR 5 set made here (see bench/README.md).
    // Packed RAR 1.5 to 4 go to unar first, which reads the old packings libarchive cannot.
    // Whichever reads first, the other reads what it cannot.
    if (m_storedOnly || m_rar5) {
        const auto done = extractInProcess(run);
        if (done && *done)
            return *done;
        // Packed data libarchive finds damaged gets unar's second reading: a decoder may be
        // wrong where the other is right. Stored data's CRC is the data's own.
        const bool damaged = done && done->error().text().startsWith(QStringLiteral("CRC error in "));
        if (done && (!damaged || m_storedOnly))
            return *done;
        if (auto cleared = run.folder.clear(); !cleared)
            return cleared.error();
        const auto again = extractWithUnar(run);
        if (damaged && (!again || again->toolReportedCrcError))
            return *done;
        return again;
    }
    const UnarOutcome unar = runUnar(run);
    if (!unar.readAgain)
        return unar.result;
    // unar gave up on a set it found no damage in: libarchive reads it over, from nothing.
    if (auto cleared = run.folder.clear(); !cleared)
        return cleared.error();
    if (auto done = extractInProcess(run))
        return *done;
    // Neither reads it whole: unar's own output, over again, for the files' check to judge.
    if (auto cleared = run.folder.clear(); !cleared)
        return cleared.error();
    return extractWithUnar(run);
}

std::optional<Result<Extracted>> RarArchiveSet::extractInProcess(const ExtractionRun &run) const
{
    // Without libarchive, unar reads the set.
    const LibArchive *opened = libArchive();
    if (!opened)
        return std::nullopt;
    const LibArchive &la = *opened;
    const Utf8Names names;
    VolumeStream stream(m_volumes);
    archive *a = la.read_new();
    if (!a)
        return std::nullopt;
    struct Closer {
        const LibArchive &la;
        archive *a;
        ~Closer() { la.read_free(a); }
    } closer{la, a};
    la.read_support_format_rar(a);
    la.read_support_format_rar5(a);
    if (la.read_open(a, &stream, nullptr, &VolumeStream::read, nullptr) != ARCHIVE_OK)
        return std::nullopt;

    // The listing's members by place, in order, for the entries libarchive gives.
    QHash<QString, QList<int>> byPlace;
    for (int i = 0; i < m_members.size(); ++i)
        byPlace[placeKey(m_members[i].name)] << i;
    const QSet<int> only(run.only.cbegin(), run.only.cend());
    // Copies are made in the members' order, each before a later member is written: its file's
    // name holds the file it copies then, which a later member of that name replaces.
    QList<int> copies;
    for (int i = 0; i < m_members.size(); ++i)
        if (!m_members[i].copyOf.isEmpty() && (only.isEmpty() || only.contains(i)))
            copies << i;
    qsizetype nextCopy = 0;
    const auto copiesBefore = [&](int index) -> Result<void> {
        for (; nextCopy < copies.size() && copies[nextCopy] < index; ++nextCopy)
            if (auto made = run.folder.copyFile(m_members[copies[nextCopy]].name, copySource(copies[nextCopy])); !made)
                return made;
        return {};
    };
    std::vector<char> buffer(1 << 20);
    qint64 sinceTick = 0;
    archive_entry *entry = nullptr;
    for (;;) {
        const int header = la.read_next_header(a, &entry);
        if (header == ARCHIVE_EOF)
            break;
        if (header < ARCHIVE_WARN)
            return std::nullopt;
        const char *utf8 = la.entry_pathname_utf8(entry);
        const QString name = utf8 ? QString::fromUtf8(utf8) : QFile::decodeName(la.entry_pathname(entry));
        QList<int> &matches = byPlace[placeKey(name)];
        if (matches.isEmpty())
            return std::nullopt; // not the listing lsar gave: let unar read it
        const int index = matches.takeFirst();
        const SetMember &m = m_members[index];
        if (auto made = copiesBefore(index); !made)
            return Result<Extracted>(made.error());
        if (!only.isEmpty() && !only.contains(index))
            continue;
        if (m.directory) {
            if (auto made = run.folder.makeFolder(m.name); !made)
                return Result<Extracted>(made.error());
            continue;
        }
        if (m.symlink || m.link || m.special || !m.copyOf.isEmpty())
            continue; // links are made once every file is in place, copies in their turn
        const auto fd = run.folder.createFile(m.name);
        if (!fd)
            return Result<Extracted>(fd.error());
        std::optional<Error> fault;
        qint64 written = 0;
        quint32 crc = 0; // of what was written, which the files' check then need not read again
        // An empty packed member is not read: libarchive, asked for its no bytes, goes on into
        // the next volume and loses its place in the set.
        for (bool more = m.size > 0 || la.entry_size(entry) > 0; more;) {
            const la_ssize_t n = la.read_data(a, buffer.data(), buffer.size());
            if (n == 0) {
                more = false;
                continue;
            }
            if (n < 0) {
                const QByteArray why = la.error_string(a);
                // Damaged data is told as such, and so is packed data libarchive cannot decode
                // where a piece's own CRC shows damage; anything else libarchive cannot do,
                // unar may.
                const bool crcError = why == "File CRC error" || why.startsWith("Checksum error: ");
                const QString volume = damagedVolume(m.name, crcError);
                if (crcError || !volume.isEmpty()) {
                    fault = Error(volume.isEmpty() ? QStringLiteral("CRC error in %1").arg(m.name)
                                                   : QStringLiteral("CRC error in %1 (%2)").arg(m.name, volume));
                    break;
                }
                close(*fd);
                return std::nullopt;
            }
            if (!hostfs::writeAll(*fd, buffer.data(), qsizetype(n))) {
                fault = Error::fromErrno(QStringLiteral("cannot write %1").arg(m.name));
                break;
            }
            crc = quint32(updateCrc32(crc, buffer.data(), size_t(n)));
            written += n;
            sinceTick += n;
            if (sinceTick >= (8 << 20)) {
                sinceTick = 0;
                if (run.tick && !run.tick()) {
                    fault = Error(QStringLiteral("Cancelled"));
                    break;
                }
            }
        }
        if (!fault && la.entry_mtime_is_set(entry)) {
            const timespec times[2] = {{0, UTIME_OMIT}, {la.entry_mtime(entry), la.entry_mtime_nsec(entry)}};
            futimens(*fd, times);
        }
        if (!fault && written == m.size)
            run.folder.wroteFile(m.name, *fd, crc);
        close(*fd);
        if (fault)
            return Result<Extracted>(*fault);
        if (run.tick && !run.tick())
            return Result<Extracted>(Error(QStringLiteral("Cancelled")));
    }
    if (auto made = copiesBefore(int(m_members.size())); !made)
        return Result<Extracted>(made.error());
    if (auto links = makeLinks(run, Copies::Made); !links)
        return Result<Extracted>(links.error());
    return Result<Extracted>(Extracted{});
}

QString RarArchiveSet::copySource(int copy) const
{
    const SetMember &m = m_members[copy];
    return m.copyOfMember >= 0 ? m_members[m.copyOfMember].name : m.copyOf;
}

quint64 RarArchiveSet::largestDictionary() const
{
    quint64 largest = 0;
    for (const SetMember &m : m_members)
        largest = std::max(largest, m.dictionary);
    return largest;
}

std::optional<Error> RarArchiveSet::setRefusal() const
{
    // libarchive reads no dictionary over 64 MB and unar takes whatever the headers ask for.
    const quint64 dictionary = largestDictionary();
    if (dictionary <= budget::kToolDictionary)
        return std::nullopt;
    return Error(budget::memoryRefusal(QFileInfo(m_volumes.value(0)).fileName(), dictionary,
                                       QStringLiteral("its dictionary"), budget::kToolDictionary));
}

Result<void> RarArchiveSet::makeLinks(const ExtractionRun &run, Copies copies) const
{
    const QSet<int> only(run.only.cbegin(), run.only.cend());
    // A copy or link that a later member of its name replaces is not made.
    const QHash<QString, int> last = lastAtEachPlace(m_members);
    const auto isLast = [&](int i) { return last.value(placeKey(m_members[i].name), -1) == i; };
    const auto made = [&](int i) { return (only.isEmpty() || only.contains(i)) && isLast(i); };
    // Copies whose file a later member replaced were made aside while it stood.
    if (copies == Copies::FromFilesInPlace)
        for (int i = 0; i < m_members.size(); ++i)
            if (const int source = m_members[i].copyOfMember; source >= 0 && isLast(source) && made(i))
                if (auto copied = run.folder.copyFile(m_members[i].name, m_members[source].name); !copied)
                    return copied;
    for (int i = 0; i < m_members.size(); ++i)
        if (m_members[i].symlink && made(i))
            if (auto linked = run.folder.makeLink(m_members[i].name, m_members[i].linkTarget); !linked)
                return linked;
    return {};
}

Result<Extracted> RarArchiveSet::extractWithUnar(const ExtractionRun &run) const
{
    const UnarOutcome unar = runUnar(run);
    // No other reader follows: the links are made as after any run, for the files' check.
    if (unar.readAgain && unar.result)
        if (auto links = makeLinks(run, Copies::FromFilesInPlace); !links)
            return links.error();
    return unar.result;
}

RarArchiveSet::UnarOutcome RarArchiveSet::runUnar(const ExtractionRun &run) const
{
    const QSet<int> only(run.only.cbegin(), run.only.cend());
    const QHash<QString, int> last = lastAtEachPlace(m_members);
    const auto isLast = [&](int i) { return last.value(placeKey(m_members.value(i).name), -1) == i; };
    // unar writes every file of a name over the one before: a copy of a file that a later
    // member of its name replaces is made aside once unar has written that file on its own (the
    // earlier files of a name in earlier runs), and moved into place at the end.
    QList<int> aside;
    QHash<int, int> runOfSource;
    QList<QList<int>> sourceRuns;
    QHash<QString, int> runsAtPlace;
    for (int i = 0; i < m_members.size(); ++i) {
        const int source = m_members[i].copyOfMember;
        if (source < 0 || (!only.isEmpty() && !only.contains(i)) || !isLast(i) || isLast(source))
            continue;
        aside << i;
        if (runOfSource.contains(source))
            continue;
        const int runIndex = runsAtPlace[placeKey(m_members[source].name)]++;
        if (runIndex == sourceRuns.size())
            sourceRuns.append(QList<int>());
        sourceRuns[runIndex] << source;
        runOfSource.insert(source, runIndex);
    }
    // Each run reads the set again: a set that would need many is left to the other reader.
    constexpr qsizetype kMostSourceRuns = 8;
    if (sourceRuns.size() > kMostSourceRuns)
        return {Error(QStringLiteral("unar cannot read %1: too many copies of files whose names come again")
                          .arg(run.shownName)),
                true};
    // The folder the copies wait in, named as no member's first part is.
    QString asideFolder = QStringLiteral(".zelv-copies");
    if (!aside.isEmpty()) {
        QSet<QString> firstParts;
        for (const SetMember &m : m_members)
            firstParts.insert(placeKey(m.name).section(u'/', 0, 0));
        for (int n = 2; firstParts.contains(asideFolder); ++n)
            asideFolder = QStringLiteral(".zelv-copies-%1").arg(n);
    }
    const auto asideName = [&asideFolder](int copy) { return asideFolder + u'/' + QString::number(copy); };
    const auto moveAside = [&]() -> Result<void> {
        for (const int i : aside)
            if (auto moved = run.folder.moveWritten(QFile::encodeName(asideName(i)), m_members[i].name); !moved)
                return moved;
        return {};
    };

    // unar writes by path: it runs in the extraction folder, held open, and writes there. It is
    // given the address space the set's dictionary asks for besides its own.
    const qint64 unpacked = unpackedSize(m_members);
    const WorkingFolder folder =
        run.folder.descriptor() >= 0 ? WorkingFolder(run.folder.descriptor()) : WorkingFolder(run.folder.path());
    const ToolLimits limits{budget::kToolAddressSpace + largestDictionary()};
    // Members by their place in lsar's listing, which is the members' order: no name is taken
    // for a pattern; none given, the whole set.
    const auto unar = [&](const QList<int> &members) {
        QStringList arguments{QStringLiteral("-o"), QStringLiteral("."),   QStringLiteral("-f"),
                              QStringLiteral("-D"), QStringLiteral("-nr"), QStringLiteral("-q")};
        if (!members.isEmpty())
            arguments << QStringLiteral("-i");
        arguments << m_toolFirstVolume;
        for (const int i : members)
            arguments << QString::number(i);
        // A minute, and a second more for every 5 MB of the set, as for every archiver.
        return runTool(
            QStringLiteral("unar"), arguments, folder, 60000 + unpacked / (5 << 20) * 1000,
            [&run](const QByteArray &) { return !run.tick || run.tick(); }, {}, limits);
    };
    Extracted extracted;
    // How a run ended, when it stopped the extraction: unar's failure on no damage it found lets
    // another reader try.
    const auto stopped = [&](const ToolRun &tool) -> std::optional<UnarOutcome> {
        if (tool.cancelled)
            return UnarOutcome{Error(QStringLiteral("Cancelled")), false};
        if (!tool.started)
            return UnarOutcome{Error(QStringLiteral("unar cannot be started; is it installed?")), true};
        if (tool.timedOut)
            return UnarOutcome{
                Error(QStringLiteral("unar did not finish %1 in time and was stopped").arg(run.shownName)), true};
        // unar says "Wrong checksum" where others say "CRC": damage, which the files' check names.
        const bool crcError = tool.output.contains("CRC") || tool.output.contains("checksum");
        extracted.toolReportedCrcError = extracted.toolReportedCrcError || crcError;
        if (tool.exitCode != 0 && !crcError && !outOfSpace(run, tool.output))
            return UnarOutcome{extracted, true};
        return std::nullopt;
    };

    for (int r = 0; r < sourceRuns.size(); ++r) {
        QList<int> sources = sourceRuns[r];
        std::sort(sources.begin(), sources.end());
        if (auto end = stopped(unar(sources)))
            return *end;
        for (const int i : aside)
            if (const int source = m_members[i].copyOfMember; runOfSource.value(source) == r)
                if (auto made = run.folder.copyFile(asideName(i), m_members[source].name); !made)
                    return {made.error(), false};
    }

    // Links and copies are left to be made once every file is in place; with copies aside, a
    // member that a later one of its name replaces is left out, so that their places stay free.
    QList<int> wanted = run.only;
    const auto madeHere = [this](int i) { return m_members.value(i).symlink || !m_members.value(i).copyOf.isEmpty(); };
    bool anyLink = false;
    for (int i = 0; i < m_members.size(); ++i)
        anyLink = anyLink || madeHere(i);
    if (anyLink && wanted.isEmpty())
        for (int i = 0; i < m_members.size(); ++i)
            wanted << i;
    const auto finish = [&]() -> Result<void> {
        if (auto placed = placeWindowsNames(run); !placed)
            return placed;
        if (auto moved = moveAside(); !moved)
            return moved;
        return makeLinks(run, Copies::FromFilesInPlace);
    };
    if (anyLink) {
        wanted.removeIf([&](int i) { return madeHere(i) || (!aside.isEmpty() && !isLast(i)); });
        if (wanted.isEmpty()) {
            if (auto done = finish(); !done)
                return {done.error(), false};
            return {extracted, false};
        }
    }
    const ToolRun tool = unar(wanted);
    if (auto end = stopped(tool)) {
        // The copies made aside go to their places for the files' check to judge.
        if (end->readAgain && end->result)
            (void)moveAside();
        return *end;
    }
    if (auto done = finish(); !done)
        return {done.error(), false};
    return {extracted, false};
}

Result<void> RarArchiveSet::placeWindowsNames(const ExtractionRun &run) const
{
    QSet<QString> places;
    for (const SetMember &m : m_members)
        places.insert(placeKey(m.name));
    const QSet<int> only(run.only.cbegin(), run.only.cend());
    for (const int i : m_windowsNamed) {
        const SetMember &m = m_members[i];
        if (m.directory || m.symlink || !m.copyOf.isEmpty() || (!only.isEmpty() && !only.contains(i)))
            continue;
        const QString place = placeKey(m.name);
        struct stat st;
        const auto standing = [&run, &st](const QString &path) {
            return fstatat(run.folder.descriptor(), QFile::encodeName(path).constData(), &st, AT_SYMLINK_NOFOLLOW) ==
                       0 &&
                   S_ISREG(st.st_mode);
        };
        if (place.isEmpty() || standing(place))
            continue;
        // Which '/' the name held itself cannot be told from the listing: each way of reading
        // them is tried, up to a few of them, and only a file no other member claims is taken.
        QList<qsizetype> slashes;
        for (qsizetype at = place.indexOf(u'/'); at >= 0 && slashes.size() < 8; at = place.indexOf(u'/', at + 1))
            slashes << at;
        for (quint32 mask = 1; mask < (1u << slashes.size()); ++mask) {
            QString written = place;
            for (int b = 0; b < slashes.size(); ++b)
                if (mask & (1u << b))
                    written[slashes[b]] = u'_';
            if (places.contains(written) || !standing(written))
                continue;
            if (auto moved = run.folder.moveWritten(QFile::encodeName(written), m.name); !moved)
                return moved;
            break;
        }
    }
    return {};
}

bool RarArchiveSet::outOfSpace(const ExtractionRun &run, const QByteArray &toolOutput) const
{
    if (toolOutput.contains("No space left"))
        return true;
    // Less room left than the files still lack.
    struct statvfs vfs;
    if (statvfs(QFile::encodeName(run.folder.path()).constData(), &vfs) != 0)
        return false;
    const QSet<int> only(run.only.cbegin(), run.only.cend());
    qint64 missing = 0;
    for (int i = 0; i < m_members.size(); ++i) {
        const SetMember &m = m_members[i];
        if (m.directory || m.symlink || m.link || m.special || !m.copyOf.isEmpty() ||
            (!only.isEmpty() && !only.contains(i)))
            continue;
        struct stat st;
        const auto place = safeMemberPath(m.name);
        const bool there = place &&
                           lstat(QFile::encodeName(run.folder.path() + u'/' + place->joined()).constData(), &st) == 0 &&
                           S_ISREG(st.st_mode);
        missing += std::max<qint64>(0, m.size - (there ? qint64(st.st_size) : 0));
    }
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize) < missing;
}

} // namespace zelv
