#include "linkfolder.h"

#include "error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zelv {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names in the folder held by fd that start with prefix, "." and ".." left out.
std::vector<std::string> namesIn(int fd, const char *prefix)
{
    std::vector<std::string> names;
    const int listFd = dup(fd);
    DIR *dir = listFd < 0 ? nullptr : fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0)
            close(listFd);
        return names;
    }
    const size_t length = strlen(prefix);
    while (const dirent *e = readdir(dir))
        if (strncmp(e->d_name, prefix, length) == 0 && strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    closedir(dir);
    return names;
}

// Everything but folders in the folder held by fd, then the folder itself by its name in parent.
void emptyAndRemove(int parentFd, const char *name, int fd)
{
    for (const std::string &entry : namesIn(fd, "")) {
        struct stat st;
        if (fstatat(fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            unlinkat(fd, entry.c_str(), 0);
    }
    unlinkat(parentFd, name, AT_REMOVEDIR); // fails, harmlessly, where a folder was left inside
}

} // namespace

namespace {

bool isOwnPrivateGroup(gid_t gid)
{
    const passwd *user = getpwuid(geteuid());
    if (!user || user->pw_gid != gid)
        return false;
    const QByteArray name = user->pw_name;
    const group *g = getgrgid(gid);
    return g && name == g->gr_name && (!g->gr_mem || !g->gr_mem[0]);
}

} // namespace

Result<void> checkOwnFolder(const QString &path, const struct stat &st, FolderPrivacy privacy)
{
    if (!S_ISDIR(st.st_mode))
        return Error(QStringLiteral("%1 is not a folder").arg(path));
    if (st.st_uid != geteuid())
        return Error(QStringLiteral("%1 is owned by another user").arg(path));
    // A group of the user's own (named as the user, nobody else in it), as systems that give
    // every user one and a umask of 002 make, lets nobody else write.
    const bool ownGroup = privacy == FolderPrivacy::NoOtherWriter && isOwnPrivateGroup(st.st_gid);
    if ((st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && !ownGroup))
        return Error(QStringLiteral("%1 can be written by other users").arg(path));
    if (privacy == FolderPrivacy::Private && (st.st_mode & 077) != 0)
        return Error(QStringLiteral("%1 is open to other users").arg(path));
    return {};
}

void forEachDeadFolder(int parentFd, const char *prefix, const std::function<void(const char *name, int fd)> &remove)
{
    for (const std::string &name : namesIn(parentFd, prefix)) {
        const int fd = openat(parentFd, name.c_str(), kFolderFlags);
        if (fd < 0)
            continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0)
            remove(name.c_str(), fd);
        close(fd);
    }
}

void LinkFolder::removeDead(const QString &parent, const char *kind)
{
    const int parentFd = open(QFile::encodeName(parent).constData(), kFolderFlags & ~O_NOFOLLOW);
    if (parentFd < 0)
        return;
    forEachDeadFolder(parentFd, kind, [parentFd](const char *name, int fd) { emptyAndRemove(parentFd, name, fd); });
    close(parentFd);
}

LinkFolder::LinkFolder(const char *kind)
{
    const QString parent = QDir::tempPath();
    removeDead(parent, kind);
    // Made by name, then held open and locked: the folder held must be the one just made and
    // still there under its name once locked (a run cleaning up may have taken it for a dead
    // one's in between).
    for (int attempt = 0; attempt < 8 && m_fd < 0; ++attempt) {
        QByteArray pattern = QFile::encodeName(parent + u'/' + QLatin1String(kind)) + "XXXXXX";
        if (!mkdtemp(pattern.data())) {
            m_error = Error::describe(errno);
            return;
        }
        const int fd = open(pattern.constData(), kFolderFlags);
        struct stat held, named;
        if (fd >= 0 && fstat(fd, &held) == 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            lstat(pattern.constData(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            m_fd = fd;
            m_path = QFile::decodeName(pattern);
        } else if (fd >= 0) {
            close(fd);
        }
    }
    if (m_fd < 0 && m_error.isEmpty())
        m_error = QStringLiteral("the folder was taken away as it was made");
}

LinkFolder::~LinkFolder()
{
    if (m_fd < 0)
        return;
    const QFileInfo where(m_path);
    const int parentFd = open(QFile::encodeName(where.absolutePath()).constData(), kFolderFlags & ~O_NOFOLLOW);
    if (parentFd >= 0) {
        emptyAndRemove(parentFd, QFile::encodeName(where.fileName()).constData(), m_fd);
        close(parentFd);
    }
    close(m_fd);
}

} // namespace zelv
