#include "archiveset.h"

#include "ace/acearchiveset.h"
#include "arj/arjarchiveset.h"
#include "crc32.h"
#include "platform/toolrun.h"
#include "rar/rararchiveset.h"
#include "zipmembers.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace zelv {

qint64 unpackedSize(const QList<SetMember> &members)
{
    qint64 total = 0;
    for (const SetMember &m : members)
        if (!m.directory)
            total += m.size;
    return total;
}

std::optional<quint32> crcOfOpenFile(int fd)
{
    quint32 crc = 0;
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return crc;
        crc = updateCrc32(crc, buffer.data(), size_t(n));
    }
}

Result<quint32> crcOfFile(const QString &hostPath, Links links)
{
    const int fd = open(QFile::encodeName(hostPath).constData(),
                        O_RDONLY | O_CLOEXEC | (links == Links::NotFollowed ? O_NOFOLLOW : 0));
    if (fd < 0)
        return Error::fromErrno(QStringLiteral("cannot read %1").arg(hostPath));
    const auto crc = crcOfOpenFile(fd);
    const int error = errno;
    close(fd);
    if (!crc)
        return Error::fromErrno(QStringLiteral("cannot read %1").arg(hostPath), error);
    return *crc;
}

bool linkStaysInside(const QString &member, const QString &target, const QSet<QString> &links)
{
    const auto place = safeMemberPath(member);
    if (!place || target.isEmpty() || target.startsWith(u'/') || target.startsWith(u'\\') ||
        (target.size() > 1 && target[1] == u':'))
        return false;
    // Walked part by part from the link's folder: a part that is another link could lead
    // anywhere, so the target may only end on one.
    QStringList at = place->parts.mid(0, place->parts.size() - 1);
    const QStringList parts = QString(target).replace(u'\\', u'/').split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (parts[i] == u"..") {
            if (at.isEmpty())
                return false;
            at.removeLast();
        } else if (parts[i] != u".") {
            at << parts[i];
            if (i + 1 < parts.size() && links.contains(at.join(u'/')))
                return false;
        }
    }
    return true;
}

const ArchiveSet::MemberIndex &ArchiveSet::index() const
{
    if (m_index)
        return *m_index;
    MemberIndex index;
    index.firstByName.reserve(m_members.size());
    for (int i = 0; i < m_members.size(); ++i) {
        const SetMember &m = m_members[i];
        if (!index.firstByName.contains(m.name))
            index.firstByName.insert(m.name, i);
        if (m.symlink)
            if (const auto place = safeMemberPath(m.name))
                index.linkPlaces.insert(place->joined());
    }
    return m_index.emplace(std::move(index));
}

std::optional<Error> ArchiveSet::refusal(const SetMember &m) const
{
    const QSet<QString> &links = index().linkPlaces;
    // A name below a link would be written through it.
    const auto throughLink = [&links](const MemberPath &place) {
        if (links.isEmpty())
            return false;
        QString folder;
        for (qsizetype i = 0; i + 1 < place.parts.size(); ++i) {
            if (i > 0)
                folder += u'/';
            folder += place.parts[i];
            if (links.contains(folder))
                return true;
        }
        return false;
    };
    QString problem;
    const auto place = safeMemberPath(m.name);
    if (m.encrypted)
        problem = QStringLiteral("Encrypted member %1");
    else if (m.link || m.special || (m.symlink && !linkStaysInside(m.name, m.linkTarget, links)))
        problem = QStringLiteral("Link or device member %1");
    else if (!place || throughLink(*place))
        problem = QStringLiteral("Unsafe name %1");
    if (problem.isEmpty())
        return std::nullopt;
    const QString archive = m_volumes.isEmpty() ? QString() : QFileInfo(m_volumes.first()).fileName();
    return Error(QStringLiteral("%1 in %2").arg(problem.arg(m.name), archive));
}

std::optional<Error> ArchiveSet::firstRefusal() const
{
    if (auto refused = setRefusal())
        return refused;
    for (const SetMember &m : m_members)
        if (auto refused = refusal(m))
            return refused;
    return std::nullopt;
}

