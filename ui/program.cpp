#include "program.h"

#include "form1.h"
#include "platform/drivetable.h"
#include "platform/programfolder.h"
#include "widgets/artwork.h"
#include "widgets/programstyle.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

namespace zelv {

int runProgram(int argc, char *argv[], bool exitWhenShown)
{
    QApplication app(argc, argv);
    QApplication::setStyle(new ProgramStyle);
    QApplication::setApplicationName(QStringLiteral("Zelvant32"));
    QApplication::setWindowIcon(artworkIcon(QStringLiteral("app")));

    // The drive table lives beside the program; a first start makes c: the home folder.
    const ProgramFolder where = resolveProgramFolder(executableFolder());
    const QString &programFolder = where.folder;
    const DriveTable drives(programFolder, where.settingsFile);
    // Without a table the start-up refuses, saying the program is on no drive; this says why.
    if (const Result<void> table = drives.ensureExists(QDir::homePath()); !table)
        qWarning("Zelvant32: %s", qPrintable(table.error().text()));

    Form1 window({programFolder, &drives, nullptr, nullptr});
    // Files given by the file manager; a start without any reads no arguments at all.
    QStringList given;
    for (const QString &argument : app.arguments().mid(1)) {
        const QUrl url(argument);
        const QString path =
            argument.startsWith(QLatin1String("file:")) && url.isLocalFile() ? url.toLocalFile() : argument;
        given.append(QFileInfo(path).absoluteFilePath());
    }
    window.setGivenFiles(given);
    // A window that had to close during start-up (drive c: broken) leaves nothing to run.
    if (window.Form_Load() != StartupOutcome::Completed || !window.isVisible())
        return 0;
    if (exitWhenShown) {
        // Ends at the window's first paint, once it has really been drawn.
        struct QuitOnPaint : QObject {
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Paint)
                    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
                return false;
            }
        };
        static QuitOnPaint quitter;
        window.installEventFilter(&quitter);
        window.update();
    }
    return app.exec();
}

} // namespace zelv
