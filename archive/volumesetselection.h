// Finding the volumes of a RAR, ARJ or ACE set in the listed folder: each volume is selected in
// the file list as it is found (the list repaints in between), and NameList ends with the set's
// first volume in slot 1, then the other volumes in list order.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// One algorithm for the three kinds. A listed candidate that is not a volume ends the search for
// rar and ace and is passed over for arj; a file that cannot be read ends it for every kind.
void selectVolumeSet(CommandContext &c, ArchiveKind kind);

inline void SelectRarVolumeSet(CommandContext &c) { selectVolumeSet(c, ArchiveKind::Rar); }
inline void SelectArjVolumeSet(CommandContext &c) { selectVolumeSet(c, ArchiveKind::Arj); }
inline void SelectAceVolumeSet(CommandContext &c) { selectVolumeSet(c, ArchiveKind::Ace); }

} // namespace zelv
