// warj.pif x -y VOLUME DEST: the ARJ volume set that VOLUME belongs to, extracted whole into
// DEST and checked against the set's own headers.
//
// VOLUME and DEST are DOS paths (quoted when they hold blanks), turned into host paths with the
// drive table beside this program. The install runs this once for each volume, in order: the
// first run extracts the whole set, files that span volumes included; a later run finds the set
// complete in DEST and only checks it. Before anything is written the set must be whole, every
// member safe to make and the drive roomy enough; arj extracts into a private staging folder in
// DEST, with its input closed and a time limit, and only files that match the headers' sizes and
// CRCs are moved into DEST. Exit codes: 0 the set is in DEST, 1 it could not be, 2 bad arguments.
#include "helpers/common/arjset.h"
#include "helpers/common/extraction.h"
#include "helpers/common/par2repair.h"
#include "helpers/common/progress.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

using namespace zelv;

namespace {

// Every file of the set already in DEST with its size, and those with a part in the given
// volume (every file when the volume is not known) also with their CRC: each per-volume run checks its own volume's
// files, so that the runs of a whole set read every file about once (links are not files).
bool alreadyThere(const ArjSet &set, int volume, const QString &destination)
{
    for (const ListedMember &m : set.members) {
        if (m.directory)
            continue;
        const QString path = destination + u'/' + QString(m.name).replace(u'\\', u'/');
        const QFileInfo info(path);
        if (info.isSymLink() || !info.isFile() || info.size() != m.size)
            return false;
        const QList<ArjPart> parts = set.parts.value(m.name);
        const bool here = volume < 0 || std::any_of(parts.begin(), parts.end(),
                                                    [volume](const ArjPart &p) { return p.volume == volume; });
        if (here && crcOfFile(path) != m.crc)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = helperApplication(argc, argv);
    QString message;
    int code = 0;
    const auto job =
        readJob(app->arguments().mid(1), QStringLiteral("usage: warj.pif x -y VOLUME DEST"), &message, &code);
    if (!job)
        return fail(message, code);

    // A damaged or incomplete set is repaired first when the release brought .par2 files. The
    // .sfv is read by the run that extracts; later runs find the set in DEST.
    ArjSet set;
    bool done = false; // the set is whole in DEST already
    const QFileInfo volume(job->archive);
    if (const auto problem = checkOrRepair(
            volume.absolutePath(), releaseStem(volume.fileName()), volume.fileName(), [&]() -> std::optional<QString> {
                set = readArjSet(job->archive);
                if (!set.fault.isEmpty())
                    return QStringLiteral("Damaged volume set: %1").arg(set.fault);
                if (!set.missingVolume.isEmpty())
                    return QStringLiteral("Missing volume %1\\%2")
                        .arg(job->archiveFolderDos(), QFileInfo(set.missingVolume).fileName());
                const int given = int(set.volumes.indexOf(volume.absoluteFilePath()));
                done = alreadyThere(set, given, job->destination);
                return done ? std::nullopt : checkVolumesAgainstSfv(*job, set.volumes);
            }))
        return fail(*problem);
    QString why;
    if (refusedMember(set.members, &why))
        return fail(QStringLiteral("%1 in %2").arg(why, QFileInfo(set.volumes.first()).fileName()));
    // arj never finishes a name that starts with a dot: refused rather than waited for.
    for (const ListedMember &m : set.members)
        for (const QString &part : QString(m.name).replace(u'\\', u'/').split(u'/'))
            if (part.startsWith(u'.'))
                return fail(QStringLiteral("arj cannot extract %1 (a name starting with a dot) in %2")
                                .arg(m.name, QFileInfo(set.volumes.first()).fileName()));
    if (done)
        return 0;

    Extraction e;
    e.members = set.members;
    e.firstVolume = set.volumes.first();
    e.tool = QStringLiteral("arj");
    e.arguments = [&set](const QString &) {
        return QStringList{QStringLiteral("x"), QStringLiteral("-v"), QStringLiteral("-y"), set.volumes.first()};
    };
    e.runInStaging = true; // arj extracts into its working folder
    e.damagedVolume = [&set](const QString &member) { return volumeWithBadStoredPart(set, member); };
    ExtractionProgress progress(QFileInfo(set.volumes.first()).fileName(), unpackedSize(e.members));
    e.onProgress = [&progress](const QString &staging) { return progress.update(staging); };
    if (const auto fault = extractChecked(*job, e))
        return fail(*fault);
    return 0;
}
