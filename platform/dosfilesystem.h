// The file operations the program needs, on DOS paths, through the drive table.
#pragma once

#include "drivetable.h"
#include "hostfs.h"

#include <QStringList>
#include <optional>

namespace zelv {

class DosFileSystem {
public:
    explicit DosFileSystem(const DriveTable &drives) : m_drives(drives) {}

    const DriveTable &drives() const { return m_drives; }
    std::optional<QString> hostPath(QStringView dosPath) const { return m_drives.toHost(dosPath); }

    bool exists(QStringView dosPath) const;
    bool isDirectory(QStringView dosPath) const;
    bool isFile(QStringView dosPath) const;
    std::optional<qint64> fileSize(QStringView dosPath) const;

    // The names in a folder that match a ";"-joined filter; *ok false when the folder cannot
    // be opened.
    QStringList list(QStringView dosFolder, QStringView patterns, hostfs::EntryKind kind, bool *ok = nullptr) const;
    // A folder and one filter in one text, as "c:\Zelv0??" or "c:\dir\*.R??".
    QStringList listMatching(QStringView dosPathWithPattern, hostfs::EntryKind kind) const;

    bool resetAttributes(QStringView dosPath) const;
    bool removeFile(QStringView dosPath) const;
    bool rename(QStringView fromDos, QStringView toDos) const;
    bool makeDirectory(QStringView dosPath) const;
    bool makePath(QStringView dosPath) const;

private:
    const DriveTable &m_drives;
};

// Free bytes of a drive. The program asks through this, so that tests can set the figure.
class DiskInfo {
public:
    virtual ~DiskInfo() = default;
    virtual std::optional<qint64> freeBytes(QChar driveLetter) const = 0;
};

class DriveDiskInfo : public DiskInfo {
public:
    explicit DriveDiskInfo(const DriveTable &drives) : m_drives(drives) {}
    std::optional<qint64> freeBytes(QChar driveLetter) const override;

private:
    const DriveTable &m_drives;
};

} // namespace zelv
