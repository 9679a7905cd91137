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

QString reason(int error) { return QString::fromLocal8Bit(strerror(error)); }

// The member's place below a folder, "/" between its parts.
std::optional<MemberPath> placeOf(const ListedMember &m) { return safeMemberPath(m.name); }

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
bool walk(int folder, const QString &prefix, QHash<QString, Found> &files, QString *fault)
{
    const int listFd = dup(folder);
    DIR *dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            close(listFd);
        *fault = QStringLiteral("cannot read the staging folder: %1").arg(reason(errno));
        return false;
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
            const bool ok = sub >= 0 && walk(sub, path + u'/', files, fault);
            if (sub >= 0)
                close(sub);
            if (!ok)
                return false;
        } else {
            files.insert(path, {qint64(st.st_size), S_ISREG(st.st_mode)});
        }
    }
    return true;
}

// The CRC-32 of what fd reads from where it stands to its end.
std::optional<quint32> crcOfOpen(int fd)
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
        crc = libdeflate_crc32(crc, buffer.data(), size_t(n));
    }
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

std::optional<quint32> crcOfFile(const QString &hostPath)
{
    const int fd = open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const auto crc = crcOfOpen(fd);
    close(fd);
    return crc;
}

std::optional<QString> refusedMember(const QList<ListedMember> &members, QString *why)
{
    for (const ListedMember &m : members) {
        QString problem;
        if (m.encrypted)
            problem = QStringLiteral("Encrypted member %1");
        else if (m.link || m.special)
            problem = QStringLiteral("Link or device member %1");
        else if (!placeOf(m))
            problem = QStringLiteral("Unsafe name %1");
        if (!problem.isEmpty()) {
            if (why)
                *why = problem.arg(m.name);
            return m.name;
        }
    }
    return std::nullopt;
}

qint64 unpackedSize(const QList<ListedMember> &members)
{
    qint64 total = 0;
    for (const ListedMember &m : members)
        if (!m.directory)
            total += m.size;
    return total;
}

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
    TreeRemover(parent, m_path).remove(QFile::encodeName(info.fileName()).toStdString());
    close(parent);
    // Removing a folder that is not empty fails, which keeps what was delivered.
    if (!m_madeDestination.isEmpty())
        rmdir(QFile::encodeName(m_madeDestination).constData());
}

int StagingFolder::createFile(const QString &member) const
{
    const auto place = safeMemberPath(member);
    const int root = place ? open(QFile::encodeName(m_path).constData(), kFolderFlags) : -1;
    if (root < 0)
        return -1;
    const QStringList &parts = place->parts;
    const int dir = openFolder(root, parts, int(parts.size()) - 1, true);
    const int fd = dir < 0 ? -1
                           : openat(dir, QFile::encodeName(parts.last()).constData(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (dir >= 0 && dir != root)
        close(dir);
    close(root);
    return fd;
}

bool StagingFolder::makeFolder(const QString &member) const
{
    const auto place = safeMemberPath(member);
    const int root = place ? open(QFile::encodeName(m_path).constData(), kFolderFlags) : -1;
    if (root < 0)
        return false;
    const int dir = openFolder(root, place->parts, int(place->parts.size()), true);
    if (dir >= 0 && dir != root)
        close(dir);
    close(root);
    return dir >= 0;
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
        crc = crcOfOpen(fd);
    close(fd);
    return crc;
}

void StagingFolder::checkFinished(const QList<ListedMember> &members, qint64 budget)
{
    const int root = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    if (root < 0)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const qint64 quietSince = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - 100;
    // Tools write in the listing's order: the first file not yet finished ends the look.
    for (; m_nextToCheck < members.size() && budget > 0; ++m_nextToCheck) {
        const ListedMember &m = members[m_nextToCheck];
        const auto place = placeOf(m);
        if (m.directory || !m.crc || !place)
            continue;
        const int fd = openMember(root, place->joined());
        struct stat before {
        }, after{};
        const bool finished = fd >= 0 && fstat(fd, &before) == 0 && S_ISREG(before.st_mode) &&
                              before.st_size == m.size &&
                              qint64(before.st_ctim.tv_sec) * 1000 + before.st_ctim.tv_nsec / 1000000 < quietSince;
        const auto crc = finished ? crcOfOpen(fd) : std::nullopt;
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

bool StagingFolder::verify(const QList<ListedMember> &members, QString *fault) const
{
    const int root = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    if (root < 0) {
        *fault = QStringLiteral("cannot open the staging folder: %1").arg(reason(errno));
        return false;
    }
    QHash<QString, Found> found;
    bool ok = walk(root, QString(), found, fault);
    // A name that comes twice is the later copy: its figures count.
    QHash<QString, const ListedMember *> expected;
    for (const ListedMember &m : members)
        if (!m.directory)
            expected.insert(placeOf(m)->joined(), &m);
    for (auto it = expected.cbegin(); ok && it != expected.cend(); ++it) {
        const ListedMember &m = **it;
        const auto f = found.constFind(it.key());
        if (f == found.cend() || !f->regular) {
            *fault = QStringLiteral("%1 was not extracted").arg(m.name);
            ok = false;
        } else if (f->size != m.size) {
            *fault = QStringLiteral("%1 has %2 bytes instead of %3").arg(m.name).arg(f->size).arg(m.size);
            ok = false;
        } else if (m.crc && checkedCrc(root, it.key()) != m.crc) {
            *fault = QStringLiteral("CRC error in %1").arg(m.name);
            ok = false;
        }
    }
    for (auto it = found.cbegin(); ok && it != found.cend(); ++it) {
        if (!expected.contains(it.key())) {
            *fault = QStringLiteral("%1 is not in the archive's listing").arg(it.key());
            ok = false;
        }
    }
    close(root);
    return ok;
}

bool StagingFolder::deliver(const QList<ListedMember> &members, const QString &destination, QString *fault) const
{
    const int from = open(QFile::encodeName(m_path).constData(), kFolderFlags);
    const int to = open(QFile::encodeName(destination).constData(), kFolderFlags & ~O_NOFOLLOW);
    bool ok = from >= 0 && to >= 0;
    if (!ok)
        *fault = QStringLiteral("cannot open %1: %2").arg(from < 0 ? m_path : destination, reason(errno));
    for (const ListedMember &m : members) {
        if (!ok)
            break;
        const MemberPath place = *placeOf(m);
        const int count = int(place.parts.size());
        if (m.directory) {
            const int fd = openFolder(to, place.parts, count, true);
            ok = fd >= 0;
            if (fd >= 0 && fd != to)
                close(fd);
            if (!ok)
                *fault = QStringLiteral("cannot make the folder %1: %2").arg(m.name, reason(errno));
            continue;
        }
        const int source = openFolder(from, place.parts, count - 1, false);
        const int target = source >= 0 ? openFolder(to, place.parts, count - 1, true) : -1;
        const QByteArray name = QFile::encodeName(place.parts.last());
        // A name that came twice was moved with its first listing; the later copies are done.
        struct stat st;
        const bool moved = source >= 0 && fstatat(source, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0;
        ok = moved || (target >= 0 && renameat(source, name.constData(), target, name.constData()) == 0);
        if (!ok)
            *fault = QStringLiteral("cannot write %1: %2").arg(m.name, reason(errno));
        if (source >= 0 && source != from)
            close(source);
        if (target >= 0 && target != to)
            close(target);
    }
    if (from >= 0)
        close(from);
    if (to >= 0)
        close(to);
    return ok;
}

} // namespace zelv
