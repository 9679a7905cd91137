// wrar.exe x -o+ -y ARCHIVE DEST: the RAR volume set that ARCHIVE belongs to (RAR 1.5 to 5, old
// or new volume names, whichever volume is named), extracted whole into DEST and checked.
//
// ARCHIVE and DEST are DOS paths (quoted when they hold blanks), turned into host paths with the
// drive table beside this program. The set's own blocks say which volumes it has; lsar lists
// its members with their sizes and CRCs. Before anything is written the set must be whole, every
// member safe to make and the drive roomy enough; unar extracts into a private staging folder in
// DEST, with its input closed and a time limit, and only files that match the listing are moved
// into DEST. unar's own exit code decides nothing. Exit codes: 0 the set is in DEST, 1 it could
// not be, 2 bad arguments.
#include "helpers/common/extraction.h"
#include "helpers/common/par2repair.h"
#include "helpers/common/progress.h"
#include "helpers/common/rarset.h"
#include "helpers/common/toolrun.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>

#include <zlib.h>

using namespace zelv;

namespace {

struct Part {
    qint64 offset = 0; // in the volumes read one after another
    qint64 length = 0;
    quint32 crc = 0;
};

struct Listing {
    QList<ListedMember> members;
    QHash<QString, QList<Part>> storedParts; // members kept without packing, by name
    qsizetype volumesFollowed = 0;           // how many volumes lsar read
    QString fault;
};

Listing listSet(const QString &firstVolume)
{
    Listing l;
    const ToolRun run = runTool(QStringLiteral("lsar"), {QStringLiteral("-j"), firstVolume}, QString(), 60000);
    if (!run.started) {
        l.fault = QStringLiteral("lsar cannot be started; is unar installed?");
        return l;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(run.output);
    const QJsonObject root = doc.object();
    if (run.timedOut || !root.contains(QStringLiteral("lsarContents")) || root.contains(QStringLiteral("lsarError"))) {
        l.fault = QStringLiteral("%1 cannot be read as a RAR archive").arg(QFileInfo(firstVolume).fileName());
        return l;
    }
    const QJsonObject properties = root.value(QStringLiteral("lsarProperties")).toObject();
    // The volumes lsar read (its own "scanning failed" mark also stands on whole one-volume
    // archives); one when it names none.
    l.volumesFollowed = std::max<qsizetype>(1, properties.value(QStringLiteral("XADVolumes")).toArray().size());
    for (const QJsonValue &value : root.value(QStringLiteral("lsarContents")).toArray()) {
        const QJsonObject e = value.toObject();
        ListedMember m;
        m.name = e.value(QStringLiteral("XADFileName")).toString();
        m.size = qint64(e.value(QStringLiteral("XADFileSize")).toDouble());
        m.directory = e.value(QStringLiteral("XADIsDirectory")).toInt() != 0;
        m.link =
            e.value(QStringLiteral("XADIsLink")).toInt() != 0 || e.value(QStringLiteral("XADIsHardLink")).toInt() != 0;
        m.special = e.value(QStringLiteral("XADIsCharacterDevice")).toInt() != 0 ||
                    e.value(QStringLiteral("XADIsBlockDevice")).toInt() != 0 ||
                    e.value(QStringLiteral("XADIsFIFO")).toInt() != 0;
        m.encrypted = e.value(QStringLiteral("XADIsEncrypted")).toInt() != 0;
        for (const char *key : {"RARCRC32", "RAR5CRC32"})
            if (e.contains(QLatin1String(key)))
                m.crc = quint32(e.value(QLatin1String(key)).toDouble());
        if (m.directory)
            m.size = 0;
        // The parts of a stored member, to tell which volume holds damage.
        QJsonArray parts = e.value(QStringLiteral("RAR5InputParts")).toArray();
        if (parts.isEmpty())
            parts = e.value(QStringLiteral("XADSolidObject"))
                        .toArray()
                        .first()
                        .toObject()
                        .value(QStringLiteral("Parts"))
                        .toArray();
        if (e.value(QStringLiteral("XADCompressionName")).toString() == u"None")
            for (const QJsonValue &p : parts)
                l.storedParts[m.name] << Part{qint64(p[QStringLiteral("Offset")].toDouble()),
                                              qint64(p[QStringLiteral("InputLength")].toDouble()),
                                              quint32(p[QStringLiteral("CRC32")].toDouble())};
        l.members << m;
    }
    return l;
}

// The volume that holds a stored part whose bytes do not give its CRC; empty when none can be told.
QString volumeWithBadPart(const QStringList &volumes, const QList<Part> &parts)
{
    for (const Part &part : parts) {
        qint64 start = 0;
        for (const QString &volume : volumes) {
            const qint64 size = QFileInfo(volume).size();
            if (part.offset >= start && part.offset + part.length <= start + size) {
                QFile f(volume);
                if (f.open(QIODevice::ReadOnly) && f.seek(part.offset - start)) {
                    const QByteArray bytes = f.read(part.length);
                    if (crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())) != part.crc)
                        return QFileInfo(volume).fileName();
                }
                break;
            }
            start += size;
        }
    }
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = helperApplication(argc, argv);
    QString message;
    int code = 0;
    const auto job =
        readJob(app->arguments().mid(1), QStringLiteral("usage: wrar.exe x -o+ -y ARCHIVE DEST"), &message, &code);
    if (!job)
        return fail(message, code);

