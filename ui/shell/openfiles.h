// Files given to the program by the file manager ("Open with Zelvant32"), at start or handed
// over by a later start.
#pragma once

#include "core/commandcontext.h"

#include <QStringList>

namespace zelv {

// The list goes to the first file's folder and takes the kind of its archive (a release note or
// a check file keeps the kind shown); the given files of that folder that the list shows are
// selected. The first file on no drive is named in a message box. hostFiles are absolute host paths.
void OpenGivenFiles(CommandContext &c, const QStringList &hostFiles);

} // namespace zelv
