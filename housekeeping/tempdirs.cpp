#include "tempdirs.h"

#include "core/helpercommands.h"

namespace zelv {

bool ScanLeftoverTempDirs(TempDirServices s, const QString &drive)
{
    // The listing is taken once: deleting a folder does not restart it.
    const QStringList names =
        s.files.listMatching(drive + QStringLiteral(":\\Zelv0??"), hostfs::EntryKind::Any);
    for (const QString &name : names) {
        const QString path = drive + QStringLiteral(":\\") + name;
        s.window.setListPath(path);
        s.window.setTreePath(s.window.listPath());
        s.window.setListPattern(QStringLiteral("*.*"));
        s.window.setKindPanel(AlignCentred, QStringLiteral("*.*"));

        const MessageAnswer answer = s.window.dialogs().ask(
            {QStringLiteral("Temporary directory"),
             QStringLiteral("Found temporary directory\n\n") + path + QStringLiteral(" . . . . .Delete?"),
             MessageIcon::Question, MessageButtons::YesNoCancel, true});
        s.window.processEvents();

        if (answer == MessageAnswer::Cancel)
            return true;
        if (answer == MessageAnswer::Yes) {
            s.window.setBusyCursor(true);
            const ExecResult run = start(s.runner, helpercommands::removeLeftover(drive, name));
            s.window.setBusyCursor(false);
            if (!run.succeeded())
                reportCommandFailure(s.window.dialogs(), run);
        }
    }
    return false;
}

} // namespace zelv
