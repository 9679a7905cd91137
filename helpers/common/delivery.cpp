#include "delivery.h"

#include "archive/zipmembers.h"
#include "platform/linkfolder.h"
#include "progress.h"
#include "treeremover.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace zelv {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The member's place below a folder, "/" between its parts.
std::optional<MemberPath> placeOf(const SetMember &m) { return safeMemberPath(m.name); }

// This process's umask, read without changing it.
mode_t processUmask()
{
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n')) {
                bool ok = false;
                const uint value = line.startsWith("Umask:") ? line.mid(6).trimmed().toUInt(&ok, 8) : 0;
                if (ok)
                    return mode_t(value);
            }
        return mode_t(022);
    }();
    return mask;
}

// A staged file's permission bits before it is delivered: those of a member from a Unix host
// under the umask, whatever a tool made of them; never set-user-ID, set-group-ID or sticky.
bool settleMode(int folder, const QByteArray &name, const SetMember &m)
{
    const int fd = openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP; // a link has no bits of its own
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && S_ISREG(st.st_mode)) {
        const mode_t wanted = m.unixMode ? mode_t(*m.unixMode & 0777 & ~processUmask()) : mode_t(st.st_mode & 0777);
        if ((st.st_mode & 07777) != wanted)
            ok = fchmod(fd, wanted) == 0;
    }
    const int error = errno;
    close(fd);
    errno = error;
    return ok;
}

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
    std::optional<QString> linkTarget; // what a symbolic link holds
};

std::optional<QString> linkTargetAt(int folder, const char *name)
{
    QByteArray target(4097, '\0');
    const ssize_t n = readlinkat(folder, name, target.data(), size_t(target.size()));
    if (n < 0 || n >= target.size())
        return std::nullopt;
    target.truncate(n);
    return QFile::decodeName(target);
}

// Everything below a folder, by relative path; links and devices are reported as such.
Result<void> walk(int folder, const QString &prefix, QHash<QString, Found> &files)
{
    // Opened anew: a duplicate would share the held folder's place in its listing.
    const int listFd = openat(folder, ".", kFolderFlags);
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
            files.insert(path, {qint64(st.st_size), S_ISREG(st.st_mode),
                                S_ISLNK(st.st_mode) ? linkTargetAt(folder, name.c_str()) : std::nullopt});
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

// The bytes of in copied to out, both at their start; the system's error when it failed.
std::optional<int> copyBytes(int in, int out)
{
    std::optional<int> error;
    for (;;) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
    }
    // Where the file system cannot copy a range, the bytes go through this process.
    if (error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        error.reset();
        std::vector<char> buffer(1 << 20);
        ftruncate(out, 0);
        lseek(out, 0, SEEK_SET);
        lseek(in, 0, SEEK_SET);
        for (ssize_t n; (n = read(in, buffer.data(), buffer.size())) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || write(out, buffer.data(), size_t(n)) != n) {
                error = errno;
                break;
            }
        }
    }
    return error;
}

StagingFolder::FileMark markOf(const struct stat &st)
{
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), qint64(st.st_ctim.tv_sec),
            qint64(st.st_ctim.tv_nsec)};
}

} // namespace

std::optional<FreeRoom> freeRoomAt(const QString &hostPath)
{
    QString path = hostPath;
    while (!path.isEmpty() && !QFileInfo::exists(path))
        path = QFileInfo(path).absolutePath() == path ? QString() : QFileInfo(path).absolutePath();
    struct statvfs vfs;
    if (path.isEmpty() || statvfs(QFile::encodeName(path).constData(), &vfs) != 0)
        return std::nullopt;
    FreeRoom room{qint64(vfs.f_bavail) * qint64(vfs.f_frsize), std::nullopt};
    if (vfs.f_files != 0) // file systems that make inodes as needed say 0
        room.entries = qint64(vfs.f_favail);
    return room;
}

