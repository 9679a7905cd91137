#include "delivery.h"

#include "archive/zipmembers.h"
#include "treeremover.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include <libdeflate.h>

namespace zelv {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The member's place below a folder, "/" between its parts.
std::optional<MemberPath> placeOf(const SetMember &m) { return safeMemberPath(m.name); }

// Opens the folder of the first count parts below base, one part at a time without following
// links, making the missing ones when asked. The caller closes the result unless it is base.
int openFolder(int base, const QStringList &parts, int count, bool make)
{
    int fd = base;
    for (int i = 0; i < count; ++i) {
        const QByteArray part = QFile::encodeName(parts[i]);
        if (make && mkdirat(fd, part.constData(), 0777) != 0 && errno != EEXIST) {
            const int error = errno;
            if (fd != base)
                close(fd);
            errno = error;
            return -1;
        }
        const int next = openat(fd, part.constData(), kFolderFlags);
        const int error = errno;
        if (fd != base)
            close(fd);
        if (next < 0) {
            errno = error;
            return -1;
        }
        fd = next;
    }
    return fd;
}

struct Found {
    qint64 size = 0;
    bool regular = false;
};

// Everything below a folder, by relative path; links and devices are reported as such.
Result<void> walk(int folder, const QString &prefix, QHash<QString, Found> &files)
{
    const int listFd = dup(folder);
    DIR *dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            close(listFd);
        return Error::fromErrno(QStringLiteral("cannot read the staging folder"));
    }
    std::vector<std::string> names;
    while (const dirent *e = readdir(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    closedir(dir);
    for (const std::string &name : names) {
        const QString path = prefix + QFile::decodeName(name.c_str());
        struct stat st;
        if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            const int sub = openat(folder, name.c_str(), kFolderFlags);
            if (sub < 0)
                return Error::fromErrno(QStringLiteral("cannot read the staging folder"));
            auto below = walk(sub, path + u'/', files);
            close(sub);
            if (!below)
                return below;
        } else {
            files.insert(path, {qint64(st.st_size), S_ISREG(st.st_mode)});
        }
    }
    return {};
}

// The file at path below folder, opened without following a link anywhere; -1 when it cannot.
int openMember(int folder, const QString &path)
{
    const QStringList parts = path.split(u'/');
    const int dir = openFolder(folder, parts, int(parts.size()) - 1, false);
    if (dir < 0)
        return -1;
    const int fd = openat(dir, QFile::encodeName(parts.last()).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (dir != folder)
        close(dir);
    return fd;
}

bool sameFile(const struct stat &a, const StagingFolder::FileMark &b)
{
    return a.st_dev == b.device && a.st_ino == b.inode && a.st_size == b.size && a.st_ctim.tv_sec == b.changedSec &&
           a.st_ctim.tv_nsec == b.changedNsec;
}

StagingFolder::FileMark markOf(const struct stat &st)
{
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), qint64(st.st_ctim.tv_sec),
            qint64(st.st_ctim.tv_nsec)};
}

} // namespace

std::optional<qint64> freeBytesAt(const QString &hostPath)
{
    QString path = hostPath;
    while (!path.isEmpty() && !QFileInfo::exists(path))
        path = QFileInfo(path).absolutePath() == path ? QString() : QFileInfo(path).absolutePath();
    struct statvfs vfs;
    if (path.isEmpty() || statvfs(QFile::encodeName(path).constData(), &vfs) != 0)
        return std::nullopt;
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
}

StagingFolder::StagingFolder(const QString &destination)
{
    // Inside the destination: the one place sure to be on its file system, so that delivering
    // is a rename. It is hidden, private, and gone at the end.
    if (!QFileInfo::exists(destination))
        m_madeDestination = destination;
    if (!QDir().mkpath(destination))
        return;
    QByteArray pattern = QFile::encodeName(destination + QStringLiteral("/.zelv-staging-XXXXXX"));
    if (mkdtemp(pattern.data()))
        m_path = QFile::decodeName(pattern);
}

StagingFolder::~StagingFolder()
{
    if (m_path.isEmpty())
        return;
    const QFileInfo info(m_path);
    const int parent = open(QFile::encodeName(info.absolutePath()).constData(), kFolderFlags);
    if (parent < 0)
        return;
    // What cannot be removed stays hidden in the destination; the run's outcome stands.
    (void)TreeRemover(parent, m_path).remove(QFile::encodeName(info.fileName()).toStdString());
    close(parent);
    // Removing a folder that is not empty fails, which keeps what was delivered.
    if (!m_madeDestination.isEmpty())
        rmdir(QFile::encodeName(m_madeDestination).constData());
}