bool ArchiveSet::alreadyIn(const QString &, const QString &) const { return false; }

const SetMember *ArchiveSet::member(const QString &name) const
{
    const auto found = index().firstByName.constFind(name);
    return found == index().firstByName.cend() ? nullptr : &m_members[*found];
}

QString ArchiveSet::damagedVolume(const QString &name, bool crcErrorKnown) const
{
    const SetMember *m = member(name);
    if (!m)
        return QString();
    // The CRC of a piece's bytes; nothing when they cannot all be read.
    const auto crcOf = [this](const MemberPart &part, quint32 running) -> std::optional<quint32> {
        QFile f(m_volumes.value(part.volume));
        if (!f.open(QIODevice::ReadOnly) || !f.seek(part.offset))
            return std::nullopt;
        const QByteArray bytes = f.read(part.size);
        if (bytes.size() != part.size)
            return std::nullopt;
        return quint32(updateCrc32(running, bytes.constData(), size_t(bytes.size())));
    };
    const auto volumeOf = [this](const MemberPart &part) { return QFileInfo(m_volumes.value(part.volume)).fileName(); };
    bool allStored = !m->parts.isEmpty();
    for (const MemberPart &part : m->parts) {
        allStored = allStored && part.stored;
        if ((part.stored || part.crcOfPackedBytes) && part.crc && crcOf(part, 0) != part.crc)
            return volumeOf(part);
    }
    // Packed data whose other pieces are whole: the damage is in the piece that keeps no CRC
    // of its own.
    if (crcErrorKnown && !allStored && !m->parts.isEmpty() && m->parts.last().crcOfPackedBytes)
        for (const MemberPart &part : m->parts)
            if (!part.crc)
                return volumeOf(part);
    // The pieces that keep no CRC of their own (a RAR file's last piece keeps the whole
    // file's): the whole data against the member's CRC.
    if (!allStored || !m->crc)
        return QString();
    std::optional<quint32> whole = 0;
    for (const MemberPart &part : m->parts)
        whole = whole ? crcOf(part, *whole) : std::nullopt;
    if (whole == m->crc)
        return QString();
    for (const MemberPart &part : m->parts)
        if (!part.crc)
            return volumeOf(part);
    return QString();
}

std::unique_ptr<ArchiveSet> openArchiveSet(ArchiveKind kind, const QString &hostPath)
{
    switch (kind) {
    case ArchiveKind::Rar:
        return std::make_unique<RarArchiveSet>(hostPath);
    case ArchiveKind::Arj:
        return std::make_unique<ArjArchiveSet>(hostPath);
    case ArchiveKind::Ace:
        return std::make_unique<AceArchiveSet>(hostPath);
    case ArchiveKind::Zip:
        break;
    }
    return nullptr;
}

Result<Extracted> extractWithTool(const ToolExtraction &call, const ExtractionRun &run)
{
    // A minute, and a second more for every 5 MB of the set.
    const qint64 limit = 60000 + call.unpackedBytes / (5 << 20) * 1000;
    WorkingFolder folder;
    if (call.runInFolder)
        folder =
            run.folder.descriptor() >= 0 ? WorkingFolder(run.folder.descriptor()) : WorkingFolder(run.folder.path());
    const ToolRun tool = runTool(call.tool, call.arguments, folder, limit,
                                 [&run](const QByteArray &) { return !run.tick || run.tick(); });
    if (!tool.started)
        return Error(QStringLiteral("%1 cannot be started; is it installed?").arg(call.tool));
    if (tool.cancelled)
        return Error(QStringLiteral("Cancelled"));
    if (tool.timedOut)
        return Error(QStringLiteral("%1 did not finish %2 in time and was stopped").arg(call.tool, run.shownName));
    // unar says "Wrong checksum" where others say "CRC".
    return Extracted{tool.output.contains("CRC") || tool.output.contains("checksum")};
}

} // namespace zelv
