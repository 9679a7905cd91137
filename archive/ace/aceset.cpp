#include "aceset.h"

#include "archive/crc32.h"
#include "archive/littleendian.h"
#include "platform/cp437.h"
#include "platform/hostfs.h"

#include <QFile>
#include <QFileInfo>

namespace zelv {

namespace {

constexpr QByteArrayView kSignature = "**ACE**";
constexpr qint64 kStubSearch = 512 * 1024;

enum HeaderType : quint8 { MainHeader = 0, File32 = 1, File64 = 3 };
constexpr quint16 kAddSize = 0x0001;
constexpr quint16 kWide = 0x0004; // 64-bit sizes
constexpr quint16 kMultiVolume = 0x0800;
constexpr quint16 kSolid = 0x8000;
constexpr quint16 kStartedInPrevious = 0x1000;
constexpr quint16 kContinuesInNext = 0x2000;
constexpr quint16 kPassword = 0x4000;
constexpr quint32 kAttrDirectory = 0x10;

struct Main {
    quint16 flags = 0;
    int versionNeeded = 0;
    int versionMadeBy = 0;
    int volume = 0;
};

struct FileHeader {
    quint16 flags = 0;
    quint64 packed = 0;
    quint64 size = 0;
    quint32 time = 0;
    quint32 attributes = 0;
    quint32 crc = 0;
    quint8 method = 0;
    quint8 quality = 0;
    quint16 parameters = 0;
    QByteArray name;
    qint64 data = 0;
};

// Reads one volume's headers from `start` on. Every length is checked against the header it
// lies in and every data size against the file, so a lying header is a fault, never a read
// outside the volume.
class VolumeReader {
public:
    explicit VolumeReader(QFile &f) : m_file(f), m_size(f.size()) {}

    // The main header at `at`, or why there is none.
    Result<Main> main(qint64 at)
    {
        const auto body = header(at);
        if (!body)
            return body.error();
        const auto *b = reinterpret_cast<const uchar *>(body->constData());
        if (b[0] != MainHeader || body->size() < 26 || QByteArrayView(body->constData() + 3, 7) != kSignature)
            return Error(QStringLiteral("no ACE main header"));
        Main m;
        m.flags = le16(b + 1);
        m.versionNeeded = b[10];
        m.versionMadeBy = b[11];
        m.volume = b[13];
        return m;
    }

    // The file header at `at`, skipping any other kind (recovery records); nothing at the end
    // of the volume, or why a header is damaged.
    Result<std::optional<FileHeader>> next(qint64 *at)
    {
        while (*at < m_size) {
            const auto body = header(*at);
            if (!body)
                return body.error();
            const auto *b = reinterpret_cast<const uchar *>(body->constData());
            const qsizetype n = body->size();
            const quint16 flags = n >= 3 ? le16(b + 1) : 0;
            const qint64 data = *at + 4 + n;
            if (n < 3 || b[0] == MainHeader)
                return Error(QStringLiteral("a damaged header"));
            if (b[0] != File32 && b[0] != File64) {
                // Another kind of block: its data, if any, is skipped.
                quint64 extra = 0;
                if (flags & kAddSize) {
                    const int width = (flags & kWide) ? 8 : 4;
                    if (n < 3 + width)
                        return Error(QStringLiteral("a damaged header"));
                    extra = width == 8 ? le64(b + 3) : le32(b + 3);
                }
                if (extra > quint64(m_size - data))
                    return Error(QStringLiteral("cut short"));
                *at = data + qint64(extra);
                continue;
            }
            const bool wide = b[0] == File64;
            const qsizetype fixed = 3 + (wide ? 16 : 8) + 20;
            if (!(flags & kAddSize) || wide != bool(flags & kWide) || n < fixed)
                return Error(QStringLiteral("a damaged header"));
            FileHeader h;
            h.flags = flags;
            const uchar *p = b + 3;
            h.packed = wide ? le64(p) : le32(p);
            h.size = wide ? le64(p + 8) : le32(p + 4);
            p += wide ? 16 : 8;
            h.time = le32(p);
            h.attributes = le32(p + 4);
            h.crc = le32(p + 8);
            h.method = p[12];
            h.quality = p[13];
            h.parameters = le16(p + 14);
            const int nameSize = le16(p + 18);
            if (fixed + nameSize > n)
                return Error(QStringLiteral("a damaged header"));
            h.name = body->mid(fixed, nameSize);
            h.data = data;
            if (h.packed > quint64(m_size - data) || h.size > quint64(std::numeric_limits<qint64>::max()))
                return Error(QStringLiteral("cut short"));
            *at = data + qint64(h.packed);
            return std::optional(h);
        }
        return std::optional<FileHeader>();
    }

private:
    // The body of the header at `at` (from its type byte on), its CRC checked.
    Result<QByteArray> header(qint64 at)
    {
        uchar lead[4];
        if (!m_file.seek(at) || m_file.read(reinterpret_cast<char *>(lead), 4) != 4)
            return Error(QStringLiteral("cut short"));
        const int size = le16(lead + 2);
        QByteArray body = m_file.read(size);
        if (body.size() != size)
            return Error(QStringLiteral("cut short"));
        if ((aceCrc32(body.constData(), body.size()) & 0xFFFF) != le16(lead))
            return Error(QStringLiteral("a damaged header"));
        return body;
    }

