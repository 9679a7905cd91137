// warj.pif x -y VOLUME DEST: the ARJ volume set that VOLUME belongs to, extracted whole into
// DEST and checked against the set's own headers. The install runs this once for each volume,
// in order: the first run extracts the whole set, files that span volumes included; a later run
// finds the set complete in DEST and only checks it.
#include "helpers/common/archiverhelper.h"

int main(int argc, char *argv[])
{
    return zelv::runArchiverHelper(argc, argv, {zelv::ArchiveKind::Arj, QStringLiteral("x -y VOLUME DEST")});
}