namespace {

constexpr char kStagingPrefix[] = ".zelv-staging-";

// The names mkdtemp gives: the prefix and six letters or digits.
bool isStagingName(const char *name)
{
    const size_t prefix = strlen(kStagingPrefix);
    if (strncmp(name, kStagingPrefix, prefix) != 0 || strlen(name) != prefix + 6)
        return false;
    for (const char *c = name + prefix; *c; ++c)
        if (!isalnum(static_cast<unsigned char>(*c)))
            return false;
    return true;
}

// Staging folders of runs that ended without removing theirs (killed, the machine stopped): a
// running helper holds a lock on its own from the start to its removal, so one whose lock can
// be taken is nobody's any more. Only a folder as this program makes them goes, and only the
// very folder locked.
void removeDeadStagingFolders(int folderFd, const QString &folder)
{
    forEachDeadFolder(folderFd, kStagingPrefix, [&](const char *name, int fd) {
        struct stat held, named;
        if (!isStagingName(name) || fstat(fd, &held) != 0 || (held.st_mode & 077) != 0 ||
            fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(named.st_mode) ||
            named.st_dev != held.st_dev || named.st_ino != held.st_ino)
            return;
        (void)TreeRemover(folderFd, folder + u'/' + QString::fromUtf8(name)).remove(name);
    });
}

} // namespace

void removeDeadStagingFolders(const QString &folder)
{
    const int fd = open(QFile::encodeName(folder).constData(), kFolderFlags & ~O_NOFOLLOW);
    if (fd < 0)
        return;
    removeDeadStagingFolders(fd, folder);
    close(fd);
}

