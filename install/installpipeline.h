// The install command: the selected zip archives extracted into a fresh directory, a RAR, ARJ
// or ACE set found among their contents extracted into a second one (with the first archive's
// description files) and the first removed, then the setup program offered. With the rar or
// ace kind, the set of the listed folder is installed straight away instead.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

void InstallFiles(CommandContext &c);

// Files dropped on the window (DOS paths): the list moves to the first one's folder, the zip
// files among them that the list shows are selected, and the install runs on them.
void InstallDroppedFiles(CommandContext &c, const QStringList &dosPaths);

} // namespace zelv
