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

#include <utility>

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
    // A refused start makes nothing: start-up says why.
    if (where.refusal.isEmpty())
        if (const Result<void> table = drives.ensureExists(QDir::homePath()); !table)
            qWarning("Zelvant32: %s", qPrintable(table.error().text()));

    // Ending at the window's first paint: start-up itself paints it as it shows it, so the paint
    // is watched for from before start-up on, and the program quits as soon as the loop runs.
    struct FirstPaint : QObject {
        bool painted = false;
        bool quitAtPaint = false; // set once the loop is about to run
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && !std::exchange(painted, true) && quitAtPaint)
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            return false;
        }
    } firstPaint;
    Form1 window({programFolder, &drives, nullptr, nullptr, where.refusal});
    // Files given by the file manager; a start without any reads no arguments at all.
    QStringList given;
    for (const QString &argument : app.arguments().mid(1)) {
        const QUrl url(argument);
        const QString path =
            argument.startsWith(QLatin1String("file:")) && url.isLocalFile() ? url.toLocalFile() : argument;
        given.append(QFileInfo(path).absoluteFilePath());
    }
    window.setGivenFiles(given);
    if (exitWhenShown)
        window.installEventFilter(&firstPaint);
    // A window that had to close during start-up (drive c: broken) leaves nothing to run.
    if (window.Form_Load() != StartupOutcome::Completed || !window.isVisible())
        return 0;
    if (exitWhenShown) {
        // quit() does nothing outside the loop: it is asked for once the loop runs.
        if (firstPaint.painted)
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        else
            firstPaint.quitAtPaint = true;
    }
    return app.exec();
}

} // namespace zelv
