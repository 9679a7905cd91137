// wrar.exe x -o+ -y ARCHIVE DEST: the RAR volume set that ARCHIVE belongs to (RAR 1.5 to 5, old
// or new volume names, whichever volume is named), extracted whole into DEST and checked.
// ARCHIVE and DEST are DOS paths (quoted when they hold blanks), turned into host paths with
// the drive table beside this program. unar's own exit code decides nothing.
#include "helpers/common/archiverhelper.h"

int main(int argc, char *argv[])
{
    return zelv::runArchiverHelper(argc, argv, {zelv::ArchiveKind::Rar, QStringLiteral("x -o+ -y ARCHIVE DEST")});
}
