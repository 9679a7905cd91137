#include "shellcommands.h"

#include "core/helpercommands.h"
#include "core/helpsystem.h"
#include "platform/hostfs.h"

namespace zelv {

void SwitchKind(CommandContext &c, ArchiveKind kind)
{
    const ArchiveKindInfo &info = archiveKindInfo(kind);
    c.window.setListPattern(info.listingFilter);
    c.window.setKindPanel(KindPanelAlignment::Centred, info.label);
    if (kind == ArchiveKind::Zip)
        return;
    c.window.setCommandsEnabled({FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test}, false,
                                Doors::Toolbar);
    c.window.setCommandsEnabled({FileCommand::Test, FileCommand::Diz, FileCommand::Nfo, FileCommand::Install}, false,
                                Doors::Menu);
}

void ApplyClickAvailability(CommandContext &c)
{
    switch (c.window.pressedKind().value_or(ArchiveKind::Zip)) {
    case ArchiveKind::Rar:
    case ArchiveKind::Ace:
        // A volume set installs whole; its volumes have no description to show or test.
        c.window.setCommandsEnabled({FileCommand::Install}, true, Doors::Menu);
        c.window.setCommandsEnabled({FileCommand::Diz, FileCommand::Test}, false, Doors::Toolbar);
        c.window.setCommandsEnabled({FileCommand::Install}, true, Doors::Toolbar);
        break;
    case ArchiveKind::Arj:
        break;
    case ArchiveKind::Zip:
        c.window.setCommandsEnabled({FileCommand::Install, FileCommand::Test, FileCommand::Diz}, true, Doors::Toolbar);
        c.window.setCommandsEnabled({FileCommand::Diz, FileCommand::Install, FileCommand::Test, FileCommand::Delete},
                                    true, Doors::Menu);
        break;
    }
}

void SelectAllFiles(CommandContext &c)
{
    c.window.refreshList();
    c.window.processEvents();
    for (int i = 0; i < c.window.listCount(); ++i)
        c.window.setListSelected(i, true);
    c.window.setCommandsEnabled({FileCommand::Install, FileCommand::Test, FileCommand::Diz}, true, Doors::Toolbar);
    c.window.setCommandsEnabled({FileCommand::Diz, FileCommand::Install, FileCommand::Test}, true, Doors::Menu);
}

void RefreshFiles(CommandContext &c)
{
    c.window.refreshList();
    c.window.setCommandsEnabled(
        {FileCommand::Diz, FileCommand::Nfo, FileCommand::Install, FileCommand::Test, FileCommand::Delete}, false);
}

void ShowChangedFolder(CommandContext &c)
{
    WindowSurface &w = c.window;
    const auto showFolder = [&w] {
        w.setFolderPanelLook(FolderPanelLook::Folder);
        w.setFolderPanelCaption(w.listPath().toLower());
    };
    const QString folder = w.treePath();
    if (const QString problem = w.treePathProblem(); !problem.isEmpty()) {
        // A folder no DOS path can name: the list stays, the tree goes back to it, and the
        // panel says why nothing else happened.
        if (w.setTreePath(w.listPath())) {
            w.setFolderPanelLook(FolderPanelLook::Folder);
            w.setFolderPanelCaption(problem);
            return;
        }
    }
    const std::optional<bool> exists = w.folderExists(folder);
    if (exists == false) {
        // Gone behind the program's back: the list stays where it was and the tree, read
        // again on the way, goes back to it.
        if (w.setTreePath(w.listPath()))
            return;
    } else if (exists && w.setListPath(folder)) {
        showFolder();
        return;
    }
    // A drive that is not ready, or a folder that cannot be opened: back to c:\.
    w.setTreePath(QStringLiteral("c:\\"));
    const QString root = w.treePath();
    if (w.folderExists(root).value_or(false) && w.setListPath(root)) {
        showFolder();
        return;
    }
    // Without drive c: there is nothing left to show; the person learns why before it closes.
    c.dialogs.showError(whyDriveCannotOpen(c.files.drives(), u'c'));
    w.closeWindow();
}

QString whyDriveCannotOpen(const DriveTable &drives, QChar letter)
{
    const std::optional<Drive> drive = drives.drive(letter);
    if (!drive)
        return QStringLiteral("Drive %1: cannot be opened: it is not in the drive table (%2)")
            .arg(letter, drives.devicesFolder());
    const Result<void> opens = hostfs::canOpenFolder(drive->target);
    const QString why = opens ? QStringLiteral("its folder cannot be listed") : opens.error().cause();
    // What to mend: the drive's link, pointed at a folder that exists.
    return QStringLiteral("Drive %1: (%2) cannot be opened: %3.\nPoint the link %4 at a folder that exists.")
        .arg(letter, drive->target, why, drives.devicesFolder() + u'/' + letter + u':');
}

void StartHelpViewer(CommandContext &c)
{
    const ExecResult run = start(c.runner, helpercommands::showHelp(c.programFolder));
    if (!run.started)
        reportCommandFailure(c.dialogs, run);
}

namespace {

bool askHelpSystem(CommandContext &c, const QString &helpFile, HelpCommand command)
{
    const ExecResult run = WinHelp(c.runner, c.files, c.programFolder, helpFile, command);
    if (!run.started)
        reportCommandFailure(c.dialogs, run);
    return run.started;
}

} // namespace

void ShowHelpContents(CommandContext &c)
{
    askHelpSystem(c, helpercommands::helpFilePath(c.programFolder), HelpCommand::Contents);
}

void ShowHelpIndex(CommandContext &c)
{
    askHelpSystem(c, helpercommands::helpFilePath(c.programFolder), HelpCommand::Finder);
}

bool ShowApplicationHelp(CommandContext &c)
{
    return c.state.HelpFile.isEmpty() || askHelpSystem(c, c.state.HelpFile, HelpCommand::Contents);
}

void PressHelpKey(CommandContext &c)
{
    if (ShowApplicationHelp(c))
        StartHelpViewer(c);
}

void QuitHelp(CommandContext &c)
{
    WinHelp(c.runner, c.files, c.programFolder, helpercommands::helpFilePath(c.programFolder), HelpCommand::Quit);
}

namespace {

void startLink(CommandContext &c, const HelperCommand &command)
{
    const ExecResult run = start(c.runner, command);
    if (!run.started)
        reportCommandFailure(c.dialogs, run);
}

} // namespace

void OpenWebPage(CommandContext &c) { startLink(c, helpercommands::openWebPage(QString::fromLatin1(kWebPage))); }

void WriteMail(CommandContext &c) { startLink(c, helpercommands::newMail(QString::fromLatin1(kMailAddress))); }

void OpenInstallFolder(CommandContext &c)
{
    const QString folder = c.state.LastInstallDir;
    if (folder.isEmpty())
        c.dialogs.showError(QStringLiteral("No install has put files anywhere yet"));
    else if (!c.files.isDirectory(folder))
        c.dialogs.showError(QStringLiteral("%1 is no longer there").arg(folder));
    else
        startLink(c, helpercommands::openFolder(folder));
}

} // namespace zelv
