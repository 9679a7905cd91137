#include "arjarchiveset.h"

#include "archive/littleendian.h"
#include "archive/zipcentral.h"
#include "archive/zipmembers.h"
#include "platform/cp437.h"
#include "platform/hostfs.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

#include <zlib.h>

namespace zelv {

namespace {

constexpr quint16 kHeaderId = 0xEA60;
constexpr quint8 kGarbled = 0x01;
constexpr quint8 kContinuesInNext = 0x04;
constexpr quint8 kStartedInPrevious = 0x08;
enum FileType : quint8 { Binary = 0, Text = 1, MainHeader = 2, Directory = 3, VolumeLabel = 4 };
constexpr int kLongestHeader = 2600;

// Systems whose names are in the DOS code page, '\\' between folders.
enum HostOs : quint8 { MsDos = 0, Unix = 2, Os2 = 5, Windows95 = 10, Win32 = 11 };

struct Header {
    quint8 hostOs = 0;
    quint8 flags = 0;
    quint8 method = 0;
    quint8 type = 0;
    // DOS time (local, two-second steps), or seconds since 1970 from a Unix host; 0 for none.
    quint32 time = 0;
    quint16 mode = 0; // the file's mode, from a Unix host
    qint64 packed = 0;
    qint64 size = 0;
    quint32 crc = 0;
    QByteArray name;
    qint64 data = 0; // where the data starts
};

// The header at `at`, nothing at the end of the volume, or why it is damaged.
Result<std::optional<Header>> readHeader(QFile &f, qint64 at)
{
    if (!f.seek(at))
        return Error(QStringLiteral("cut short"));
    const QByteArray lead = f.read(4);
    if (lead.size() < 4 || le16(lead.constData()) != kHeaderId)
        return Error(QStringLiteral("no header where one belongs"));
    const int size = le16(lead.constData() + 2);
    if (size == 0)
        return std::optional<Header>();
    const QByteArray basic = f.read(size + 4);
    if (size > kLongestHeader || size < 30 || basic.size() < size + 4 ||
        crc32(0, reinterpret_cast<const Bytef *>(basic.constData()), uInt(size)) != le32(basic.constData() + size))
        return Error(QStringLiteral("a damaged header"));
    const char *h = basic.constData();
    const int first = uchar(h[0]);
    Header header;
    header.hostOs = uchar(h[3]);
    header.flags = uchar(h[4]);
    header.method = uchar(h[5]);
    header.type = uchar(h[6]);
    header.time = le32(h + 8);
    header.mode = le16(h + 26);
    header.packed = le32(h + 12);
    header.size = le32(h + 16);
    header.crc = le32(h + 20);
    header.name = QByteArray(h + first, size - first).split('\0').first();
    // Extended headers follow, each with its size and CRC, until a size of 0.
    qint64 next = at + 4 + size + 4;
    for (;;) {
        if (!f.seek(next))
            return Error(QStringLiteral("cut short"));
        const QByteArray extended = f.read(2);
        if (extended.size() < 2)
            return Error(QStringLiteral("cut short"));
        const int length = le16(extended.constData());
        next += 2;
        if (length == 0)
            break;
        next += length + 4;
    }
    header.data = next;
    return std::optional(header);
}

// A member's name as a person reads it: code page 437 from DOS and Windows, UTF-8 where it is
// that from elsewhere; control bytes are kept so that the name is refused.
QString nameOf(const QByteArray &raw, quint8 hostOs)
{
    for (char c : raw)
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            return QString::fromLatin1(raw);
    if (hostOs == MsDos || hostOs == Os2 || hostOs == Windows95 || hostOs == Win32)
        return cp437::decode(raw);
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

ArjArchiveSet::ArjArchiveSet(const QString &hostPath)
{
    const QFileInfo given(hostPath);
    const QString folder = given.absolutePath();
    const QString stem = given.completeBaseName();
    const auto damaged = [this](const QString &why) { m_damage = Error(QStringLiteral("Damaged volume set: ") + why); };
    DosTimes times;
    for (int index = 0;; ++index) {
        const QString name = volumeName(stem, index);
        const QString path = hostfs::findFileIgnoringCase(folder, name);
        if (path.isEmpty()) {
            m_missingVolume = folder + u'/' + name;
            return;
        }
        m_volumes << path;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            damaged(QStringLiteral("%1 cannot be read: %2").arg(name, f.errorString()));
            return;
        }
        const auto main = readHeader(f, 0);
        if (!main || !*main || (*main)->type != MainHeader) {
            damaged(QStringLiteral("%1 is not an ARJ volume%2")
                        .arg(name, main ? QString() : QStringLiteral(": ") + main.error().text()));
            return;
        }
        for (qint64 at = (*main)->data;;) {
            const auto next = readHeader(f, at);
            if (!next) {
                damaged(QStringLiteral("%1 in %2").arg(next.error().text(), name));
                return;
            }
            if (!*next)
                break;
            const Header &h = **next;
            at = h.data + h.packed;
            if (h.type == VolumeLabel || h.type == MainHeader)
                continue;
            const QString member = nameOf(h.name, h.hostOs);
            // Each piece keeps the CRC of its own bytes.
            const MemberPart part{index, h.data, h.packed, h.method == 0, h.crc};
            if ((h.flags & kStartedInPrevious) && !m_members.isEmpty() && m_members.last().name == member) {
                SetMember &whole = m_members.last();
                whole.crc = quint32(crc32_combine(*whole.crc, h.crc, z_off_t(h.size)));
                whole.size += h.size;
                whole.parts << part;
                continue;
            }
            SetMember m;
            m.name = member;
            m.size = h.size;
            m.crc = h.crc;
            m.directory = h.type == Directory;
            m.special = h.type != Binary && h.type != Text && h.type != Directory;
            m.encrypted = h.flags & kGarbled;
            if (h.time != 0)
                m.modified = QDateTime::fromSecsSinceEpoch(h.hostOs == Unix ? qint64(h.time) : times.toUnix(h.time));
            if (h.hostOs == Unix && h.type != Directory)
                m.unixMode = quint16(h.mode & 0777);
            m.parts << part;
            m_members << m;
            m_written << h.name;
        }
        if (!((*main)->flags & kContinuesInNext))
            return;
    }
}

std::optional<Error> ArjArchiveSet::refusal(const SetMember &member) const
{
    if (auto usual = ArchiveSet::refusal(member))
        return usual;
    // arj never finishes a name that starts with a dot: refused rather than waited for.
    for (const QString &part : QString(member.name).replace(u'\\', u'/').split(u'/'))
        if (part.startsWith(u'.'))
            return Error(QStringLiteral("arj cannot extract %1 (a name starting with a dot) in %2")
                             .arg(member.name, QFileInfo(m_volumes.first()).fileName()));
    return std::nullopt;
}

// Every file of the set already in destination with its size, and those with a part in the
// given volume (every file when the volume is not one of the set) also with their CRC: each
// per-volume run checks its own volume's files, so that the runs of a whole set read every file
// about once (links are not files).
bool ArjArchiveSet::alreadyIn(const QString &destination, const QString &givenVolume) const
{
    const int volume = int(m_volumes.indexOf(QFileInfo(givenVolume).absoluteFilePath()));
    for (const SetMember &m : m_members) {
        if (m.directory)
            continue;
        const QString path = destination + u'/' + QString(m.name).replace(u'\\', u'/');
        const QFileInfo info(path);
        if (info.isSymLink() || !info.isFile() || info.size() != m.size)
            return false;
        const bool here = volume < 0 || std::any_of(m.parts.begin(), m.parts.end(),
                                                    [volume](const MemberPart &p) { return p.volume == volume; });
        if (here) {
            const auto crc = crcOfFile(path);
            if (!crc || *crc != m.crc)
                return false;
        }
    }
    return true;
}

Result<Extracted> ArjArchiveSet::extract(const ExtractionRun &run) const
{
    ToolExtraction call;
    call.tool = QStringLiteral("arj");
    call.arguments = {QStringLiteral("x"), QStringLiteral("-v"), QStringLiteral("-y"), m_volumes.first()};
    // arj takes a name as a pattern, of the bytes the archive holds: what else it matches is
    // found when the files are checked.
    for (const int i : run.only) {
        QString pattern;
        for (const char c : m_written.value(i))
            pattern += uchar(c) < 0x80 && c != '\\' ? QChar(c) : QChar(u'?');
        call.arguments << pattern;
    }
    call.runInFolder = true; // arj extracts into its working folder
    call.unpackedBytes = unpackedSize(m_members);
    auto done = extractWithTool(call, run);
    if (!done)
        return done;
    if (auto named = nameAsDecoded(run); !named)
        return named.error();
    return done;
}

// arj writes the bytes of a name as they stand, '\\' and all: files go to their decoded places
// first, then folders, deepest first.
Result<void> ArjArchiveSet::nameAsDecoded(const ExtractionRun &run) const
{
    const QSet<int> only(run.only.cbegin(), run.only.cend());
    QList<int> order;
    for (int i = 0; i < m_members.size(); ++i)
        if (only.isEmpty() || only.contains(i))
            order << i;
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        const bool folderA = m_members[a].directory, folderB = m_members[b].directory;
        return folderA != folderB ? folderB : folderA && m_written[a].size() > m_written[b].size();
    });
    for (const int i : order) {
        const SetMember &m = m_members[i];
        const auto place = safeMemberPath(m.name);
        if (!place || QFile::encodeName(place->joined()) == m_written[i])
            continue;
        struct stat st;
        const bool there = fstatat(run.folder.descriptor(), m_written[i].constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!there && !m.directory)
            continue; // not written: the check of the files says so
        if (there)
            if (auto moved = run.folder.moveWritten(m_written[i], m.name); !moved)
                return moved;
        if (m.directory)
            if (auto made = run.folder.makeFolder(m.name); !made)
                return made;
    }
    return {};
}

} // namespace zelv
