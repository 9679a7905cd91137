// Temporary install folders (Zelv001, Zelv002, ...) that earlier installs left in the root of a
// drive: found, shown and offered for deletion one at a time.
#pragma once

#include "core/commandrunner.h"
#include "core/windowsurface.h"
#include "platform/dosfilesystem.h"

namespace zelv {

struct TempDirServices {
    WindowSurface &window;
    const DosFileSystem &files;
    const CommandRunner &runner;
};

// Shows each leftover of the drive's root in the file list and asks whether to delete it; Yes
// runs killd.pif on it. Returns true when the user ended the scan with Cancel. The file list is
// left on the last folder shown; the caller restores the view.
bool ScanLeftoverTempDirs(TempDirServices services, const QString &drive);

} // namespace zelv
