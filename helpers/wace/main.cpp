// wace.pif x -y ARCHIVE DEST and ace.pif x -y ARCHIVE DEST (one program under both names): the
// ACE set that ARCHIVE belongs to (name.ace, name.c00, name.c01, ...), extracted whole into DEST
// by the program's own ACE reader (stored, ACE 1.0 and ACE 2.0, solid or not), every member
// checked against its CRC as it is written.
#include "helpers/common/archiverhelper.h"

int main(int argc, char *argv[])
{
    return zelv::runArchiverHelper(argc, argv, {zelv::ArchiveKind::Ace, QStringLiteral("x -y ARCHIVE DEST")});
}
