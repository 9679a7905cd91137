// Finding the volumes of a RAR, ARJ or ACE set in the listed folder: each volume is selected in
// the file list as it is found (the list repaints in between), and the set comes back with its
// first volume first, then the other volumes in list order.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

struct VolumeSet {
    bool found() const { return !volumes.isEmpty(); }
    QStringList volumes; // in install order: the first volume, then the rest
};

// One algorithm for the three kinds. A listed candidate that is not a volume ends the search for
// rar and ace and is passed over for arj; a file that cannot be read ends it for every kind.
VolumeSet selectVolumeSet(CommandContext &c, ArchiveKind kind);

} // namespace zelv
