// The temporary drive and the leftover scans the person starts: choosing the drive the next
// install uses (then scanning it), and scanning drive c from the menu.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// temp_Click: the chooser, TempDrive, the scan of the chosen drive and the view restored.
void ChooseTempDrive(CommandContext &c);

// dtemp_Click: the scan of drive c and the view restored to the tree's folder with *.zip.
void DeleteTempDirs(CommandContext &c);

// The chooser's status for a selected folder: OK and "1,234,567 Free space" (the locale's
// thousands separator) when its drive has at least 500,000 free bytes, else OK disabled and
// "Not a valid path or not enough free space".
ChooserStatus tempDriveStatus(const DiskInfo &disks, const QString &path);

inline constexpr qint64 kTempDriveMinimumFree = 500000;

} // namespace zelv
