// The file operations the program needs, on DOS paths, through the drive table.
#pragma once

#include "drivetable.h"
#include "error.h"
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
    Result<qint64> fileSize(QStringView dosPath) const;

    // The names in a folder that match a ";"-joined filter; an error when the folder cannot be
    // opened.
    Result<QStringList> readFolder(QStringView dosFolder, QStringView patterns, hostfs::EntryKind kind) const;
    // The same, with a folder that cannot be opened listing nothing.
    QStringList list(QStringView dosFolder, QStringView patterns, hostfs::EntryKind kind) const
    {
        return readFolder(dosFolder, patterns, kind).valueOr({});
    }
    // A folder and one filter in one text, as "c:\Zelv0??" or "c:\dir\*.R??".
    QStringList listMatching(QStringView dosPathWithPattern, hostfs::EntryKind kind) const;

    // Each error names the DOS path in its sentence and the system's cause; a path on no
    // drive has no cause.
    Result<void> resetAttributes(QStringView dosPath) const;
    Result<void> removeFile(QStringView dosPath) const;
    // Made writable first, as a read-only copy must go too; the removal's error is the one
    // that counts.
    Result<void> removeWritable(QStringView dosPath) const;
    Result<void> rename(QStringView fromDos, QStringView toDos) const;
    Result<void> makeDirectory(QStringView dosPath) const;
    // Only while it is empty: whatever it holds keeps it.
    Result<void> removeEmptyDirectory(QStringView dosPath) const;

private:
    const DriveTable &m_drives;
};

// Free bytes of a drive. The program asks through this, so that tests can set the figure.
class DiskInfo {
public:
    virtual ~DiskInfo() = default;
    // Nothing when the drive cannot tell: not in the table, not ready.
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
