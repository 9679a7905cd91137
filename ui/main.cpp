#include "form1.h"
#include "platform/drivetable.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvant32"));

    // The drive table lives beside the program; a first start makes c: the home folder.
    zelv::DriveTable drives(zelv::DriveTable::runningProgramFolder());
    drives.ensureExists(QDir::homePath());

    zelv::Form1 window;
    window.show();
    return app.exec();
}
