// Deleting the files selected in the file list, after one question for them all: read-only,
// hidden and system files too, a failure passed over in silence, and never anything but a
// plain file: a link to a file goes as a link, its target stays.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// delete_Click.
void DeleteSelectedFiles(CommandContext &c);

// Removes the plain file at hostPath, made writable first; a link to a file is removed itself.
// A folder, a link to one, a device or nothing at all is left alone. True when something went.
bool removePlainFile(const QString &hostPath);

} // namespace zelv
