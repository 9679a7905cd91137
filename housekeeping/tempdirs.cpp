#include "tempdirs.h"

#include "core/helpercommands.h"

namespace zelv {

bool ScanLeftoverTempDirs(CommandContext &c, const QString &drive)
{
    // The listing is taken once: deleting a folder does not restart it.
    const QStringList names = c.files.listMatching(drive + QStringLiteral(":\\Zelv0??"), hostfs::EntryKind::Any);
    for (const QString &name : names) {
        const QString path = drive + QStringLiteral(":\\") + name;
        c.window.setListPath(path);
        c.window.setTreePath(c.window.listPath());
        c.window.setListPattern(QStringLiteral("*.*"));
        c.window.setKindPanel(KindPanelAlignment::Centred, QStringLiteral("*.*"));

        const MessageAnswer answer =
            c.dialogs.ask({QStringLiteral("Temporary directory"),
                           QStringLiteral("Found temporary directory\n\n") + path + QStringLiteral(" . . . . .Delete?"),
                           MessageIcon::Question, MessageButtons::YesNoCancel, true});
        c.window.processEvents();

        if (answer == MessageAnswer::Cancel)
            return true;
        if (answer == MessageAnswer::Yes) {
            c.window.setBusyCursor(true);
            const ExecResult run = start(c.runner, helpercommands::removeLeftover(drive, name));
            c.window.setBusyCursor(false);
            if (!run.succeeded())
                reportCommandFailure(c.dialogs, run);
        }
    }
    return false;
}

} // namespace zelv
