#include "arjset.h"

#include "platform/cp437.h"
#include "platform/hostfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <zlib.h>

namespace zelv {

namespace {

constexpr quint8 kGarbled = 0x01;
constexpr quint8 kContinuesInNext = 0x04;
constexpr quint8 kStartedInPrevious = 0x08;
enum FileType : quint8 { Binary = 0, Text = 1, MainHeader = 2, Directory = 3, VolumeLabel = 4 };
constexpr int kLongestHeader = 2600;

quint16 le16(const char *p) { return quint16(uchar(p[0]) | uchar(p[1]) << 8); }
quint32 le32(const char *p) { return quint32(le16(p)) | quint32(le16(p + 2)) << 16; }

struct Header {
    quint8 flags = 0;
    quint8 method = 0;
    quint8 type = 0;
    qint64 packed = 0;
    qint64 size = 0;
    quint32 crc = 0;
    QByteArray name;
    qint64 data = 0; // where the data starts
};

// The header at `at`, or nothing at the end of the volume (fault stays empty) or when it is
// damaged (fault says so).
std::optional<Header> readHeader(QFile &f, qint64 at, QString *fault)
{
    if (!f.seek(at)) {
        *fault = QStringLiteral("cut short");
        return std::nullopt;
    }
    const QByteArray lead = f.read(4);
    if (lead.size() < 4 || uchar(lead[0]) != 0x60 || uchar(lead[1]) != 0xEA) {
        *fault = QStringLiteral("no header where one belongs");
        return std::nullopt;
    }
    const int size = le16(lead.constData() + 2);
    if (size == 0)
        return std::nullopt;
    const QByteArray basic = f.read(size + 4);
    if (size > kLongestHeader || size < 30 || basic.size() < size + 4 ||
        crc32(0, reinterpret_cast<const Bytef *>(basic.constData()), uInt(size)) != le32(basic.constData() + size)) {
        *fault = QStringLiteral("a damaged header");
        return std::nullopt;
    }
    const char *h = basic.constData();
    const int first = uchar(h[0]);
    Header header;
    header.flags = uchar(h[4]);
    header.method = uchar(h[5]);
    header.type = uchar(h[6]);
    header.packed = le32(h + 12);
    header.size = le32(h + 16);
    header.crc = le32(h + 20);
    header.name = QByteArray(h + first, size - first).split('\0').first();
    // Extended headers follow, each with its size and CRC, until a size of 0.
    qint64 next = at + 4 + size + 4;
    for (;;) {
        if (!f.seek(next)) {
            *fault = QStringLiteral("cut short");
            return std::nullopt;
        }
        const QByteArray extended = f.read(2);
        if (extended.size() < 2) {
            *fault = QStringLiteral("cut short");
            return std::nullopt;
        }
        const int length = le16(extended.constData());
        next += 2;
        if (length == 0)
            break;
        next += length + 4;
    }
    header.data = next;
    return header;
}

// A member's name as a person reads it; control bytes are kept so that the name is refused.
QString nameOf(const QByteArray &raw)
{
    for (char c : raw)
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            return QString::fromLatin1(raw);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(raw);
    return utf8.hasError() ? cp437::decode(raw) : text;
}

QString volumeName(const QString &stem, int index)
{
    if (index == 0)
        return stem + QStringLiteral(".arj");
    if (index < 100)
        return stem + QStringLiteral(".a%1").arg(index, 2, 10, QLatin1Char('0'));
    return stem + u'.' + QString::number(index);
}

} // namespace

ArjSet readArjSet(const QString &hostPath)
{
    ArjSet set;
    const QFileInfo given(hostPath);
    const QString folder = given.absolutePath();
    const QString stem = given.completeBaseName();
    for (int index = 0;; ++index) {
        const QString name = volumeName(stem, index);
        const QString path = hostfs::findFileIgnoringCase(folder, name);
        if (path.isEmpty()) {
            set.missingVolume = folder + u'/' + name;
            return set;
        }
        set.volumes << path;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            set.fault = QStringLiteral("%1 cannot be read: %2").arg(name, f.errorString());
            return set;
        }
        QString fault;
        const auto main = readHeader(f, 0, &fault);
        if (!main || main->type != MainHeader) {
            set.fault = QStringLiteral("%1 is not an ARJ volume%2")
                            .arg(name, fault.isEmpty() ? QString() : QStringLiteral(": ") + fault);
            return set;
        }
        for (qint64 at = main->data;;) {
            const auto h = readHeader(f, at, &fault);
            if (!h) {
                if (!fault.isEmpty()) {
                    set.fault = QStringLiteral("%1 in %2").arg(fault, name);
                    return set;
                }
                break;
            }
            at = h->data + h->packed;
            if (h->type == VolumeLabel || h->type == MainHeader)
                continue;
            const QString member = nameOf(h->name);
            const ArjPart part{index, h->data, h->size, h->packed, h->crc, h->method};
            if ((h->flags & kStartedInPrevious) && set.parts.contains(member)) {
                ListedMember &whole = set.members.last();
                whole.crc = quint32(crc32_combine(*whole.crc, h->crc, z_off_t(h->size)));
                whole.size += h->size;
                set.parts[member] << part;
                continue;
            }
            ListedMember m;
            m.name = member;
            m.size = h->size;
            m.crc = h->crc;
            m.directory = h->type == Directory;
            m.special = h->type != Binary && h->type != Text && h->type != Directory;
            m.encrypted = h->flags & kGarbled;
            set.members << m;
            set.parts[member] = {part};
        }
        if (!(main->flags & kContinuesInNext))
            return set;
    }
}

QString volumeWithBadStoredPart(const ArjSet &set, const QString &member)
{
    for (const ArjPart &part : set.parts.value(member)) {
        if (part.method != 0)
            continue;
        QFile f(set.volumes.value(part.volume));
        if (!f.open(QIODevice::ReadOnly) || !f.seek(part.offset))
            return QFileInfo(f.fileName()).fileName();
        const QByteArray bytes = f.read(part.packed);
        if (crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())) != part.crc)
            return QFileInfo(f.fileName()).fileName();
    }
    return QString();
}

} // namespace zelv
