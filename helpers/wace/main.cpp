// wace.pif x -y ARCHIVE DEST and ace.pif x -y ARCHIVE DEST (one program under both names): the
// ACE set that ARCHIVE belongs to (name.ace, name.c00, name.c01, ...), extracted whole into DEST
// and checked against the set's own headers.
//
// ARCHIVE and DEST are DOS paths (quoted when they hold blanks), turned into host paths with the
// drive table beside this program. The headers are read here: every member's name, size and CRC,
// and whether a volume is missing. Before anything is written the set must be whole, every member
// safe to make, none encrypted and the drive roomy enough; unace, which takes no destination,
// extracts in a private staging folder in DEST with its input closed and a time limit, and only
// files that match the headers are moved into DEST. unace reads ACE 1.0 only: an archive packed
// with ACE 2.0 is refused by name, never reported as extracted. Exit codes: 0 the set is in DEST,
// 1 it could not be, 2 bad arguments.
#include "archive/aceset.h"
#include "helpers/common/extraction.h"
#include "helpers/common/progress.h"

#include <QFileInfo>

#include <cstdio>

using namespace zelv;

namespace {

QString g_name;

int fail(const QString &message, int code = 1)
{
    fprintf(stderr, "%s: %s\n", qPrintable(g_name), qPrintable(message));
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = helperApplication(argc, argv);
    g_name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QString message;
    int code = 0;
    const auto job =
        readJob(app->arguments().mid(1), QStringLiteral("usage: %1 x -y ARCHIVE DEST").arg(g_name), &message, &code);
    if (!job)
        return fail(message, code);

    const AceSet set = readAceSet(job->archive);
    if (!set.missingVolume.isEmpty())
        return fail(QStringLiteral("Missing volume %1\\%2")
                        .arg(job->archiveFolderDos(), QFileInfo(set.missingVolume).fileName()));
    if (!set.fault.isEmpty())
        return fail(QStringLiteral("Damaged archive: %1").arg(set.fault));
    const QString archiveName = QFileInfo(set.volumes.first()).fileName();

    QList<ListedMember> members;
    bool packedByAce2 = false;
    for (const AceMember &m : set.members) {
        if (m.encrypted)
            return fail(QStringLiteral("ACE archive is encrypted: %1").arg(m.name));
        if (m.method > quint8(AceMethod::Blocked))
            return fail(
                QStringLiteral("Unknown packing method %1 for %2 in %3").arg(m.method).arg(m.name, archiveName));
        packedByAce2 = packedByAce2 || m.method == quint8(AceMethod::Blocked);
        ListedMember l;
        l.name = m.name;
        l.directory = m.directory;
        l.size = m.directory ? 0 : m.size;
        if (!m.directory)
            l.crc = m.crc;
        members << l;
    }
    const QString needsAce2 = QStringLiteral("ACE 2.0 archives cannot be read: %1").arg(archiveName);
    if (packedByAce2)
        return fail(needsAce2);

    ExtractionProgress progress(archiveName, unpackedSize(members));
    Extraction e;
    e.members = members;
    e.firstVolume = set.volumes.first();
    e.tool = QStringLiteral("unace");
    e.arguments = [&set](const QString &) {
        return QStringList{QStringLiteral("x"), QStringLiteral("-y"), set.volumes.first()};
    };
    e.runInStaging = true; // unace extracts into its working folder
    e.onProgress = [&progress](const QString &staging) { return progress.update(staging); };
    // unace reads nothing of an archive that ACE 2.0 made or needs, and says nothing of it either.
    e.whyUnverified = [&] { return set.versionNeeded >= 20 || set.versionMadeBy >= 20 ? needsAce2 : QString(); };
    if (const auto fault = extractChecked(*job, e))
        return fail(*fault);
    return 0;
}
