#include "startup.h"

#include "shellcommands.h"

#include "core/programfolderfiles.h"
#include "housekeeping/tempdirs.h"
#include "platform/dospath.h"

namespace zelv {

namespace {

StartupOutcome refuse(CommandContext &c, const QString &text)
{
    c.dialogs.ask({QStringLiteral("Error"), text, MessageIcon::Stop, MessageButtons::Ok, false});
    return StartupOutcome::Refused;
}

void fallBackToDriveC(CommandContext &c)
{
    WindowSurface &w = c.window;
    w.setListPath(QStringLiteral("c:\\"));
    w.setTreePath(w.listPath());
    // Without drive c: the saved folder is kept for the next start.
    if (!w.treePath().isEmpty())
        c.state.SavedDirLine = QStringLiteral("Dir=") + w.treePath();
}

} // namespace

StartupOutcome StartUp(CommandContext &c, StartupWindow &window)
{
    WindowSurface &w = c.window;
    ProgramState &s = c.state;
    if (const QString why = window.programFolderRefusal(); !why.isEmpty())
        return refuse(c, why);
    // Without a DOS name for its own folder the program could name none of its files.
    if (c.programFolder.isEmpty())
        return refuse(c, QStringLiteral("Zelvant32 can NOT be run from a folder that is on no drive"));
    if (c.programFolder.endsWith(u'\\'))
        return refuse(c, QStringLiteral("Zelvant32 can NOT be run from a root directory"));
    if (window.handOverToRunningInstance())
        return StartupOutcome::HandedOver;

    window.showAboutWindow();
    s.HelpFile = QStringLiteral("Zelv32.hlp");
    const QString settingsHost = c.files.hostPath(dospath::join(c.programFolder, u"Zelv32.ini")).value_or(QString());
    // The version is taken from the About window only afterwards: a file written anew now
    // carries none, as it always has.
    const LoadOutcome settings = LoadSettings(settingsHost, window, s.VersionText);
    s.SavedDirLine = settings.savedDirLine;
    // A saved folder that could not be applied (a drive that is not ready) falls back to drive c
    // once; a newly written file has nothing to fall back from.
    bool fellBack = false;
    if (settings.folderFailed) {
        fallBackToDriveC(c);
        fellBack = true;
    }
    if (const QString version = window.aboutWindowVersion(); !version.isNull())
        s.VersionText = version;

    const QString treeFolder = w.treePath();
    if (!treeFolder.isEmpty() && c.files.isDirectory(treeFolder)) {
        if (!w.setListPath(treeFolder) && !settings.newlyWritten && !fellBack)
            fallBackToDriveC(c);
        w.setFolderPanelLook(FolderPanelLook::Folder);
        w.setFolderPanelCaption(w.listPath().toLower());
    }

    window.closeAboutWindow();
    window.showMainWindow();

    RemoveNoteCopies(c.files, c.programFolder);
    removeErrorReport(c.files, c.programFolder);
    ScanLeftoverTempDirs(c, QStringLiteral("c"));

    w.setListPattern(QStringLiteral("*.zip"));
    w.processEvents();
    const QString savedFolder = s.SavedDirLine.mid(4);
    bool shown = false;
    if (w.folderExists(savedFolder).value_or(false)) {
        shown = w.setListPath(savedFolder);
        w.setTreePath(w.listPath());
    }
    // Without drive c: there is nothing to show: the person learns why and how to mend it, as
    // when drive c: goes while the program runs.
    if (!shown && !w.folderExists(QStringLiteral("c:\\")).value_or(false)) {
        // The folder tree may have said it already, finding nothing as the window was shown.
        if (window.mainWindowOpen())
            c.dialogs.showError(whyDriveCannotOpen(c.files.drives(), u'c'));
        return StartupOutcome::Refused;
    }
    if (!shown) {
        w.setTreePath(QStringLiteral("c:\\"));
        w.setListPath(w.treePath());
    }
    w.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.zip"));
    w.setListPattern(QStringLiteral("*.zip"));
    w.setKindPressed(ArchiveKind::Zip, true);
    w.setCommandsEnabled({FileCommand::Diz, FileCommand::Install, FileCommand::Test, FileCommand::Delete}, false,
                         Doors::Menu);
    s.TempDrive = QStringLiteral("c");
    return StartupOutcome::Completed;
}

} // namespace zelv
