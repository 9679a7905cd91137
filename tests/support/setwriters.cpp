#include "setwriters.h"

#include <QDir>
#include <QFile>

#include <functional>
#include <zlib.h>

namespace zelv::test {

namespace {

void put8(QByteArray &b, quint64 v) { b.append(char(v & 0xff)); }
void put16(QByteArray &b, quint64 v)
{
    put8(b, v);
    put8(b, v >> 8);
}
void put32(QByteArray &b, quint64 v)
{
    put16(b, v & 0xffff);
    put16(b, (v >> 16) & 0xffff);
}
// RAR 5's variable-length integer: seven bits a byte, low first, high bit set while more follow.
void putVint(QByteArray &b, quint64 v)
{
    do {
        put8(b, (v & 0x7f) | (v > 0x7f ? 0x80 : 0));
        v >>= 7;
    } while (v);
}
QByteArray vint(quint64 v)
{
    QByteArray b;
    putVint(b, v);
    return b;
}

quint32 crc32Of(const QByteArray &bytes)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

// Local time, two-second steps, years from 1980.
quint32 dosTime(const QDateTime &when)
{
    const QDateTime t = when.toLocalTime();
    const QDate d = t.date();
    const QTime c = t.time();
    return quint32(qMax(d.year() - 1980, 0)) << 25 | quint32(d.month()) << 21 | quint32(d.day()) << 16 |
           quint32(c.hour()) << 11 | quint32(c.minute()) << 5 | quint32(c.second() / 2);
}

constexpr quint32 kAttrDirectory = 0x10;
constexpr quint32 kAttrArchive = 0x20;
constexpr quint32 kUnixSymlinkMode = 0120777;

// A member's share of one volume.
struct Part {
    const SetMember *member;
    QByteArray name; // as stored
    QByteArray data; // the bytes in this volume
    bool before;     // continued from the previous volume
    bool after;      // continued in the next volume
};

// What a format puts around the parts: each volume's opening headers, a part's header
// (its data follows it) and each volume's closing block, whose size must not depend on more.
struct Layout {
    std::function<QByteArray(int volume)> head;
    std::function<QByteArray(const Part &)> file;
    std::function<QByteArray(int volume, bool more)> tail;
};

QByteArray storedName(const SetMember &m, char separator)
{
    if (m.raw)
        return m.name;
    QByteArray name = m.name;
    while (name.endsWith('/'))
        name.chop(1);
    return name.replace('/', separator);
}

// Lays the members out in volumes of at most volumeSize bytes (0: one volume, no limit),
// cutting a member's data where a volume fills up.
std::optional<QList<QByteArray>> layOut(const Layout &layout, const QList<SetMember> &members, char separator,
                                        qint64 volumeSize, QString *error)
{
    QList<QByteArray> volumes;
    QByteArray current = layout.head(0);
    qint64 emptySize = current.size();
    const qint64 tailSize = layout.tail(0, false).size();
    auto close = [&](bool more) {
        current += layout.tail(int(volumes.size()), more);
        volumes.append(current);
        if (more) {
            current = layout.head(int(volumes.size()));
            emptySize = current.size();
        }
    };
    for (const SetMember &m : members) {
        const QByteArray data = m.directory ? QByteArray() : m.data;
        const QByteArray name = storedName(m, separator);
        qint64 offset = 0;
        for (;;) {
            Part part{&m, name, data.mid(offset), offset > 0, false};
            // A shorter part never has a longer header.
            const qint64 room = volumeSize - current.size() - tailSize - layout.file(part).size();
            if (volumeSize == 0 || room >= part.data.size()) {
                current += layout.file(part) + part.data;
                break;
            }
            if (room > 0) {
                part.data.truncate(room);
                part.after = true;
                current += layout.file(part) + part.data;
                offset += room;
            } else if (current.size() == emptySize) {
                if (error)
                    *error = QStringLiteral("volume size %1 too small for a header of %2")
                                 .arg(volumeSize)
                                 .arg(QString::fromUtf8(name));
                return std::nullopt;
            }
            close(true);
        }
    }
    close(false);
    return volumes;
}

std::optional<QStringList> writeVolumes(const QString &folder, const QList<QByteArray> &volumes,
                                        const std::function<QString(int)> &nameOf, QString *error)
{
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot make %1").arg(folder);
        return std::nullopt;
    }
    QStringList paths;
    for (int i = 0; i < volumes.size(); ++i) {
        const QString path = QDir(folder).filePath(nameOf(i));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(volumes[i]) != volumes[i].size()) {
            if (error)
                *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
            return std::nullopt;
        }
        paths.append(path);
    }
    return paths;
}

