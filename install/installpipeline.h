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

// Offers to start setup.exe when folder holds one. After a volume set was extracted the view
// first moves to that folder.
void OfferSetup(CommandContext &c, const QString &folder, bool showFolder);

// The end of the zip path: back to the source folder (or, with none, where the tree is), the
// zip kind and pattern, the commands that need a selection disabled, the .nfo copies in the
// program folder removed, nothing selected.
void FinishInstall(CommandContext &c, const std::optional<QString> &sourceFolder);

} // namespace zelv