    // A damaged or incomplete set is repaired first when the release brought .par2 files.
    RarSet set;
    const QFileInfo given(job->archive);
    if (const auto problem = checkOrRepair(
            given.absolutePath(), releaseStem(given.fileName()), given.fileName(), [&]() -> std::optional<QString> {
                set = findRarSet(job->archive);
                if (!set.fault.isEmpty())
                    return QStringLiteral("Damaged volume set: %1").arg(set.fault);
                if (!set.missingVolume.isEmpty())
                    return QStringLiteral("Missing volume %1\\%2")
                        .arg(job->archiveFolderDos(), QFileInfo(set.missingVolume).fileName());
                return checkVolumesAgainstSfv(*job, set.volumes);
            }))
        return fail(*problem);
    // unar follows a RAR 5 set only under the new volume names (name.part1.rar, ...): a set
    // named the old way is handed to it through links named the new way.
    QString first = set.volumes.first();
    Listing listing = listSet(first);
    QTemporaryDir links;
    if (listing.fault.isEmpty() && listing.volumesFollowed < set.volumes.size() && links.isValid()) {
        const QString stem = QFileInfo(first).completeBaseName();
        for (int i = 0; i < set.volumes.size(); ++i)
            QFile::link(set.volumes[i],
                        links.filePath(QStringLiteral("%1.part%2.rar").arg(stem).arg(i + 1, 4, 10, QLatin1Char('0'))));
        first = links.filePath(QStringLiteral("%1.part0001.rar").arg(stem));
        listing = listSet(first);
    }
    if (!listing.fault.isEmpty())
        return fail(listing.fault);
    if (listing.volumesFollowed < set.volumes.size())
        return fail(
            QStringLiteral("unar cannot follow the volumes of %1").arg(QFileInfo(set.volumes.first()).fileName()));

    Extraction e;
    e.members = listing.members;
    e.firstVolume = set.volumes.first();
    e.tool = QStringLiteral("unar");
    e.arguments = [&first](const QString &staging) {
        return QStringList{
            QStringLiteral("-o"), staging, QStringLiteral("-f"), QStringLiteral("-D"), QStringLiteral("-nr"),
            QStringLiteral("-q"), first};
    };
    e.damagedVolume = [&set, &listing](const QString &member) {
        return volumeWithBadPart(set.volumes, listing.storedParts.value(member));
    };
    ExtractionProgress progress(QFileInfo(set.volumes.first()).fileName(), unpackedSize(e.members));
    e.onProgress = [&progress](const QString &staging) { return progress.update(staging); };
    if (const auto fault = extractChecked(*job, e))
        return fail(*fault);
    return 0;
}