// The extension of volume i in the old scheme: .rar, then .r00 to .r99, .s00, ...
QString oldStyleExtension(int i, char first, const QString &firstExtension)
{
    if (i == 0)
        return firstExtension;
    return QStringLiteral(".%1%2").arg(QChar(first + (i - 1) / 100)).arg((i - 1) % 100, 2, 10, QChar(u'0'));
}

// RAR 4: a block whose header checksum is the low half of the CRC-32 from the type on.
QByteArray rar4Block(quint8 type, quint16 flags, const QByteArray &fields)
{
    QByteArray b;
    put8(b, type);
    put16(b, flags);
    put16(b, 7 + fields.size());
    b += fields;
    QByteArray out;
    put16(out, crc32Of(b) & 0xffff);
    return out + b;
}

Layout rar4Layout(bool multi, VolumeNaming naming)
{
    Layout l;
    l.head = [=](int volume) {
        quint16 flags = 0;
        if (multi)
            flags = 0x0001 | (naming == VolumeNaming::New ? 0x0010 : 0) | (volume == 0 ? 0x0100 : 0);
        return QByteArray("Rar!\x1a\x07\x00", 7) + rar4Block(0x73, flags, QByteArray(6, '\0'));
    };
    l.file = [](const Part &p) {
        const SetMember &m = *p.member;
        // 0x8000: the data size follows; 0xe0 in the dictionary bits marks a folder.
        // 0x04: a password, which is only marked; the data stays as it is.
        const quint16 flags =
            0x8000 | (p.before ? 0x01 : 0) | (p.after ? 0x02 : 0) | (m.directory ? 0xe0 : 0) | (m.encrypted ? 0x04 : 0);
        const bool link = m.link != SetMember::Link::None;
        QByteArray f;
        put32(f, p.data.size());
        put32(f, m.directory ? 0 : m.data.size());
        put8(f, link ? 3 : 2); // Unix for a link, else Win32
        // A part that goes on holds the checksum of its own bytes, the last one the whole file's.
        put32(f, m.directory ? 0 : crc32Of(p.after ? p.data : m.data));
        put32(f, m.zeroDosTime ? 0 : dosTime(m.mtime));
        put8(f, 20);   // version needed: 2.0 reads stored members
        put8(f, 0x30); // stored
        put16(f, p.name.size());
        put32(f, link ? kUnixSymlinkMode : m.directory ? kAttrDirectory : kAttrArchive);
        return rar4Block(0x74, flags, f + p.name);
    };
    l.tail = [=](int volume, bool more) {
        // The volume number is the one thing a multi-volume end block carries.
        QByteArray f;
        if (multi)
            put16(f, volume);
        return rar4Block(0x7b, multi ? 0x0008 | (more ? 0x0001 : 0) : 0, f);
    };
    return l;
}

// RAR 5: CRC-32 of everything after it, then the size of what follows the size.
QByteArray rar5Block(quint64 type, quint64 flags, const QByteArray &fields)
{
    const QByteArray body = vint(type) + vint(flags) + fields;
    const QByteArray sized = vint(body.size()) + body;
    QByteArray out;
    put32(out, crc32Of(sized));
    return out + sized;
}

Layout rar5Layout(bool multi)
{
    Layout l;
    l.head = [=](int volume) {
        QByteArray f = vint(multi ? 0x0001 | (volume > 0 ? 0x0002 : 0) : 0);
        if (volume > 0)
            putVint(f, volume);
        return QByteArray("Rar!\x1a\x07\x01\x00", 8) + rar5Block(1, 0, f);
    };
    l.file = [](const Part &p) {
        const SetMember &m = *p.member;
        // A link keeps its target in a redirection record (type 5) of the extra area.
        QByteArray extra;
        if (m.link != SetMember::Link::None) {
            const int kind = m.link == SetMember::Link::Symbolic ? 1 : m.link == SetMember::Link::HardLink ? 4 : 5;
            const QByteArray record = vint(5) + vint(kind) + vint(0) + vint(m.target.size()) + m.target;
            extra = vint(record.size()) + record;
        }
        // A folder too has a data area, of no bytes, as rar writes it.
        const bool data = !(m.directory && m.bareFolder);
        const quint64 headerFlags =
            (extra.isEmpty() ? 0 : 0x0001) | (data ? 0x0002 : 0) | (p.before ? 0x0008 : 0) | (p.after ? 0x0010 : 0);
        QByteArray f;
        if (!extra.isEmpty())
            putVint(f, extra.size());
        if (data)
            putVint(f, p.data.size());
        putVint(f, (m.directory ? 0x0001 : 0x0004) | 0x0002); // folder or checksum; Unix time
        putVint(f, m.directory ? 0 : m.data.size());
        putVint(f, m.link == SetMember::Link::Symbolic ? kUnixSymlinkMode
                   : m.directory                       ? kAttrDirectory
                                                       : kAttrArchive);
        put32(f, quint64(qMax<qint64>(m.mtime.toSecsSinceEpoch(), 0)));
        if (!m.directory)
            put32(f, crc32Of(p.after ? p.data : m.data));
        putVint(f, 0);                                           // algorithm 0, method 0: stored
        putVint(f, m.link == SetMember::Link::Symbolic ? 1 : 0); // Unix for a link, else Windows
        putVint(f, p.name.size());
        return rar5Block(2, headerFlags, f + p.name + extra);
    };
    l.tail = [](int, bool more) { return rar5Block(5, 0, vint(more ? 0x0001 : 0)); };
    return l;
}

