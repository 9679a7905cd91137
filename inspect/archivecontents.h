// The Contents command: what the selected zip archives, or the selected volume set, hold,
// read through the zip engine's own directory reading and the set readers; nothing is
// extracted and nothing written.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// The contents of the selection under the pressed kind; an archive that cannot be read is
// named among the problems, with why.
ArchiveContents ReadArchiveContents(CommandContext &c);

// Reads them and shows them in the Contents window; with nothing selected, says so.
void ShowArchiveContents(CommandContext &c);

} // namespace zelv
