// Installing a RAR or ACE volume set straight from the listed folder: the set is found and
// selected, a fresh install directory made, and the set extracted into it by its helper while
// the main window is minimised. One operation with the kind as its parameter.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// kind is ArchiveKind::Rar or ArchiveKind::Ace.
void InstallVolumeSet(CommandContext &c, ArchiveKind kind);
inline void InstallRarSet(CommandContext &c) { InstallVolumeSet(c, ArchiveKind::Rar); }
inline void InstallAceSet(CommandContext &c) { InstallVolumeSet(c, ArchiveKind::Ace); }

// The end of a set install: back to the source folder (or c:\), the commands that need a
// selection disabled, nothing selected; the kind, its pattern and the delete item stay.
void FinishSetInstall(CommandContext &c, const QString &sourceFolder);

// The folder tree's folder as the install names its archives' folder: a drive root "c:\" is
// cut to "c:".
QString installSourceFolder(const QString &treeFolder);

// Deselects every entry of the file list.
void deselectAll(WindowSurface &w);

// Runs a helper with the main window minimised, and restores the window afterwards. A helper
// that cannot be started or fails is reported with its command line and its own message.
bool runMinimised(CommandContext &c, const QString &commandLine);

} // namespace zelv
