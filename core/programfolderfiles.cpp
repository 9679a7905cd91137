#include "programfolderfiles.h"

#include "platform/dospath.h"

#include <QSet>

namespace zelv {

bool removeFirstDizCopy(const DosFileSystem &files, const QString &programFolder)
{
    const QStringList names = files.list(programFolder, u"*.diz", hostfs::EntryKind::Files);
    return !names.isEmpty() && files.removeWritable(dospath::join(programFolder, names.first())).ok();
}

int removeNfoCopies(const DosFileSystem &files, const QString &programFolder)
{
    QSet<QString> tried;
    int removed = 0;
    for (;;) {
        QString next;
        for (const QString &name : files.list(programFolder, u"*.nfo", hostfs::EntryKind::Files)) {
            if (!tried.contains(name)) {
                next = name;
                break;
            }
        }
        if (next.isEmpty())
            return removed;
        tried.insert(next);
        if (files.removeWritable(dospath::join(programFolder, next)))
            ++removed;
    }
}

void RemoveNoteCopies(const DosFileSystem &files, const QString &programFolder)
{
    removeFirstDizCopy(files, programFolder);
    removeNfoCopies(files, programFolder);
}

bool removeErrorReport(const DosFileSystem &files, const QString &programFolder)
{
    const QString path = dospath::join(programFolder, u"errors.txt");
    return files.exists(path) && files.removeFile(path).ok();
}

} // namespace zelv
