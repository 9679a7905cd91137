// killd.pif DIR: removes the directory DIR with everything in it.
//
// DIR is a DOS path, turned into a host path with the drive table beside this program. Links
// inside DIR are removed, never followed; a folder on another file system mounted inside DIR
// is left alone. A drive root, a path on no drive and an empty argument are refused.
// Exit codes: 0 DIR is gone, 1 something could not be removed, 2 bad argument.

#include "platform/dospath.h"
#include "platform/drivetable.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kName[] = "killd.pif";

class Remover {
public:
    // True when everything is gone; the first failure is kept for the message.
    bool removeEntry(int parentFd, const std::string &name, const QString &dosPath, dev_t device)
    {
        struct stat st;
        if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT || fail(dosPath, errno);
        if (!S_ISDIR(st.st_mode))
            return unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT || fail(dosPath, errno);
        if (st.st_dev != device)
            return fail(dosPath, QStringLiteral("another file system is mounted there"));

        // A folder without read, write or search rights for its owner gets them back first,
        // as the original removal took read-only entries too.
        if ((st.st_mode & S_IRWXU) != S_IRWXU)
            fchmodat(parentFd, name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
        const int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return fail(dosPath, errno);
        bool ok = true;
        for (const std::string &child : childrenOf(fd, dosPath, ok))
            ok = removeEntry(fd, child, dosPath + u'\\' + QFile::decodeName(child.c_str()), device) && ok;
        close(fd);
        if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            return fail(dosPath, errno);
        return ok;
    }

    const QString &firstFailure() const { return m_first; }

private:
    std::vector<std::string> childrenOf(int fd, const QString &dosPath, bool &ok)
    {
        std::vector<std::string> names;
        const int listFd = dup(fd);
        DIR *dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
        if (!dir) {
            if (listFd >= 0)
                close(listFd);
            ok = fail(dosPath, errno);
            return names;
        }
        while (const dirent *e = readdir(dir)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        closedir(dir);
        return names;
    }

    bool fail(const QString &dosPath, int error)
    {
        return fail(dosPath, QString::fromLocal8Bit(strerror(error)));
    }

    bool fail(const QString &dosPath, const QString &why)
    {
        if (m_first.isEmpty())
            m_first = QStringLiteral("cannot remove %1: %2").arg(dosPath, why);
        return false;
    }

    QString m_first;
};

int refuse(const QString &message)
{
    fprintf(stderr, "%s: %s\n", kName, qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        return refuse(QStringLiteral("usage: killd.pif DIRECTORY (one directory, quoted if it holds a blank)"));
    const QString dir = QString::fromLocal8Bit(argv[1]).trimmed();
    if (dir.isEmpty())
        return refuse(QStringLiteral("no directory given"));
    if (!zelv::dospath::driveLetter(dir))
        return refuse(QStringLiteral("%1 is not on a drive").arg(dir));
    if (zelv::dospath::isDriveRoot(dir))
        return refuse(QStringLiteral("will not remove the drive root %1").arg(dir));

    const zelv::DriveTable drives(zelv::DriveTable::runningProgramFolder());
    const auto host = drives.toHost(dir);
    if (!host)
        return refuse(QStringLiteral("%1 is on no drive").arg(dir));

    const QByteArray hostBytes = QFile::encodeName(*host);
    struct stat st;
    if (lstat(hostBytes.constData(), &st) != 0)
        return errno == ENOENT ? 0 : refuse(QStringLiteral("%1: %2").arg(dir, QString::fromLocal8Bit(strerror(errno))));

    // The folder a drive stands for is never removed, whichever name reaches it.
    if (S_ISDIR(st.st_mode)) {
        const QString canonical = QFileInfo(*host).canonicalFilePath();
        if (canonical == u"/")
            return refuse(QStringLiteral("will not remove the root folder %1").arg(dir));
        for (const zelv::Drive &d : drives.drives())
            if (d.canonical == canonical)
                return refuse(QStringLiteral("%1 is the root of drive %2:").arg(dir, QString(d.letter)));
    }

    const QFileInfo info(*host);
    const int parentFd = open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return refuse(QStringLiteral("%1: %2").arg(dir, QString::fromLocal8Bit(strerror(errno))));

    Remover remover;
    const bool ok = remover.removeEntry(parentFd, QFile::encodeName(info.fileName()).toStdString(),
                                        *zelv::dospath::normalize(dir), st.st_dev);
    close(parentFd);
    if (!ok) {
        fprintf(stderr, "%s: %s\n", kName, qPrintable(remover.firstFailure()));
        return 1;
    }
    return 0;
}
