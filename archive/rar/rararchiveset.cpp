#include "rararchiveset.h"

#include "platform/hostfs.h"

#include "platform/toolrun.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>
#include <optional>

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

quint16 le16(const QByteArray &b, int at) { return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8); }
quint32 le32(const QByteArray &b, int at) { return quint32(le16(b, at)) | quint32(le16(b, at + 2)) << 16; }

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
        const quint16 flags = le16(head, 3);
        const quint16 size = le16(head, 5);
        if (size < 7)
            return Error(QStringLiteral("a damaged block"));
        qint64 data = 0;
        if ((flags & kRar4LongBlock) || type == FileHeader || type == ServiceHeader) {
            if (head.size() < 11)
                return Error(QStringLiteral("cut short"));
            data = le32(head, 7);
            if (type == FileHeader && (flags & kRar4LargeFile)) { // a file over 4 GiB
                f.seek(at + kRar4HighSizeAt);
                const QByteArray high = f.read(4);
                if (high.size() == 4)
                    data += qint64(le32(high, 0)) << 32;
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

// RAR 5: blocks of variable-length numbers, the end block saying whether a volume follows.
Result<Next> nextAfterRar5(QFile &f)
{
    for (qint64 at = 8; at < f.size();) {
        f.seek(at + 4);
        const QByteArray bytes = f.read(64);
        int pos = 0;
        const auto number = [&bytes, &pos]() -> std::optional<quint64> {
            quint64 v = 0;
            for (int shift = 0; shift < 64 && pos < bytes.size(); shift += 7) {
                const uchar b = uchar(bytes[pos++]);
                v |= quint64(b & 0x7f) << shift;
                if (!(b & 0x80))
                    return v;
            }
            return std::nullopt;
        };
        const auto headerSize = number();
        const int headerStart = pos;
        const auto type = number();
        const auto flags = number();
        if (!headerSize || !type || !flags || *headerSize == 0)
            return Error(QStringLiteral("a damaged block"));
        std::optional<quint64> extra = 0, data = 0;
        if (*flags & kRar5ExtraArea)
            extra = number();
        if (*flags & kRar5DataArea)
            data = number();
        if (!extra || !data)
            return Error(QStringLiteral("a damaged block"));
        if (*type == Rar5End) {
            const auto endFlags = number();
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

// The volume and the place in it of a stored piece at offset in the volumes read one after
// another; nothing when the piece does not lie in one volume.
std::optional<MemberPart> partIn(const QStringList &volumes, qint64 offset, qint64 length, std::optional<quint32> crc)
{
    qint64 start = 0;
    for (int i = 0; i < volumes.size(); ++i) {
        const qint64 size = QFileInfo(volumes[i]).size();
        if (offset >= start && offset + length <= start + size)
            return MemberPart{i, offset - start, length, true, crc};
        if (offset < start + size)
            return std::nullopt;
        start += size;
    }
    return std::nullopt;
}

QString propertyName(const char *key) { return QString::fromLatin1(key); }

} // namespace

RarArchiveSet::RarArchiveSet(const QString &hostPath)
{
    Found found = findVolumes(hostPath);
    m_volumes = found.volumes;
    m_missingVolume = found.missingVolume;
    m_damage = found.damage;
}

RarArchiveSet::~RarArchiveSet() = default;

Result<int> RarArchiveSet::list(const QString &firstVolume)
{
    m_members.clear();
    const ToolRun run = runTool(QStringLiteral("lsar"), {QStringLiteral("-j"), firstVolume}, QString(), 60000);
    if (!run.started)
        return Error(QStringLiteral("lsar cannot be started; is unar installed?"));
    const QJsonObject root = QJsonDocument::fromJson(run.output).object();
    if (run.timedOut || !root.contains(QStringLiteral("lsarContents")) || root.contains(QStringLiteral("lsarError")))
        return Error(QStringLiteral("%1 cannot be read as a RAR archive").arg(QFileInfo(firstVolume).fileName()));
    const QJsonObject properties = root.value(QStringLiteral("lsarProperties")).toObject();
    for (const QJsonValue &value : root.value(QStringLiteral("lsarContents")).toArray()) {
        const QJsonObject e = value.toObject();
        const auto flag = [&e](const char *key) { return e.value(propertyName(key)).toInt() != 0; };
        SetMember m;
        m.name = e.value(QStringLiteral("XADFileName")).toString();
        m.size = qint64(e.value(QStringLiteral("XADFileSize")).toDouble());
        m.directory = flag("XADIsDirectory");
        m.link = flag("XADIsLink") || flag("XADIsHardLink");
        m.special = flag("XADIsCharacterDevice") || flag("XADIsBlockDevice") || flag("XADIsFIFO");
        m.encrypted = flag("XADIsEncrypted");
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
        // A piece that another follows keeps its own CRC; the last keeps the whole file's.
        if (e.value(QStringLiteral("XADCompressionName")).toString() == u"None")
            for (qsizetype i = 0; i < parts.size(); ++i)
                if (const auto part = partIn(m_volumes, qint64(parts[i][QStringLiteral("Offset")].toDouble()),
                                             qint64(parts[i][QStringLiteral("InputLength")].toDouble()),
                                             i + 1 < parts.size()
                                                 ? std::optional(quint32(parts[i][QStringLiteral("CRC32")].toDouble()))
                                                 : std::nullopt))
                    m.parts << *part;
        m_members << m;
    }
    // The volumes lsar read (its own "scanning failed" mark also stands on whole one-volume
    // archives); one when it names none.
    return int(std::max<qsizetype>(1, properties.value(QStringLiteral("XADVolumes")).toArray().size()));
}

Result<void> RarArchiveSet::readMembers()
{
    // unar follows a RAR 5 set only under the new volume names (name.part1.rar, ...): a set
    // named the old way is handed to it through links named the new way.
    m_toolFirstVolume = m_volumes.first();
    auto followed = list(m_toolFirstVolume);
    if (followed && *followed < m_volumes.size()) {
        m_links = std::make_unique<QTemporaryDir>();
        if (m_links->isValid()) {
            const QString stem = QFileInfo(m_toolFirstVolume).completeBaseName();
            const auto linkName = [&](int i) {
                return m_links->filePath(QStringLiteral("%1.part%2.rar").arg(stem).arg(i + 1, 4, 10, QLatin1Char('0')));
            };
            for (int i = 0; i < m_volumes.size(); ++i)
                QFile::link(m_volumes[i], linkName(i));
            m_toolFirstVolume = linkName(0);
            followed = list(m_toolFirstVolume);
        }
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
    ToolExtraction call;
    call.tool = QStringLiteral("unar");
    call.arguments = {QStringLiteral("-o"), run.folder.path(),     QStringLiteral("-f"),
                      QStringLiteral("-D"), QStringLiteral("-nr"), QStringLiteral("-q")};
    // Members by their place in lsar's listing, which is the members' order: no name is taken
    // for a pattern.
    if (!run.only.isEmpty())
        call.arguments << QStringLiteral("-i");
    call.arguments << m_toolFirstVolume;
    for (const int i : run.only)
        call.arguments << QString::number(i);
    call.unpackedBytes = unpackedSize(m_members);
    return extractWithTool(call, run);
}

} // namespace zelv
