// killd.pif DIR: removes the directory DIR with everything in it.
//
// DIR is a DOS path, turned into a host path with the drive table beside this program. A drive
// root, a path on no drive and an empty argument are refused.
// Exit codes: 0 DIR is gone, 1 something could not be removed, 2 bad argument.
//
// The tree may change while it is removed, so nothing is trusted by name: see TreeRemover.

#include "helpers/common/treeremover.h"
#include "platform/dospath.h"
#include "platform/drivetable.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kName[] = "killd.pif";

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

    zelv::TreeRemover remover(parentFd, *zelv::dospath::normalize(dir));
    const auto removed = remover.remove(QFile::encodeName(info.fileName()).toStdString());
    close(parentFd);
    if (!removed) {
        fprintf(stderr, "%s: %s\n", kName, qPrintable(removed.error().text()));
        return 1;
    }
    return 0;
}
