#include "dosfilesystem.h"

#include "dospath.h"

namespace zelv {

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

std::optional<qint64> DosFileSystem::fileSize(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host ? hostfs::fileSize(*host) : std::nullopt;
}

QStringList DosFileSystem::list(QStringView dosFolder, QStringView patterns, hostfs::EntryKind kind, bool *ok) const
{
    const auto host = hostPath(dosFolder);
    if (!host) {
        if (ok)
            *ok = false;
        return {};
    }
    return hostfs::list(*host, WildcardFilter(patterns), kind, ok);
}

QStringList DosFileSystem::listMatching(QStringView dosPathWithPattern, hostfs::EntryKind kind) const
{
    const qsizetype cut = dosPathWithPattern.lastIndexOf(u'\\');
    if (cut < 0)
        return {};
    return list(dosPathWithPattern.left(cut + 1), dosPathWithPattern.mid(cut + 1), kind);
}

bool DosFileSystem::resetAttributes(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host && hostfs::resetAttributes(*host);
}

bool DosFileSystem::removeFile(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host && hostfs::removeFile(*host);
}

bool DosFileSystem::rename(QStringView fromDos, QStringView toDos) const
{
    const auto from = hostPath(fromDos);
    const auto to = hostPath(toDos);
    return from && to && hostfs::rename(*from, *to);
}

bool DosFileSystem::makeDirectory(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host && !dospath::isDriveRoot(dosPath) && hostfs::makeDirectory(*host);
}

bool DosFileSystem::makePath(QStringView dosPath) const
{
    const auto host = hostPath(dosPath);
    return host && hostfs::makePath(*host);
}

std::optional<qint64> DriveDiskInfo::freeBytes(QChar driveLetter) const
{
    const auto d = m_drives.drive(driveLetter);
    if (!d || !d->ready())
        return std::nullopt;
    return hostfs::freeBytes(d->canonical);
}

} // namespace zelv
