// The help system: asks the help viewer to show a help file's contents or its index, or to let
// go of the file. A viewer already open on the file takes the request; otherwise winhelp.exe is
// started with it. Nothing waits for the viewer.
#pragma once

#include "core/commandrunner.h"
#include "platform/dosfilesystem.h"
#include "platform/helpchannel.h"

namespace zelv {

// helpFile is a DOS path, or a bare name in the program's folder. A quit request with no viewer
// open does nothing. The result says whether the viewer could be reached or started.
ExecResult WinHelp(const CommandRunner &runner, const DosFileSystem &files, const QString &programFolder,
                   const QString &helpFile, HelpCommand command, const QString &owner = thisProcessHelpOwner());

} // namespace zelv