Result<int> StagingFolder::createFile(const QString &member) const
{
    const auto place = safeMemberPath(member);
    if (!place)
        return Error(QStringLiteral("cannot write %1").arg(member), Error::describe(EINVAL));
    const int root = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    if (root < 0)
        return Error::fromErrno(QStringLiteral("cannot write %1").arg(member));
    const QStringList &parts = place->parts;
    const int dir = openFolder(root, parts, int(parts.size()) - 1, true);
    const int fd = dir < 0 ? -1
                           : openat(dir, QFile::encodeName(parts.last()).constData(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    const int error = errno;
    if (dir >= 0 && dir != root)
        close(dir);
    close(root);
    if (fd < 0)
        return Error::fromErrno(QStringLiteral("cannot write %1").arg(member), error);
    return fd;
}

Result<void> StagingFolder::makeFolder(const QString &member) const
{
    const QString what = QStringLiteral("cannot make the folder %1").arg(member);
    const auto place = safeMemberPath(member);
    if (!place)
        return Error(what, Error::describe(EINVAL));
    const int root = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    if (root < 0)
        return Error::fromErrno(what);
    const int dir = openFolder(root, place->parts, int(place->parts.size()), true);
    const int error = errno;
    if (dir >= 0 && dir != root)
        close(dir);
    close(root);
    if (dir < 0)
        return Error::fromErrno(what, error);
    return {};
}

std::optional<quint32> StagingFolder::checkedCrc(int root, const QString &path) const
{
    const int fd = openMember(root, path);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        return std::nullopt;
    }
    const auto known = m_checked.constFind(path);
    std::optional<quint32> crc;
    if (known != m_checked.cend() && sameFile(st, known->mark))
        crc = known->crc;
    else
        crc = crcOfOpenFile(fd);
    close(fd);
    return crc;
}

void StagingFolder::checkFinished(const QList<SetMember> &members, qint64 budget)
{
    const int root = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    if (root < 0)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const qint64 quietSince = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - 100;
    // Tools write in the listing's order: the first file not yet finished ends the look.
    for (; m_nextToCheck < members.size() && budget > 0; ++m_nextToCheck) {
        const SetMember &m = members[m_nextToCheck];
        const auto place = placeOf(m);
        if (m.directory || !m.crc || !place)
            continue;
        const int fd = openMember(root, place->joined());
        struct stat before {
        }, after{};
        const bool finished = fd >= 0 && fstat(fd, &before) == 0 && S_ISREG(before.st_mode) &&
                              before.st_size == m.size &&
                              qint64(before.st_ctim.tv_sec) * 1000 + before.st_ctim.tv_nsec / 1000000 < quietSince;
        const auto crc = finished ? crcOfOpenFile(fd) : std::nullopt;
        // Changed while it was read: the tool was not done with it after all.
        const bool kept = crc && fstat(fd, &after) == 0 && sameFile(after, markOf(before));
        if (fd >= 0)
            close(fd);
        if (!kept)
            break;
        m_checked.insert(place->joined(), {markOf(before), *crc});
        budget -= m.size;
    }
    close(root);
}

Result<void> StagingFolder::verify(const QList<SetMember> &members) const
{
    const int root = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    if (root < 0)
        return Error::fromErrno(QStringLiteral("cannot open the staging folder"));
    QHash<QString, Found> found;
    const auto checked = [&]() -> Result<void> {
        if (auto listed = walk(root, QString(), found); !listed)
            return listed;
        // A name that comes twice is the later copy: its figures count.
        QHash<QString, const SetMember *> expected;
        for (const SetMember &m : members)
            if (!m.directory)
                expected.insert(placeOf(m)->joined(), &m);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            const SetMember &m = **it;
            const auto f = found.constFind(it.key());
            if (f == found.cend() || !f->regular)
                return Error(QStringLiteral("%1 was not extracted").arg(m.name));
            if (f->size != m.size)
                return Error(QStringLiteral("%1 has %2 bytes instead of %3").arg(m.name).arg(f->size).arg(m.size));
            if (m.crc && checkedCrc(root, it.key()) != m.crc)
                return Error(QStringLiteral("CRC error in %1").arg(m.name));
        }
        for (auto it = found.cbegin(); it != found.cend(); ++it)
            if (!expected.contains(it.key()))
                return Error(QStringLiteral("%1 is not in the archive's listing").arg(it.key()));
        return {};
    }();
    close(root);
    return checked;
}

Result<void> StagingFolder::deliver(const QList<SetMember> &members, const QString &destination) const
{
    const int from = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    const int to = from < 0 ? -1 : open(QFile::encodeName(destination).constData(), kFolderFlags & ~O_NOFOLLOW);
    std::optional<Error> fault;
    if (from < 0 || to < 0)
        fault = Error::fromErrno(QStringLiteral("cannot open %1").arg(from < 0 ? m_path : destination));
    for (const SetMember &m : members) {
        if (fault)
            break;
        const MemberPath place = *placeOf(m);
        const int count = int(place.parts.size());
        if (m.directory) {
            const int fd = openFolder(to, place.parts, count, true);
            if (fd < 0)
                fault = Error::fromErrno(QStringLiteral("cannot make the folder %1").arg(m.name));
            else if (fd != to)
                close(fd);
            continue;
        }
        const int source = openFolder(from, place.parts, count - 1, false);
        const int target = source >= 0 ? openFolder(to, place.parts, count - 1, true) : -1;
        const QByteArray name = QFile::encodeName(place.parts.last());
        // A name that came twice was moved with its first listing; the later copies are done.
        struct stat st;
        const bool moved = source >= 0 && fstatat(source, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0;
        if (!moved && (target < 0 || renameat(source, name.constData(), target, name.constData()) != 0))
            fault = Error::fromErrno(QStringLiteral("cannot write %1").arg(m.name));
        if (source >= 0 && source != from)
            close(source);
        if (target >= 0 && target != to)
            close(target);
    }
    if (from >= 0)
        close(from);
    if (to >= 0)
        close(to);
    if (fault)
        return *fault;
    return {};
}

} // namespace zelv
