// An archive found broken gets ".bad" appended to its name, so that a person sees it in any
// file list, and an older broken copy of that name makes way for it.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// Renames the archive at dosPath to dosPath + ".bad", after removing an older file of that name
// (its attributes cleared first), but only while its drive reports more than 2 free bytes; a
// folder of that name is left alone and the person told.
// True when the archive now carries the new name.
bool MarkArchiveBad(CommandContext &c, const QString &dosPath);

} // namespace zelv
