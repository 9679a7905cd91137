#include "acearchiveset.h"

#include "acereader.h"
#include "platform/hostfs.h"

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

namespace {

// A member's DOS time (local, two-second steps); invalid where it names no real moment.
QDateTime dosDateTime(quint32 dosTime)
{
    const QDate date(int(dosTime >> 25) + 1980, int(dosTime >> 21 & 0x0F), int(dosTime >> 16 & 0x1F));
    const QTime time(int(dosTime >> 11 & 0x1F), int(dosTime >> 5 & 0x3F), int(dosTime & 0x1F) * 2);
    return QDateTime(date, time);
}

// The member's DOS time as the file's modification time.
void setTime(int fd, quint32 dosTime)
{
    const QDateTime when = dosDateTime(dosTime);
    if (!when.isValid())
        return;
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(when.toSecsSinceEpoch()), 0}};
    futimens(fd, times);
}

// Ticks after every member and every 4 MB written.
constexpr qint64 kTickBytes = 4 << 20;

} // namespace

AceArchiveSet::AceArchiveSet(const QString &hostPath) : m_set(readAceSet(hostPath))
{
    m_volumes = m_set.volumes;
    m_missingVolume = m_set.missingVolume;
    if (m_set.damage)
        m_damage = m_set.damage->reworded(QStringLiteral("Damaged archive: %1").arg(m_set.damage->message()));
    for (const AceMember &a : m_set.members) {
        SetMember m;
        m.name = a.name;
        m.directory = a.directory;
        m.size = a.directory ? 0 : a.size;
        if (!a.directory)
            m.crc = a.crc;
        m.encrypted = a.encrypted;
        m.modified = dosDateTime(a.dosTime);
        for (const AcePart &p : a.parts)
            m.parts << MemberPart{p.volume, p.offset, p.size, a.method == quint8(AceMethod::Stored), std::nullopt};
        m_members << m;
    }
}

std::optional<Error> AceArchiveSet::refusal(const SetMember &member) const
{
    const qsizetype index = &member - m_members.constData();
    if (index < 0 || index >= m_set.members.size())
        return ArchiveSet::refusal(member);
    const AceMember &a = m_set.members[index];
    if (a.encrypted)
        return Error(QStringLiteral("ACE archive is encrypted: %1").arg(a.name));
    if (a.method > quint8(AceMethod::Blocked))
        return Error(QStringLiteral("Unknown packing method %1 for %2 in %3")
                         .arg(a.method)
                         .arg(a.name, QFileInfo(m_volumes.first()).fileName()));
    return ArchiveSet::refusal(member);
}

Result<Extracted> AceArchiveSet::extract(const ExtractionRun &run) const
{
    AceReader reader(m_set);
    for (int i = 0; i < m_set.members.size(); ++i) {
        const AceMember &m = m_set.members[i];
        // A solid member's dictionary comes from the ones before it: the reader goes through
        // them when the member asked for is reached.
        if (!run.only.isEmpty() && !run.only.contains(i))
            continue;
        if (run.tick && !run.tick())
            return Error(QStringLiteral("Cancelled"));
        if (m.directory) {
            if (auto made = run.folder.makeFolder(m.name); !made)
                return made.error();
            continue;
        }
        const auto fd = run.folder.createFile(m.name);
        if (!fd)
            return fd.error();
        std::optional<Error> writeFault;
        qint64 sinceTick = 0;
        const auto unpacked = reader.unpack(i, [&](const char *data, qsizetype n) {
            if (!hostfs::writeAll(*fd, data, n)) {
                writeFault = Error::fromErrno(QStringLiteral("cannot write %1").arg(m.name));
                return false;
            }
            sinceTick += n;
            if (sinceTick >= kTickBytes) {
                sinceTick = 0;
                return !run.tick || run.tick();
            }
            return true;
        });
        setTime(*fd, m.dosTime);
        close(*fd);
        if (writeFault)
            return *writeFault;
        if (!unpacked)
            return unpacked.error();
    }
    return Extracted{};
}

} // namespace zelv
