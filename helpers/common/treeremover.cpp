#include "treeremover.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace zelv {

#ifndef STATX_MNT_ID
#define STATX_MNT_ID 0x1000U
#endif
#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x2000
#endif

namespace {

const char kMounted[] = "another file system is mounted there";

constexpr int kFolderFlags = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool examine(int dirFd, const char *name, int flags, struct statx &sx)
{
    return statx(dirFd, name, flags | AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MODE | STATX_INO | STATX_MNT_ID, &sx) ==
           0;
}

dev_t deviceOf(const struct statx &sx) { return makedev(sx.stx_dev_major, sx.stx_dev_minor); }

QString reason(int error) { return QString::fromLocal8Bit(strerror(error)); }

// Folders the walk keeps open at once, with a few descriptors to spare under a tiny limit.
int folderBudget()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 16;
    return int(std::clamp<rlim_t>(limit.rlim_cur, 10, 24)) - 8;
}

} // namespace

class TreeRemover::Walk {
public:
    Walk(int parentFd, const QString &dosPath) : m_parentFd(parentFd), m_dosPath(dosPath), m_budget(folderBudget())
    {
        if (!examine(parentFd, "", AT_EMPTY_PATH, m_mount))
            m_mount = {};
    }

    // True when NAME is gone with everything in it; the first failure is kept for the message.
    bool remove(const std::string &name)
    {
        bool ok = removeEntry(m_parentFd, name);
        while (!m_frames.empty()) {
            Frame &top = m_frames.back();
            if (!top.children.empty()) {
                const std::string child = std::move(top.children.back());
                top.children.pop_back();
                ok = removeEntry(top.fd, child) && ok;
                continue;
            }
            // Everything below is done with; the folder itself goes from its parent.
            const int parentFd = openParent();
            if (parentFd < 0)
                return fail(where(), QStringLiteral("the folder holding it was moved"));
            close(top.fd);
            --m_open;
            if (unlinkat(parentFd, top.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                ok = fail(where(), reason(errno));
            m_frames.pop_back();
        }
        return ok;
    }

    Error firstFailure() const { return m_first.value_or(Error(QStringLiteral("cannot remove %1").arg(m_dosPath))); }

private:
    struct Frame {
        std::string name;
        dev_t dev;
        ino_t ino;
        std::vector<std::string> children; // still to remove, taken from the back
        int fd;                            // -1 while closed to stay within the budget
    };

    // Removes a file or link at once; a folder is opened and stacked so its children go first.
    bool removeEntry(int dirFd, const std::string &name)
    {
        struct statx seen;
        if (!examine(dirFd, name.c_str(), 0, seen))
            return errno == ENOENT || fail(where(name), reason(errno));
        if (!S_ISDIR(seen.stx_mode))
            return unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT || fail(where(name), reason(errno));
        if (!onOurMount(seen))
            return fail(where(name), QString::fromLatin1(kMounted));

        QString why;
        const int fd = openFolder(dirFd, name.c_str(), seen, why);
        if (fd < 0)
            return fail(where(name), why);
        std::vector<std::string> children;
        const bool listed = listChildren(fd, children) || fail(where(name), reason(errno));
        push({name, deviceOf(seen), ino_t(seen.stx_ino), std::move(children), fd});
        return listed;
    }

    // Opens the folder NAME examined as SEEN and lets its owner empty it. Should it not be
    // readable, it is held by an O_PATH descriptor to change its mode through /proc/self/fd,
    // which names exactly that folder (fchmod does not take an O_PATH descriptor).
    int openFolder(int dirFd, const char *name, const struct statx &seen, QString &why)
    {
        int fd = openat(dirFd, name, O_RDONLY | kFolderFlags);
        const bool readable = fd >= 0;
        if (!readable && errno == EACCES)
            fd = openat(dirFd, name, O_PATH | kFolderFlags);
        if (fd < 0) {
            why = reason(errno);
            return -1;
        }
        bool ok = isFolder(fd, deviceOf(seen), seen.stx_ino, why);
        if (ok && (seen.stx_mode & S_IRWXU) != S_IRWXU) {
            const mode_t mode = (seen.stx_mode & 0777) | S_IRWXU;
            const std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
            ok = (readable ? fchmod(fd, mode) : chmod(viaProc.c_str(), mode)) == 0;
            if (!ok)
                why = reason(errno);
        }
        if (!ok) {
            close(fd);
            return -1;
        }
        if (!readable) {
            const int held = fd;
            fd = openat(held, ".", O_RDONLY | kFolderFlags);
            if (fd < 0)
                why = reason(errno);
            close(held);
        }
        return fd;
    }

    // True when FD is the folder DEV/INO on our mount; otherwise WHY says why not.
    bool isFolder(int fd, dev_t dev, ino_t ino, QString &why) const
    {
        struct statx now;
        if (!examine(fd, "", AT_EMPTY_PATH, now))
            why = reason(errno);
        else if (!S_ISDIR(now.stx_mode) || deviceOf(now) != dev || now.stx_ino != ino)
            why = QStringLiteral("it was replaced while being removed");
        else if (!onOurMount(now))
            why = QString::fromLatin1(kMounted);
        else
            return true;
        return false;
    }

    bool onOurMount(const struct statx &sx) const
    {
        if (sx.stx_mask & m_mount.stx_mask & STATX_MNT_ID)
            return sx.stx_mnt_id == m_mount.stx_mnt_id;
        // No mount ids from this kernel: the device, and whether it is the root of a mount.
        return deviceOf(sx) == deviceOf(m_mount) &&
               !(sx.stx_attributes_mask & sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    }

    static bool listChildren(int fd, std::vector<std::string> &names)
    {
        const int listFd = dup(fd);
        DIR *dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
        if (!dir) {
            if (listFd >= 0)
                close(listFd);
            return false;
        }
        while (const dirent *e = readdir(dir)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        closedir(dir);
        return true;
    }

    // Only the deepest folders keep their descriptors: the open frames are always the last ones.
    void push(Frame frame)
    {
        if (m_open == m_budget) {
            Frame &oldest = m_frames[m_frames.size() - m_open];
            close(oldest.fd);
            oldest.fd = -1;
            --m_open;
        }
        m_frames.push_back(std::move(frame));
        ++m_open;
    }

    // The descriptor of the folder holding the current one, reopened through ".." if it was
    // closed; -1 when what is found there is not that folder any more.
    int openParent()
    {
        if (m_frames.size() == 1)
            return m_parentFd;
        Frame &parent = m_frames[m_frames.size() - 2];
        if (parent.fd < 0) {
            QString why;
            const int fd = openat(m_frames.back().fd, "..", O_PATH | kFolderFlags);
            if (fd < 0 || !isFolder(fd, parent.dev, parent.ino, why)) {
                if (fd >= 0)
                    close(fd);
                return -1;
            }
            parent.fd = fd;
            ++m_open;
        }
        return parent.fd;
    }

    // The DOS path of CHILD in the current folder, or of the current folder itself. Built only
    // for a message, so the walk keeps no path per level.
    QString where(const std::string &child = std::string()) const
    {
        QString path = m_dosPath;
        for (size_t i = 1; i < m_frames.size(); ++i)
            path += u'\\' + QFile::decodeName(m_frames[i].name.c_str());
        if (!m_frames.empty() && !child.empty())
            path += u'\\' + QFile::decodeName(child.c_str());
        return path;
    }

    bool fail(const QString &dosPath, const QString &why)
    {
        if (!m_first)
            m_first = Error(QStringLiteral("cannot remove %1").arg(dosPath), why);
        return false;
    }

    const int m_parentFd;
    const QString m_dosPath;
    const int m_budget;
    struct statx m_mount; // of DIR's parent: the one mount the walk stays on
    std::vector<Frame> m_frames;
    int m_open = 0; // frames with a descriptor
    std::optional<Error> m_first;
};

TreeRemover::TreeRemover(int parentFd, const QString &displayPath)
    : m_walk(std::make_unique<Walk>(parentFd, displayPath))
{}

TreeRemover::~TreeRemover() = default;

Result<void> TreeRemover::remove(const std::string &name)
{
    if (m_walk->remove(name))
        return {};
    return m_walk->firstFailure();
}

} // namespace zelv
