#include "deletefiles.h"

#include "platform/dospath.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelv {

bool removePlainFile(const QString &hostPath)
{
    const QByteArray path = QFile::encodeName(hostPath);
    struct stat st {};
    if (lstat(path.constData(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode)) {
        struct stat target {};
        if (stat(path.constData(), &target) != 0 || !S_ISREG(target.st_mode))
            return false; // dangling, or a link to a folder
        return unlink(path.constData()) == 0;
    }
    if (!S_ISREG(st.st_mode))
        return false;
    // Writable again through the file itself: a link swapped in meanwhile is not followed.
    const int fd = open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        struct stat now {};
        if (fstat(fd, &now) == 0 && S_ISREG(now.st_mode) && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
            fchmod(fd, (now.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID)) | S_IWUSR);
        close(fd);
    }
    // unlink never follows a link: whatever stands under the name now is the name itself.
    return unlink(path.constData()) == 0;
}

void DeleteSelectedFiles(CommandContext &c)
{
    WindowSurface &w = c.window;
    const MessageAnswer answer =
        c.dialogs.ask({QStringLiteral("Zelvant32"), QStringLiteral("Delete all files selected?"),
                       MessageIcon::Exclamation, MessageButtons::OkCancel, false});
    if (answer != MessageAnswer::Ok)
        return;
    const QString folder = w.listPath();
    const QString prefix = folder.endsWith(u'\\') ? folder.left(2) : folder;
    for (int i = 0; i < w.listCount(); ++i) {
        if (!w.listSelected(i))
            continue;
        const auto host = c.files.hostPath(prefix + u'\\' + w.listItem(i));
        if (host)
            removePlainFile(*host);
    }
    w.refreshList();
    w.setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false,
                         Doors::Toolbar);
    w.viewer().close();
    w.setCommandsEnabled(
        {FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test, FileCommand::Delete}, false,
        Doors::Menu);
}

} // namespace zelv
