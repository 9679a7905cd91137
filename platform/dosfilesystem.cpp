#include "dosfilesystem.h"

#include "dospath.h"

#include <cerrno>
#include <tuple>

namespace zelv {

namespace {

Error onNoDrive(QStringView dosPath) { return Error(QStringLiteral("%1 is on no drive").arg(dosPath)); }

// The host operation's error under the DOS path's sentence.
Result<void> asDos(Result<void> done, const QString &sentence)
{
    if (done)
        return done;
    return done.error().reworded(sentence);
}

} // namespace

bool DosFileSystem::exists(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host && hostfs::exists(*host);
}

bool DosFileSystem::isDirectory(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host && hostfs::isDirectory(*host);
}

bool DosFileSystem::isFile(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host && hostfs::isFile(*host);
}

Result<qint64> DosFileSystem::fileSize(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    if (!host)
        return onNoDrive(dosPath);
    Result<qint64> size = hostfs::fileSize(*host);
    if (!size)
        return size.error().reworded(QStringLiteral("The size of %1 cannot be read").arg(dosPath));
    return size;
}

Result<QStringList> DosFileSystem::readFolder(QStringView dosFolder, QStringView patterns, hostfs::EntryKind kind) const
{
    const auto host = hostPath(dosFolder);
    if (!host)
        return onNoDrive(dosFolder);
    Result<QStringList> names = hostfs::list(*host, WildcardFilter(patterns), kind);
    if (!names)
        return names.error().reworded(QStringLiteral("%1 cannot be listed").arg(dosFolder));
    return names;
}

QStringList DosFileSystem::listMatching(QStringView dosPathWithPattern, hostfs::EntryKind kind) const
{
    const qsizetype cut = dosPathWithPattern.lastIndexOf(u'\\');
    if (cut < 0)
        return {};
    return list(dosPathWithPattern.left(cut + 1), dosPathWithPattern.mid(cut + 1), kind);
}

Result<void> DosFileSystem::resetAttributes(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    if (!host)
        return onNoDrive(dosPath);
    return asDos(hostfs::resetAttributes(*host), QStringLiteral("The attributes of %1 cannot be reset").arg(dosPath));
}

Result<void> DosFileSystem::removeFile(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    if (!host)
        return onNoDrive(dosPath);
    return asDos(hostfs::removeFile(*host), QStringLiteral("%1 could not be deleted").arg(dosPath));
}

Result<void> DosFileSystem::removeWritable(QStringView dosPath) const
{
    // Only the folder's permission decides whether a name may go; a file whose attributes
    // cannot be reset may still be removed.
    std::ignore = resetAttributes(dosPath);
    return removeFile(dosPath);
}

Result<void> DosFileSystem::rename(QStringView fromDos, QStringView toDos) const
{
    const auto from = hostPath(fromDos);
    if (!from)
        return onNoDrive(fromDos);
    const auto to = hostPath(toDos);
    if (!to)
        return onNoDrive(toDos);
    return asDos(hostfs::rename(*from, *to), QStringLiteral("%1 could not be renamed to %2").arg(fromDos, toDos));
}

Result<void> DosFileSystem::makeDirectory(QStringView dosPath) const
{
    const QString sentence = QStringLiteral("%1 could not be created").arg(dosPath);
    const auto host = hostPath(dosPath);
    if (!host)
        return onNoDrive(dosPath);
    // A drive's root always exists.
    if (dospath::isDriveRoot(dosPath))
        return Error::fromErrno(sentence, EEXIST);
    return asDos(hostfs::makeDirectory(*host), sentence);
}

Result<void> DosFileSystem::removeEmptyDirectory(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    if (!host)
        return onNoDrive(dosPath);
    return asDos(hostfs::removeEmptyDirectory(*host), QStringLiteral("%1 could not be removed").arg(dosPath));
}

std::optional<qint64> DriveDiskInfo::freeBytes(QChar driveLetter) const
{
    const auto d = m_drives.drive(driveLetter);
    if (!d || !d->ready())
        return std::nullopt;
    const Result<qint64> free = hostfs::freeBytes(d->canonical);
    return free ? std::optional(*free) : std::nullopt;
}

} // namespace zelv