StagingFolder::StagingFolder(const QString &destination)
{
    // Inside the destination: the one place sure to be on its file system, so that delivering
    // is a rename. It is hidden, private, and gone at the end.
    if (!QFileInfo::exists(destination))
        m_madeDestination = destination;
    if (!QDir().mkpath(destination))
        return;
    m_destination = destination;
    m_parentFd = open(QFile::encodeName(destination).constData(), kFolderFlags & ~O_NOFOLLOW);
    if (m_parentFd < 0)
        return;
    removeDeadStagingFolders(m_parentFd, destination);
    // Made by name, then held open and locked: the folder opened must be the one just made,
    // private, and still there under its name once locked (a helper cleaning up may have
    // taken it for a dead one's in between).
    for (int attempt = 0; attempt < 8 && m_fd < 0; ++attempt) {
        QByteArray pattern = QFile::encodeName(destination + u'/' + QLatin1String(kStagingPrefix)) + "XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        const QByteArray name = QFile::encodeName(QFileInfo(QFile::decodeName(pattern)).fileName());
        const int fd = openat(m_parentFd, name.constData(), kFolderFlags);
        struct stat held, named;
        const bool ours = fd >= 0 && fstat(fd, &held) == 0 && held.st_uid == geteuid() && (held.st_mode & 077) == 0;
        if (ours && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(m_parentFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino) {
            m_fd = fd;
            m_path = QFile::decodeName(pattern);
        } else if (fd >= 0) {
            close(fd);
        }
        if (!ours)
            return;
    }
}

StagingFolder::~StagingFolder()
{
    // Removed while still locked, so that no other run takes it for a dead one's meanwhile.
    // What cannot be removed stays hidden in the destination; the run's outcome stands.
    if (m_parentFd >= 0 && !m_path.isEmpty())
        (void)TreeRemover(m_parentFd, m_path).remove(QFile::encodeName(QFileInfo(m_path).fileName()).toStdString());
    if (m_fd >= 0)
        close(m_fd);
    if (m_parentFd < 0)
        return;
    close(m_parentFd);
    // Removing a folder that is not empty fails, which keeps what was delivered.
    if (!m_madeDestination.isEmpty())
        rmdir(QFile::encodeName(m_madeDestination).constData());
}

Result<int> StagingFolder::createFile(const QString &member) const
{
    const auto place = safeMemberPath(member);
    if (!place)
        return Error(QStringLiteral("cannot write %1").arg(member), Error::describe(EINVAL));
    const int root = m_fd;
    const QStringList &parts = place->parts;
    const int dir = openFolder(root, parts, int(parts.size()) - 1, true);
    const int fd = dir < 0 ? -1
                           : openat(dir, QFile::encodeName(parts.last()).constData(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    const int error = errno;
    if (dir >= 0 && dir != root)
        close(dir);
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
    const int dir = openFolder(m_fd, place->parts, int(place->parts.size()), true);
    const int error = errno;
    if (dir >= 0 && dir != m_fd)
        close(dir);
    if (dir < 0)
        return Error::fromErrno(what, error);
    return {};
}

Result<void> StagingFolder::makeLink(const QString &member, const QString &target) const
{
    const QString what = QStringLiteral("cannot make the link %1").arg(member);
    const auto place = safeMemberPath(member);
    if (!place)
        return Error(what, Error::describe(EINVAL));
    const QStringList &parts = place->parts;
    const int dir = openFolder(m_fd, parts, int(parts.size()) - 1, true);
    // Made with "/" between its parts, as this host reads it.
    const QByteArray text = QFile::encodeName(QString(target).replace(u'\\', u'/'));
    const bool made = dir >= 0 && symlinkat(text.constData(), dir, QFile::encodeName(parts.last()).constData()) == 0;
    const int error = errno;
    if (dir >= 0 && dir != m_fd)
        close(dir);
    if (!made)
        return Error::fromErrno(what, error);
    return {};
}

Result<void> StagingFolder::copyFile(const QString &member, const QString &from) const
{
    const QString what = QStringLiteral("cannot copy %1 to %2").arg(from, member);
    const auto source = safeMemberPath(from);
    if (!source)
        return Error(what, Error::describe(EINVAL));
    const int in = openMember(m_fd, source->joined());
    struct stat st;
    if (in < 0 || fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = in < 0 ? errno : EINVAL;
        if (in >= 0)
            close(in);
        return Error::fromErrno(what, error);
    }
    const auto out = createFile(member);
    if (!out) {
        close(in);
        return out.error();
    }
    const std::optional<int> error = copyBytes(in, *out);
    close(in);
    close(*out);
    if (error)
        return Error::fromErrno(what, *error);
    return {};
}

Result<void> StagingFolder::moveWritten(const QByteArray &written, const QString &member) const
{
    const QString what = QStringLiteral("cannot move %1 into place").arg(member);
    const auto place = safeMemberPath(member);
    QList<QByteArray> from;
    for (const QByteArray &part : written.split('/'))
        if (!part.isEmpty() && part != ".")
            from << part;
    if (!place || from.isEmpty() || from.contains(".."))
        return Error(what, Error::describe(EINVAL));
    // The folder holding the first count parts of what was written, reached through no link.
    const auto openWritten = [this, &from](qsizetype count) {
        int fd = m_fd;
        for (qsizetype i = 0; i < count && fd >= 0; ++i) {
            const int next = openat(fd, from[i].constData(), kFolderFlags);
            if (fd != m_fd)
                close(fd);
            fd = next;
        }
        return fd;
    };
    const QStringList &parts = place->parts;
    const int fromDir = openWritten(from.size() - 1);
    const int toDir = fromDir < 0 ? -1 : openFolder(m_fd, parts, int(parts.size()) - 1, true);
    const QByteArray leaf = QFile::encodeName(parts.last());
    bool moved =
        toDir >= 0 && renameat2(fromDir, from.last().constData(), toDir, leaf.constData(), RENAME_NOREPLACE) == 0;
    int error = errno;
    // A folder whose place stands already (its files were moved there) is merged when empty.
    if (!moved && toDir >= 0 && error == EEXIST) {
        struct stat st;
        if (fstatat(fromDir, from.last().constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
            fstatat(toDir, leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            moved = unlinkat(fromDir, from.last().constData(), AT_REMOVEDIR) == 0;
            error = errno == ENOTEMPTY ? EEXIST : errno;
        }
    }
    for (const int fd : {fromDir, toDir})
        if (fd >= 0 && fd != m_fd)
            close(fd);
    if (!moved)
        return Error::fromErrno(what, error);
    // The written name's folders, deepest first, while they are empty.
    for (qsizetype depth = from.size() - 1; depth > 0; --depth) {
        const int parent = openWritten(depth - 1);
        const bool gone = parent >= 0 && unlinkat(parent, from[depth - 1].constData(), AT_REMOVEDIR) == 0;
        if (parent >= 0 && parent != m_fd)
            close(parent);
        if (!gone)
            break;
    }
    return {};
}

Result<void> StagingFolder::takeIn(const QString &name) const
{
    const QString what = QStringLiteral("cannot take %1 in").arg(name);
    const QByteArray leaf = QFile::encodeName(name);
    if (m_fd < 0 || name.isEmpty() || name.contains(u'/') || name == u"." || name == u"..")
        return Error(what, Error::describe(EINVAL));
    struct stat taken;
    if (linkat(m_parentFd, leaf.constData(), m_fd, leaf.constData(), 0) == 0) {
        // A link is linked as a link: only a plain file may stay.
        if (fstatat(m_fd, leaf.constData(), &taken, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(taken.st_mode))
            return {};
        unlinkat(m_fd, leaf.constData(), 0);
        return Error(what, Error::describe(EINVAL));
    }
    if (errno != EPERM && errno != EMLINK && errno != EXDEV)
        return Error::fromErrno(what);
    // Not ours to link (a file of another user where links are protected): its bytes then.
    const int in = openat(m_parentFd, leaf.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0 || fstat(in, &taken) != 0 || !S_ISREG(taken.st_mode)) {
        const int error = in < 0 ? errno : EINVAL;
        if (in >= 0)
            close(in);
        return Error::fromErrno(what, error);
    }
    const int out = openat(m_fd, leaf.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const std::optional<int> error = out < 0 ? std::optional<int>(errno) : copyBytes(in, out);
    close(in);
    if (out >= 0)
        close(out);
    if (error) {
        if (out >= 0)
            unlinkat(m_fd, leaf.constData(), 0);
        return Error::fromErrno(what, *error);
    }
    return {};
}

Result<void> StagingFolder::moveIn(const QString &name) const
{
    const QByteArray leaf = QFile::encodeName(name);
    if (m_fd < 0 || name.isEmpty() || name.contains(u'/') || name == u"." || name == u"..")
        return Error(QStringLiteral("cannot move %1 into place").arg(name), Error::describe(EINVAL));
    if (renameat2(m_fd, leaf.constData(), m_parentFd, leaf.constData(), RENAME_NOREPLACE) != 0)
        return Error::fromErrno(QStringLiteral("cannot move %1 into place").arg(name));
    return {};
}

Result<void> StagingFolder::clear() const
{
    m_checked.clear();
    m_nextToCheck = 0;
    const QString what = QStringLiteral("cannot empty %1").arg(m_path);
    const int listFd = m_fd < 0 ? -1 : openat(m_fd, ".", kFolderFlags);
    DIR *dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        const int error = errno;
        if (listFd >= 0)
            close(listFd);
        return Error::fromErrno(what, error);
    }
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    closedir(dir);
    TreeRemover remover(m_fd, m_path);
    for (const std::string &name : names)
        if (auto gone = remover.remove(name); !gone)
            return gone;
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

void StagingFolder::wroteFile(const QString &member, int fd, quint32 crc) const
{
    const auto place = safeMemberPath(member);
    struct stat st;
    if (place && fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        m_checked.insert(place->joined(), {markOf(st), crc});
}

void StagingFolder::checkFinished(const QList<SetMember> &members, qint64 budget)
{
    const int root = m_fd;
    if (root < 0)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const qint64 quietSince = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - 100;
    // Tools write in the listing's order: the first file not yet finished ends the look.
    for (; m_nextToCheck < members.size() && budget > 0; ++m_nextToCheck) {
        const SetMember &m = members[m_nextToCheck];
        const auto place = placeOf(m);
        if (m.directory || m.symlink || !m.copyOf.isEmpty() || !m.crc || !place)
            continue;
        const int fd = openMember(root, place->joined());
        struct stat before {
        }, after{};
        // Written here whole, and as it was since: nothing to read.
        if (const auto known = m_checked.constFind(place->joined());
            known != m_checked.cend() && fd >= 0 && fstat(fd, &before) == 0 && sameFile(before, known->mark)) {
            close(fd);
            continue;
        }
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
}

Result<void> StagingFolder::verify(const QList<SetMember> &members) const
{
    const int root = m_fd;
    if (root < 0)
        return Error::fromErrno(QStringLiteral("cannot open the staging folder"), EBADF);
    QHash<QString, Found> found;
    const auto checked = [&]() -> Result<void> {
        if (auto listed = walk(root, QString(), found); !listed)
            return listed;
        // A name that comes twice is the later copy: its figures count.
        QHash<QString, const SetMember *> expected;
        for (const SetMember &m : members)
            if (!m.directory)
                expected.insert(placeOf(m)->joined(), &m);
        // In the listing's order: where damage in one member spoils the next (a solid set),
        // the first one spoilt is the one told.
        for (const SetMember &m : members) {
            const auto it = m.directory ? expected.cend() : expected.constFind(placeOf(m)->joined());
            if (it == expected.cend() || *it != &m)
                continue;
            const auto f = found.constFind(it.key());
            if (m.symlink) {
                // The link made, holding the target the listing gives.
                if (f == found.cend() || f->linkTarget != QString(m.linkTarget).replace(u'\\', u'/'))
                    return Error(QStringLiteral("%1 was not extracted").arg(m.name));
                continue;
            }
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
    return checked;
}

namespace {

// What delivery changed in the destination, so that a failure part way can put it back: the
// files it placed (and those they replaced, kept aside in the staging folder) and the folders
// it made.
class DeliveryLog {
public:
    DeliveryLog(int destination, int keep) : m_destination(destination), m_keep(keep) {}

    // The folders of parts below the destination that are not there yet, in the order they
    // are made.
    void noteMissingFolders(const QStringList &parts, int count)
    {
        QString path;
        for (int i = 0; i < count; ++i) {
            path += (i ? QStringLiteral("/") : QString()) + parts[i];
            struct stat st;
            if (!m_noted.contains(path) &&
                fstatat(m_destination, QFile::encodeName(path).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                m_noted.insert(path);
                m_madeFolders << path;
            }
        }
    }

    // Sets aside what stands under name in folder (not a folder), before a file takes its place.
    bool setAside(int folder, const QByteArray &name, const QStringList &parts)
    {
        struct stat st;
        Step step{parts, -1};
        if (fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
            step.kept = int(m_steps.size());
            if (m_keep < 0 ||
                renameat(folder, name.constData(), m_keep, QByteArray::number(step.kept).constData()) != 0)
                return false;
        }
        m_steps << step;
        return true;
    }

    // The destination as it was: placed files gone, replaced ones back, made folders removed
    // when empty.
    void undo() const
    {
        for (auto step = m_steps.crbegin(); step != m_steps.crend(); ++step) {
            const int folder = openFolder(m_destination, step->parts, int(step->parts.size()) - 1, false);
            if (folder < 0)
                continue;
            const QByteArray name = QFile::encodeName(step->parts.last());
            unlinkat(folder, name.constData(), 0);
            if (step->kept >= 0)
                renameat(m_keep, QByteArray::number(step->kept).constData(), folder, name.constData());
            if (folder != m_destination)
                close(folder);
        }
        for (auto path = m_madeFolders.crbegin(); path != m_madeFolders.crend(); ++path)
            unlinkat(m_destination, QFile::encodeName(*path).constData(), AT_REMOVEDIR);
    }

private:
    struct Step {
        QStringList parts; // the file's place below the destination
        int kept = -1;     // the name of what it replaced, in the keep folder
    };
    int m_destination;
    int m_keep;
    QList<Step> m_steps;
    QStringList m_madeFolders;
    QSet<QString> m_noted; // the same, to be asked of at every file
};

} // namespace

Result<void> StagingFolder::deliver(const QList<SetMember> &members, const QString &destination) const
{
    const int from = m_fd;
    // The destination the staging folder was made in is the one held since.
    const bool held = destination == m_destination;
    const int to = from < 0 ? -1
                   : held   ? m_parentFd
                            : open(QFile::encodeName(destination).constData(), kFolderFlags & ~O_NOFOLLOW);
    std::optional<Error> fault;
    if (from < 0 || to < 0)
        fault = Error::fromErrno(QStringLiteral("cannot open %1").arg(from < 0 ? m_path : destination));
    // What a file replaces waits in the staging folder until every file is in place.
    const QByteArray keepName = QByteArrayLiteral(".replaced");
    const int keep =
        fault || mkdirat(from, keepName.constData(), 0700) != 0 ? -1 : openat(from, keepName.constData(), kFolderFlags);
    if (!fault && keep < 0)
        fault = Error::fromErrno(QStringLiteral("cannot write %1").arg(destination));
    DeliveryLog log(to, keep);
    // Moving a file holds at most four descriptors more: had before the first move, so that
    // the destination does not end half delivered for want of one.
    int spare[4] = {-1, -1, -1, -1};
    for (int &fd : spare)
        if (!fault && (fd = dup(from)) < 0)
            fault = Error::fromErrno(QStringLiteral("cannot write %1").arg(destination));
    for (const int fd : spare)
        if (fd >= 0)
            close(fd);
    for (const SetMember &m : members) {
        if (fault)
            break;
        // A stop asked while the files go in takes back those already in.
        if (stopAsked()) {
            fault = Error(QStringLiteral("Cancelled"));
            break;
        }
        const MemberPath place = *placeOf(m);
        const int count = int(place.parts.size());
        log.noteMissingFolders(place.parts, m.directory ? count : count - 1);
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
        if (!moved && (target < 0 || !settleMode(source, name, m) || !log.setAside(target, name, place.parts) ||
                       renameat(source, name.constData(), target, name.constData()) != 0))
            fault = Error::fromErrno(QStringLiteral("cannot write %1").arg(m.name));
        if (source >= 0 && source != from)
            close(source);
        if (target >= 0 && target != to)
            close(target);
    }
    if (fault && to >= 0)
        log.undo();
    if (keep >= 0)
        close(keep);
    if (to >= 0 && !held)
        close(to);
    if (fault)
        return *fault;
    return {};
}

} // namespace zelv
