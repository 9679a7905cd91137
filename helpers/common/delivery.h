// How an archiver helper puts a set into its destination: the tool extracts into a private
// staging folder beside the destination, every file there is checked against the set's own
// listing, and only then are the files moved into the destination, which is never written
// through a link. The staging folder goes on every outcome.
#pragma once

#include "archive/archiveset.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace zelv {

// Room on the file system that holds hostPath (or its nearest existing parent): free bytes, and
// how many more files and folders it can make where it counts them.
struct FreeRoom {
    qint64 bytes = 0;
    std::optional<qint64> entries;
};
std::optional<FreeRoom> freeRoomAt(const QString &hostPath);

// Removes from folder (host path) the staging folders that runs which ended without removing
// theirs (killed, the machine stopped) left there: hidden folders named as this program names
// them, this user's and private, whose lock nobody holds. Links and other folders stay.
void removeDeadStagingFolders(const QString &folder);

class StagingFolder : public ExtractionFolder {
public:
    // A new private folder inside destination (host path), made with its parents when missing,
    // so that it is on the destination's file system. A destination this made goes again at the
    // end when nothing was delivered into it.
    explicit StagingFolder(const QString &destination);
    ~StagingFolder() override;
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;

    bool isValid() const { return m_fd >= 0; }
    QString path() const override { return m_path; }
    int descriptor() const override { return m_fd; }
    // The destination, held open since the staging folder was made in it.
    int destinationDescriptor() const { return m_parentFd; }

    // For extraction done by this program itself: the file of a member, made with its folders
    // and emptied, and a member that is a folder; never through a link.
    Result<int> createFile(const QString &member) const override;
    Result<void> makeFolder(const QString &member) const override;
    // A symbolic link, its folders made, never replacing what stands there.
    Result<void> makeLink(const QString &member, const QString &target) const override;
    Result<void> copyFile(const QString &member, const QString &from) const override;
    Result<void> moveWritten(const QByteArray &written, const QString &member) const override;
    Result<void> clear() const override;
    void wroteFile(const QString &member, int fd, quint32 crc) const override;

    // While the tool runs: reads the files it has finished (at their listed size and untouched
    // for a moment), at most about budget bytes a call, so that verify() need not read them
    // again unless they changed since.
    void checkFinished(const QList<SetMember> &members, qint64 budget);

    // Every file member in the staging folder with its size and CRC, every link member a link
    // with its target, and nothing else there (no extra file, no other link, no device); else
    // the first fault.
    Result<void> verify(const QList<SetMember> &members) const;

    // For a tool that writes new files beside those it reads: the plain file name of the
    // destination put at the top of the staging folder under that name, a second link to it
    // where the file system allows one, else a copy. A link, a folder or a device is not taken.
    Result<void> takeIn(const QString &name) const;

    // The file name at the top of the staging folder moved into the destination under that
    // name; whatever stands there already is neither replaced nor followed (EEXIST).
    Result<void> moveIn(const QString &name) const;

    // Moves every member into destination (made when missing), replacing what stands under
    // its name, except a folder, and never following a link that stands in destination.
    Result<void> deliver(const QList<SetMember> &members, const QString &destination) const;

    // What tells a file read early from a later one: any write changes its change time.
    struct FileMark {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 changedSec = 0;
        qint64 changedNsec = 0;
    };

private:
    struct Checked {
        FileMark mark;
        quint32 crc = 0;
    };
    std::optional<quint32> checkedCrc(int root, const QString &path) const;

    // Held from creation on: everything below the staging folder is reached from it, so a
    // folder swapped in under its name while the helper runs is never written.
    int m_fd = -1;
    int m_parentFd = -1; // the destination the staging folder was made in
    QString m_destination;
    QString m_path;
    QString m_madeDestination;
    // By place below the staging folder; forgotten when the folder is cleared.
    mutable QHash<QString, Checked> m_checked;
    mutable qsizetype m_nextToCheck = 0;
};

} // namespace zelv
