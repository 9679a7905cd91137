// The release notes that travel with a release: the description file_id.diz of the first
// selected zip archive in the text viewer, and its .nfo files in the note viewer, one per click.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// Three line breaks and four lines of block letters in code page 437 line art, each line 9
// blanks and 28 characters; shown where there is no description.
QString DizBanner();

// Extracts the first selected archive's *.diz and *.nfo members into the program folder and
// shows its file_id.diz. Records the selection in NameList and NameCount and the archive's
// full path in FirstArchivePath. A broken archive gets its ".bad" name and its error line in
// the viewer.
void ShowArchiveDiz(CommandContext &c);

// Opens the next extracted .nfo file in the note viewer and removes it from the program folder
// once the viewer has read it; the "nfo" command stays available while more are left.
void ShowNextNfo(CommandContext &c);

// How long a viewer may take to read a note before it is removed all the same.
inline constexpr int kNoteReadTimeoutMs = 10000;

} // namespace zelv
