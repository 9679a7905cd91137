// Temporary install folders (Zelv001, Zelv002, ...) that earlier installs left in the root of a
// drive: found, shown and offered for deletion one at a time.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// Shows each leftover of the drive's root in the file list and asks whether to delete it; Yes
// runs killd.pif on it. Returns true when the user ended the scan with Cancel. The file list is
// left on the last folder shown; the caller restores the view.
bool ScanLeftoverTempDirs(CommandContext &c, const QString &drive);

} // namespace zelv
