// Everything a command of the program works through: the main window's surface, the
// program-wide state, the files, the runner for other programs, the disk information, the zip
// component and the message boxes. The main window builds one for its whole life; a test
// builds one over a scripted surface and a world of its own.
#pragma once

#include "core/commandrunner.h"
#include "core/programstate.h"
#include "core/windowsurface.h"
#include "core/zipcomponent.h"
#include "platform/dialogs.h"
#include "platform/dosfilesystem.h"

namespace zelv {

struct CommandContext {
    WindowSurface &window;
    ProgramState &state;
    const DosFileSystem &files;
    const CommandRunner &runner;
    const DiskInfo &disks;
    ZipComponent &zip;
    Dialogs &dialogs;
    QString programFolder; // DOS path of the program's own folder
};

} // namespace zelv
