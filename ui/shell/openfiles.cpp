#include "openfiles.h"

#include "shellcommands.h"

#include "platform/dospath.h"
#include "platform/wildcard.h"

#include <QFileInfo>

namespace zelv {

namespace {

// The kind of the archive's own extension ("*.rar"); a volume name several kinds list (x.001,
// or x.a00 listed with ARJ and ACE) by the signature it carries, else the first that lists it.
std::optional<ArchiveKind> kindOfFile(QStringView name, const std::optional<QString> &host)
{
    std::optional<ArchiveKind> listed;
    for (ArchiveKind kind : kAllArchiveKinds) {
        const ArchiveKindInfo &info = archiveKindInfo(kind);
        if (WildcardFilter(info.label).matches(name))
            return kind;
        if (WildcardFilter(info.listingFilter).matches(name)) {
            if (host && hasVolumeSignature(*host, kind))
                return kind;
            if (!listed)
                listed = kind;
        }
    }
    return listed;
}

} // namespace

void OpenGivenFiles(CommandContext &c, const QStringList &hostFiles)
{
    WindowSurface &w = c.window;
    QStringList dosFiles;
    QStringList elsewhere;
    for (const QString &host : hostFiles) {
        if (const auto dos = c.files.drives().toDos(QFileInfo(host).absoluteFilePath()))
            dosFiles.append(*dos);
        else
            elsewhere.append(host);
    }
    // Said as for files dropped on the window.
    if (!elsewhere.isEmpty())
        c.dialogs.showError(QStringLiteral("%1 is on none of the drives Zelvant32 knows").arg(elsewhere.first()));
    if (dosFiles.isEmpty())
        return;

    const QString folder = dospath::folderOf(dosFiles.first());
    if (!w.folderExists(folder).value_or(false) || !w.setListPath(folder))
        return;
    w.setTreePath(w.listPath());
    w.setFolderPanelLook(FolderPanelLook::Folder);
    w.setFolderPanelCaption(w.listPath().toLower());
    if (const auto kind = kindOfFile(dospath::nameOf(dosFiles.first()), c.files.hostPath(dosFiles.first()))) {
        w.pressOnly(*kind);
        SwitchKind(c, *kind);
    }

    QStringList names;
    for (const QString &file : dosFiles)
        if (dospath::folderOf(file).compare(folder, Qt::CaseInsensitive) == 0)
            names.append(dospath::nameOf(file));
    bool any = false;
    for (int i = 0; i < w.listCount(); ++i) {
        const bool given = names.contains(w.listItem(i), Qt::CaseInsensitive);
        w.setListSelected(i, given);
        any = any || given;
    }
    // As if the person had clicked the files: the commands for them become available.
    if (any)
        ApplyClickAvailability(c);
}

} // namespace zelv
