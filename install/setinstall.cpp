#include "setinstall.h"

#include "archive/archivekind.h"
#include "core/helpercommands.h"
#include "installdirs.h"
#include "platform/dospath.h"
#include "volumesetselection.h"

#include <tuple>

namespace zelv {

QString installSourceFolder(const QString &treeFolder)
{
    return treeFolder.endsWith(u'\\') ? treeFolder.left(2) : treeFolder;
}

void deselectAll(WindowSurface &w)
{
    for (int i = 0; i < w.listCount(); ++i)
        w.setListSelected(i, false);
}

namespace {

// Runs a helper with the main window minimised, and restores the window afterwards.
ExecResult runMinimised(CommandContext &c, const QString &commandLine)
{
    c.window.minimizeWindow();
    const ExecResult result = c.runner.ExecCmd(commandLine);
    c.window.processEvents();
    c.window.restoreWindow();
    c.window.repaintWindow();
    return result;
}

// The end of a set install: back to the source folder (or c:\), the commands that need a
// selection disabled, nothing selected; the kind, its pattern and the delete item stay.
void FinishSetInstall(CommandContext &c, const QString &sourceFolder)
{
    WindowSurface &w = c.window;
    w.setFolderPanelPercent(0);
    if (sourceFolder.isEmpty() || !c.files.exists(sourceFolder) || !w.setTreePath(sourceFolder))
        w.setTreePath(QStringLiteral("c:\\"));
    w.setListPath(w.treePath());
    w.setBusyCursor(false);
    w.viewer().close();
    w.setCommandsEnabled({FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false, Doors::Toolbar);
    w.setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false,
                         Doors::Menu);
    deselectAll(w);
}

} // namespace

void InstallVolumeSet(CommandContext &c, ArchiveKind kind)
{
    const bool rar = kind == ArchiveKind::Rar;
    WindowSurface &w = c.window;
    w.viewer().close();
    w.setBusyCursor(true);
    const QString sourceFolder = installSourceFolder(w.treePath());
    int counter = 1;
    const auto installDir = AllocateInstallDir(c.files, c.state.TempDrive, counter);
    // Nothing to compare with yet: the helper checks the set's unpacked size against the drive.
    const auto free = c.disks.freeBytes(c.state.TempDrive.front());
    if (!installDir || !free || *free < 0) {
        c.dialogs.showError(QStringLiteral("Not enough free space on %1 drive to install").arg(c.state.TempDrive));
        FinishSetInstall(c, sourceFolder);
        return;
    }

    const QStringList &patterns = archiveKindInfo(kind).presencePatterns;
    const bool candidates = std::any_of(patterns.begin(), patterns.end(), [&](const QString &p) {
        return !c.files.listMatching(dospath::join(sourceFolder, p), hostfs::EntryKind::Files).isEmpty();
    });
    if (!candidates) {
        FinishSetInstall(c, sourceFolder);
        return;
    }
    w.setKindPanel(KindPanelAlignment::Centred, w.kindPanelCaption());
    const VolumeSet set = selectVolumeSet(c, kind);
    if (!set.found()) {
        c.dialogs.showError(rar ? QStringLiteral("Thats not a valid .Rar file")
                                : QStringLiteral("Thats not a valid .Ace file"));
        FinishSetInstall(c, sourceFolder);
        return;
    }
    if (const Result<void> made = c.files.makeDirectory(*installDir); !made) {
        c.dialogs.showError(made.error().reworded(QStringLiteral("%1 could not be created").arg(*installDir)));
        FinishSetInstall(c, sourceFolder);
        return;
    }
    w.setKindPanel(KindPanelAlignment::Centred, rar ? QStringLiteral("*.rar") : QStringLiteral("*.ace"));
    w.setFolderPanelLook(FolderPanelLook::Idle);
    // "Installed to:" waits until the set is there.
    w.setFolderPanelCaption(QStringLiteral("Installing to: ") + *installDir);
    const QString &firstVolume = set.volumes.first();
    const HelperCommand command = rar ? helpercommands::rarSetInstall(sourceFolder, firstVolume, *installDir)
                                      : helpercommands::aceSetInstall(sourceFolder, firstVolume, *installDir);
    const ExecResult run = runMinimised(c, command.commandLine);
    if (!run.succeeded()) {
        // The helper leaves its destination as it was: the directory made for it goes again. The
        // panel says so before the box tells why.
        std::ignore = c.files.removeEmptyDirectory(*installDir);
        w.setFolderPanelCaption(QStringLiteral("Install failed"));
        reportCommandFailure(c.dialogs, run);
    } else {
        c.state.LastInstallDir = *installDir;
        w.setFolderPanelCaption(QStringLiteral("Installed to: ") + *installDir);
    }
    FinishSetInstall(c, sourceFolder);
}

} // namespace zelv