QByteArray aceBlock(const QByteArray &body)
{
    QByteArray out;
    put16(out, aceCrc32(body) & 0xffff);
    put16(out, body.size());
    return out + body;
}

Layout aceLayout(bool multi, int versionNeeded)
{
    Layout l;
    l.head = [=](int volume) {
        QByteArray b;
        put8(b, 0);
        put16(b, (multi ? 0x0800 : 0) | (versionNeeded >= 20 ? 0x0100 : 0));
        b += "**ACE**";
        put8(b, versionNeeded);
        put8(b, versionNeeded); // made by
        put8(b, 2);             // Win32
        put8(b, volume);
        put32(b, dosTime(SetMember().mtime));
        b += QByteArray(8, '\0');
        put8(b, 0); // no advert text, but its size byte is always read
        return aceBlock(b);
    };
    l.file = [](const Part &p) {
        const SetMember &m = *p.member;
        QByteArray b;
        put8(b, 1);
        // 1: a data size follows; 0x4000: a password, only marked.
        put16(b, 0x0001 | (p.before ? 0x1000 : 0) | (p.after ? 0x2000 : 0) | (p.member->encrypted ? 0x4000 : 0));
        put32(b, p.data.size());
        put32(b, m.directory ? 0 : m.data.size());
        put32(b, dosTime(m.mtime));
        put32(b, m.directory ? kAttrDirectory : kAttrArchive);
        put32(b, m.directory ? 0 : aceCrc32(m.data));
        put8(b, 0);  // stored
        put8(b, 0);  // quality: store
        put16(b, 0); // no dictionary
        put16(b, 0);
        put16(b, p.name.size());
        // Four reserved bytes after the name: unace counts them into the smallest file header.
        return aceBlock(b + p.name + QByteArray(4, '\0'));
    };
    l.tail = [](int, bool) { return QByteArray(); }; // ACE has no end block
    return l;
}

} // namespace

quint32 aceCrc32(const QByteArray &bytes) { return ~crc32Of(bytes); }

QByteArray patternBytes(int size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char(seed + i * 7 + i / 251);
    return out;
}

std::optional<QStringList> writeRarSet(const QString &folder, const QString &baseName, RarFormat format,
                                       VolumeNaming naming, const QList<SetMember> &members, qint64 volumeSize,
                                       QString *error, int partDigits)
{
    const bool multi = volumeSize > 0;
    const bool rar4 = format == RarFormat::Rar4;
    const Layout layout = rar4 ? rar4Layout(multi, naming) : rar5Layout(multi);
    // RAR 4 keeps a link's target as its data; RAR 5 in the header, with no data.
    QList<SetMember> stored = members;
    for (SetMember &m : stored)
        if (m.link != SetMember::Link::None)
            m.data = rar4 ? m.target : QByteArray();
    const auto volumes = layOut(layout, stored, rar4 ? '\\' : '/', volumeSize, error);
    if (!volumes)
        return std::nullopt;
    return writeVolumes(
        folder, *volumes,
        [&](int i) {
            if (!multi || naming == VolumeNaming::Old)
                return baseName + oldStyleExtension(i, 'r', QStringLiteral(".rar"));
            return QStringLiteral("%1.part%2.rar").arg(baseName).arg(i + 1, partDigits, 10, QChar(u'0'));
        },
        error);
}

std::optional<QStringList> writeAceSet(const QString &folder, const QString &baseName, const QList<SetMember> &members,
                                       qint64 volumeSize, int versionNeeded, QString *error)
{
    const auto volumes = layOut(aceLayout(volumeSize > 0, versionNeeded), members, '\\', volumeSize, error);
    if (!volumes)
        return std::nullopt;
    return writeVolumes(
        folder, *volumes, [&](int i) { return baseName + oldStyleExtension(i, 'c', QStringLiteral(".ace")); }, error);
}

} // namespace zelv::test
