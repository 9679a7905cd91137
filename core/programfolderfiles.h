// Files that runs leave in the program folder: copies of release notes (*.diz, *.nfo) and the
// error report. Each file is tried at most once, so a copy that cannot be deleted (a
// write-protected folder) never makes these loop.
#pragma once

#include "platform/dosfilesystem.h"

namespace zelv {

// Resets and deletes the first "*.diz" copy listed; false when there was none or it stayed.
bool removeFirstDizCopy(const DosFileSystem &files, const QString &programFolder);
// Resets and deletes every "*.nfo" copy, first listed first; returns how many went.
int removeNfoCopies(const DosFileSystem &files, const QString &programFolder);
// The first DIZ copy, then every NFO copy.
void RemoveNoteCopies(const DosFileSystem &files, const QString &programFolder);
// Deletes errors.txt when it exists.
bool removeErrorReport(const DosFileSystem &files, const QString &programFolder);

} // namespace zelv