    QFile &m_file;
    qint64 m_size;
};

struct Start {
    qint64 at = 0;
    Main main;
};

// Where the archive starts: at 0, or behind a self-extracting stub.
std::optional<Start> findStart(QFile &f, VolumeReader &reader)
{
    if (auto m = reader.main(0))
        return Start{0, *m};
    if (!f.seek(0))
        return std::nullopt;
    const QByteArray head = f.read(kStubSearch);
    for (qsizetype at = head.indexOf(kSignature, 8); at >= 7; at = head.indexOf(kSignature, at + 1))
        if (auto m = reader.main(at - 7))
            return Start{at - 7, *m};
    return std::nullopt;
}

QString volumeName(const QString &stem, const QString &firstSuffix, int index)
{
    if (index == 0)
        return stem + firstSuffix;
    // Volumes after the first keep the letter case of the first one's suffix.
    const QChar c = firstSuffix.size() > 1 && firstSuffix[1].isUpper() ? u'C' : u'c';
    return stem + u'.' + c + QStringLiteral("%1").arg(index - 1, 2, 10, QLatin1Char('0'));
}

// The name as a person reads it; control bytes stay visible so that the name is refused.
QString nameOf(const QByteArray &raw)
{
    for (char c : raw)
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            return QString::fromLatin1(raw);
    return cp437::decode(raw);
}

} // namespace

quint32 aceCrc32(const char *data, qsizetype size, quint32 running)
{
    return ~updateCrc32(~running, data, size_t(size));
}

AceSet readAceSet(const QString &hostPath)
{
    AceSet set;
    const QFileInfo given(hostPath);
    const QString folder = given.absolutePath();
    QString stem = given.completeBaseName();
    QString firstSuffix = u'.' + given.suffix();
    // A later volume names the first one: name.c03 belongs to name.ace.
    const bool later = given.suffix().size() == 3 && given.suffix()[0].toLower() == u'c' &&
                       given.suffix()[1].isDigit() && given.suffix()[2].isDigit();
    if (later)
        firstSuffix = given.suffix()[0].isUpper() ? QStringLiteral(".ACE") : QStringLiteral(".ace");

    AceMember *open = nullptr; // a member whose data goes on in the next volume
    for (int index = 0;; ++index) {
        const QString name = volumeName(stem, firstSuffix, index);
        const QString path = index == 0 && !later ? hostPath : hostfs::findFileIgnoringCase(folder, name);
        if (path.isEmpty()) {
            // The set ends here unless a member goes on or a later volume stands.
            if (index == 0 || open ||
                !hostfs::findFileIgnoringCase(folder, volumeName(stem, firstSuffix, index + 1)).isEmpty())
                set.missingVolume = folder + u'/' + name;
            return set;
        }
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            set.damage = Error(QStringLiteral("%1 cannot be read").arg(QFileInfo(path).fileName()), f.errorString());
            return set;
        }
        set.volumes << path;
        const QString shown = QFileInfo(path).fileName();
        VolumeReader reader(f);
        std::optional<Start> start;
        if (index == 0)
            start = findStart(f, reader);
        else if (const auto m = reader.main(0))
            start = Start{0, *m};
        if (!start) {
            set.damage = Error(QStringLiteral("%1 is not an ACE archive").arg(shown));
            return set;
        }
        const Main &main = start->main;
        if (index == 0) {
            set.versionNeeded = main.versionNeeded;
            set.versionMadeBy = main.versionMadeBy;
            set.multiVolume = main.flags & kMultiVolume;
            set.solid = main.flags & kSolid;
        } else if (!(main.flags & kMultiVolume) || main.volume != (index & 0xFF)) {
            set.damage = Error(
                QStringLiteral("%1 is not the next volume of %2").arg(shown, QFileInfo(set.volumes[0]).fileName()));
            return set;
        }
        // Skip the rest of the main header: its size is in its own lead.
        uchar lead[4];
        if (!f.seek(start->at) || f.read(reinterpret_cast<char *>(lead), 4) != 4) {
            set.damage = Error(QStringLiteral("%1 is cut short").arg(shown));
            return set;
        }
        qint64 at = start->at + 4 + le16(lead + 2);
        for (;;) {
            const auto next = reader.next(&at);
            if (!next) {
                set.damage = Error(QStringLiteral("%1 in %2").arg(next.error().text(), shown));
                return set;
            }
            if (!*next)
                break;
            const FileHeader *h = &**next;
            const AcePart part{index, h->data, qint64(h->packed)};
            if (h->flags & kStartedInPrevious) {
                if (!open || open->storedName != h->name) {
                    set.damage =
                        Error(QStringLiteral("%1 goes on from a volume that does not hold it").arg(nameOf(h->name)));
                    return set;
                }
                open->parts << part;
                open->packedSize += part.size;
                open->crc = ~h->crc; // the last part's header has the whole file's
                if (!(h->flags & kContinuesInNext))
                    open = nullptr;
                continue;
            }
            if (open) {
                set.damage = Error(QStringLiteral("%1 stops in %2").arg(open->name, shown));
                return set;
            }
            AceMember m;
            m.storedName = h->name;
            m.name = nameOf(h->name);
            m.size = qint64(h->size);
            m.packedSize = part.size;
            m.crc = ~h->crc;
            m.attributes = h->attributes;
            m.dosTime = h->time;
            m.method = h->method;
            m.quality = h->quality;
            m.parameters = h->parameters;
            m.directory = h->attributes & kAttrDirectory;
            m.encrypted = h->flags & kPassword;
            m.solid = h->flags & kSolid;
            m.parts << part;
            set.members << m;
            if (h->flags & kContinuesInNext)
                open = &set.members.last();
        }
        if (!set.multiVolume)
            return set;
    }
}

} // namespace zelv
