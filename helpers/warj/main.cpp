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
#include "helpers/common/delivery.h"
#include "helpers/common/toolrun.h"
#include "platform/drivetable.h"

#include <QCoreApplication>
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
    QCoreApplication app(argc, argv);
    // x, then switches (-y and the like), then the volume and the destination.
    QStringList words = app.arguments().mid(1);
    if (words.isEmpty() || words.takeFirst().compare(QStringLiteral("x"), Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("usage: warj.pif x -y VOLUME DEST"), 2);
    while (!words.isEmpty() && words.first().startsWith(u'-'))
        words.removeFirst();
    if (words.size() != 2)
        return fail(QStringLiteral("usage: warj.pif x -y VOLUME DEST"), 2);
    const QString volumeDos = words[0], destinationDos = words[1];

    const DriveTable drives(DriveTable::runningProgramFolder());
    const auto volume = volumeDos.startsWith(u'/') ? std::optional(volumeDos) : drives.toHost(volumeDos);
    const auto destination =
        destinationDos.startsWith(u'/') ? std::optional(destinationDos) : drives.toHost(destinationDos);
    if (!volume || !QFileInfo(*volume).isFile())
        return fail(QStringLiteral("No such volume %1").arg(volumeDos));
    if (!destination)
        return fail(QStringLiteral("%1 is on no drive").arg(destinationDos));

    const ArjSet set = readArjSet(*volume);
    const QString folderDos = QFileInfo(QString(volumeDos).replace(u'\\', u'/')).path().replace(u'/', u'\\');
    if (!set.fault.isEmpty())
        return fail(QStringLiteral("Damaged volume set: %1").arg(set.fault));
    if (!set.missingVolume.isEmpty())
        return fail(QStringLiteral("Missing volume %1\\%2").arg(folderDos, QFileInfo(set.missingVolume).fileName()));
    QString why;
    if (refusedMember(set.members, &why))
        return fail(QStringLiteral("%1 in %2").arg(why, QFileInfo(set.volumes.first()).fileName()));
    // arj never finishes a name that starts with a dot: refused rather than waited for.
    for (const ListedMember &m : set.members)
        for (const QString &part : QString(m.name).replace(u'\\', u'/').split(u'/'))
            if (part.startsWith(u'.'))
                return fail(QStringLiteral("arj cannot extract %1 (a name starting with a dot) in %2")
                                .arg(m.name, QFileInfo(set.volumes.first()).fileName()));

    if (alreadyThere(set.members, *destination))
        return 0;
    const qint64 needed = unpackedSize(set.members);
    const auto free = freeBytesAt(*destination);
    if (free && *free < needed)
        return fail(QStringLiteral("Not enough free space for %1: %2 bytes needed, %3 free")
                        .arg(destinationDos)
                        .arg(needed)
                        .arg(*free));

    StagingFolder staging(*destination);
    if (!staging.isValid())
        return fail(QStringLiteral("Cannot write to %1").arg(destinationDos));
    // A minute, and a second more for every 5 MB of the set.
    const qint64 limit = 60000 + needed / (5 << 20) * 1000;
    const ToolRun run = runTool(QStringLiteral("arj"),
                                {QStringLiteral("x"), QStringLiteral("-v"), QStringLiteral("-y"), set.volumes.first()},
                                staging.path(), limit);
    if (!run.started)
        return fail(QStringLiteral("arj cannot be started; is it installed?"));
    if (run.timedOut)
        return fail(QStringLiteral("arj did not finish %1 in time and was stopped").arg(volumeDos));
    QString fault;
    if (!staging.verify(set.members, &fault)) {
        // A file arj found broken it removes again: say where the damage is.
        const ListedMember *culprit = nullptr;
        for (const ListedMember &m : set.members)
            if (fault.contains(m.name) && (!culprit || m.name.size() > culprit->name.size()))
                culprit = &m;
        if (culprit) {
            const QString bad = volumeWithBadStoredPart(set, culprit->name);
            if (!bad.isEmpty())
                fault = QStringLiteral("CRC error in %1 (%2)").arg(culprit->name, bad);
            else if (run.output.contains("CRC"))
                fault = QStringLiteral("CRC error in %1").arg(culprit->name);
        }
        return fail(fault);
    }
    if (!staging.deliver(set.members, *destination, &fault))
        return fail(fault);
    return 0;
}
