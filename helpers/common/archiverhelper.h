// The one run every archiver helper makes (wrar.exe, warj.pif, wace.pif and ace.pif differ only
// in the format they read): read "x [switches] ARCHIVE DEST", find the set from the volume
// given, make sure it is whole (the release's .sfv, and its .par2 files to repair it), refuse
// what may not be made, check the destination drive's free space, extract into a private
// staging folder, check every file against the set's own listing, and only then move the files
// into DEST. Exit codes: 0 the set is in DEST, 1 it could not be (with one line on standard
// error), 2 bad arguments.
#pragma once

#include "archive/archivekind.h"

#include <QString>

namespace zelv {

struct ArchiverHelper {
    ArchiveKind kind;
    // The arguments after the program's name, for the usage line: "x -y ARCHIVE DEST".
    QString arguments;
};

int runArchiverHelper(int argc, char *argv[], const ArchiverHelper &helper);

} // namespace zelv
