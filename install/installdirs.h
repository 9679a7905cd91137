// The temporary install directories in the root of the temporary drive: Zelv001, Zelv002, ...
// with at least three digits, never Zelv000.
#pragma once

#include "platform/dosfilesystem.h"

#include <QString>

namespace zelv {

// "c" and 1 give "c:\Zelv001"; 1000 gives "c:\Zelv1000".
QString InstallDirPath(const QString &tempDrive, int counter);

// The first path from the counter on under which nothing exists, a file or a folder; the
// counter is left at its number and nothing is created. An error when the drive cannot be
// searched (no such drive, or one that is not ready), so that no search goes on for ever.
Result<QString> AllocateInstallDir(const DosFileSystem &files, const QString &tempDrive, int &counter);

} // namespace zelv
