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
#include "helpers/common/progresswindow.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include <zlib.h>

using namespace zelv;

namespace {

const char kName[] = "warj.pif";

int fail(const QString &message, int code = 1)
{
    fprintf(stderr, "%s: %s\n", kName, qPrintable(message));
    return code;
}

std::optional<quint32> crcOfFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    uLong crc = crc32(0, nullptr, 0);
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(1 << 20);
        if (chunk.isEmpty())
            return std::nullopt;
        crc = crc32(crc, reinterpret_cast<const Bytef *>(chunk.constData()), uInt(chunk.size()));
    }
    return quint32(crc);
}

// Every file of the set already in DEST as the headers describe it (links are not files).
bool alreadyThere(const QList<ListedMember> &members, const QString &destination)
{
    for (const ListedMember &m : members) {
        if (m.directory)
            continue;
        const QString path = destination + u'/' + QString(m.name).replace(u'\\', u'/');
        const QFileInfo info(path);
        if (info.isSymLink() || !info.isFile() || info.size() != m.size || crcOfFile(path) != m.crc)
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

    const ArjSet set = readArjSet(job->archive);
    if (!set.fault.isEmpty())
        return fail(QStringLiteral("Damaged volume set: %1").arg(set.fault));
    if (!set.missingVolume.isEmpty())
        return fail(QStringLiteral("Missing volume %1\\%2")
                        .arg(job->archiveFolderDos(), QFileInfo(set.missingVolume).fileName()));
    QString why;
    if (refusedMember(set.members, &why))
        return fail(QStringLiteral("%1 in %2").arg(why, QFileInfo(set.volumes.first()).fileName()));
    // arj never finishes a name that starts with a dot: refused rather than waited for.
    for (const ListedMember &m : set.members)
        for (const QString &part : QString(m.name).replace(u'\\', u'/').split(u'/'))
            if (part.startsWith(u'.'))
                return fail(QStringLiteral("arj cannot extract %1 (a name starting with a dot) in %2")
                                .arg(m.name, QFileInfo(set.volumes.first()).fileName()));
    if (alreadyThere(set.members, job->destination))
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
    ExtractionProgress progress(QFileInfo(job->archive).fileName(), unpackedSize(e.members));
    e.onProgress = [&progress](const QString &staging) { return progress.update(staging); };
    if (const auto fault = extractChecked(*job, e))
        return fail(*fault);
    return 0;
}
