#include "program.h"

#include "form1.h"
#include "platform/drivetable.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

namespace zelv {

int runProgram(int argc, char *argv[], bool exitWhenShown)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvant32"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));

    // The drive table lives beside the program; a first start makes c: the home folder.
    const QString programFolder = DriveTable::runningProgramFolder();
    const DriveTable drives(programFolder);
    drives.ensureExists(QDir::homePath());

    Form1 window({programFolder, &drives, nullptr, nullptr});
    if (window.Form_Load() != StartupOutcome::Completed)
        return 0;
    if (exitWhenShown)
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}

} // namespace zelv
