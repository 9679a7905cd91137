// Installing a RAR or ACE volume set straight from the listed folder: the set is found and
// selected, a fresh install directory made, and the set extracted into it by its helper while
// the main window is minimised. One operation with the kind as its parameter.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// kind is ArchiveKind::Rar or ArchiveKind::Ace.
void InstallVolumeSet(CommandContext &c, ArchiveKind kind);

// The folder tree's folder as the install names its archives' folder: a drive root "c:\" is
// cut to "c:".
QString installSourceFolder(const QString &treeFolder);

// Deselects every entry of the file list.
void deselectAll(WindowSurface &w);

} // namespace zelv
