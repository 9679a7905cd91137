#include "archiverhelper.h"

#include "archive/archiveset.h"
#include "archive/sfvcheck.h"
#include "delivery.h"
#include "par2repair.h"
#include "platform/drivetable.h"
#include "progress.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstdio>

namespace zelv {

namespace {

// The archive and the destination, as given (DOS paths) and on this host.
struct HelperJob {
    QString archiveDos;
    QString destinationDos;
    QString archive;
    QString destination;
    // The folder of the archive as given, for messages: "c:\Zelv001".
    QString archiveFolderDos() const
    {
        return QFileInfo(QString(archiveDos).replace(u'\\', u'/')).path().replace(u'/', u'\\');
    }
};

constexpr int kFailed = 1;
constexpr int kBadArguments = 2;

QString programName() { return QFileInfo(QCoreApplication::applicationFilePath()).fileName(); }

// The helper's one line on standard error, "wrar.exe: message", under the name it was started
// by; gives back code for main to return.
int fail(const QString &message, int code = kFailed)
{
    fprintf(stderr, "%s: %s\n", qPrintable(programName()), qPrintable(message));
    return code;
}

// x, then switches (-o+, -y and the like), then the archive and the destination; nothing when
// the words are not a job.
std::optional<QStringList> jobWords(const QStringList &arguments)
{
    QStringList words = arguments;
    if (words.isEmpty() || words.takeFirst().compare(QStringLiteral("x"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    while (!words.isEmpty() && words.first().startsWith(u'-'))
        words.removeFirst();
    if (words.size() != 2)
        return std::nullopt;
    return words;
}

Result<HelperJob> readJob(const QStringList &words)
{
    HelperJob job{words[0], words[1], QString(), QString()};
    const DriveTable drives(DriveTable::runningProgramFolder());
    const auto host = [&drives](const QString &path) {
        return path.startsWith(u'/') ? std::optional(path) : drives.toHost(path);
    };
    const auto archive = host(job.archiveDos);
    const auto destination = host(job.destinationDos);
    if (!archive || !QFileInfo(*archive).isFile())
        return Error(QStringLiteral("No such archive %1").arg(job.archiveDos));
    if (!destination)
        return Error(QStringLiteral("%1 is on no drive").arg(job.destinationDos));
    job.archive = *archive;
    job.destination = *destination;
    return job;
}

// The set's volumes checked against the .sfv files of their folder that name them; true when
// those name every volume.
Result<bool> checkVolumesAgainstSfv(const HelperJob &job, const QStringList &volumes)
{
    if (volumes.isEmpty())
        return false;
    // The names the volumes share ("prog.r" for prog.rar, prog.r00, ...; "prog." for one).
    QStringList names;
    for (const QString &v : volumes)
        names << QFileInfo(v).fileName().toLower();
    QString stem = names.size() == 1 ? QFileInfo(volumes.first()).completeBaseName().toLower() + u'.' : names.first();
    for (const QString &n : names)
        while (!n.startsWith(stem))
            stem.chop(1);
    const QString folder = QFileInfo(volumes.first()).absolutePath();
    const auto entries = sfvEntriesFor(folder, stem);
    if (const auto fault = checkSfv(folder, entries))
        return describeSfvFault(*fault, job.archiveFolderDos());
    return std::all_of(names.begin(), names.end(), [&](const QString &n) { return entries.contains(n); });
}

struct FoundSet {
    std::unique_ptr<ArchiveSet> set;
    bool alreadyInDestination = false; // nothing more to do than check it
};

// Finds the set from the volume given, whole and matching its .sfv; checked with the .par2
// files that protect it when no .sfv vouched for it, and repaired with them when it is not
// whole.
Result<FoundSet> findWholeSet(const HelperJob &job, ArchiveKind kind)
{
    FoundSet found;
    const QFileInfo given(job.archive);
    const auto whole = [&]() -> Result<bool> {
        found.set = openArchiveSet(kind, job.archive);
        const ArchiveSet &set = *found.set;
        if (!set.missingVolume().isEmpty())
            return Error(QStringLiteral("Missing volume %1\\%2")
                             .arg(job.archiveFolderDos(), QFileInfo(set.missingVolume()).fileName()));
        if (set.damage())
            return *set.damage();
        found.alreadyInDestination = set.alreadyIn(job.destination, job.archive);
        return found.alreadyInDestination ? Result<bool>(true) : checkVolumesAgainstSfv(job, set.volumes());
    };
    const RepairScope scope{
        given.absolutePath(), job.archiveFolderDos(), given.fileName(),
        [kind, name = given.fileName()](const QString &candidate) { return isVolumeName(kind, name, candidate); }};
    if (auto checked = checkOrRepair(scope, whole); !checked)
        return checked.error();
    return found;
}

// The files, folders and links the members make, the folders their names imply included.
qint64 entriesToMake(const QList<SetMember> &members)
{
    QSet<QString> places;
    for (const SetMember &m : members) {
        QString place = QString(m.name).replace(u'\\', u'/');
        while (!place.isEmpty() && !places.contains(place)) {
            places.insert(place);
            place = place.left(std::max<qsizetype>(0, place.lastIndexOf(u'/')));
        }
    }
    return places.size();
}

// Extracts the set into a staging folder in DEST, checks every file against the listing and
// delivers them.
Result<void> extractChecked(const HelperJob &job, const ArchiveSet &set)
{
    const QList<SetMember> &members = set.members();
    const QString firstVolume = QFileInfo(set.volumes().first()).fileName();
    const qint64 needed = unpackedSize(members);
    const auto room = freeRoomAt(job.destination);
    if (room && room->bytes < needed)
        return Error(QStringLiteral("Not enough free space for %1: %2 bytes needed, %3 free")
                         .arg(job.destinationDos)
                         .arg(needed)
                         .arg(room->bytes));
    // Every member and folder is a new entry, and so is the staging folder.
    const qint64 entries = entriesToMake(members) + 1;
    if (room && room->entries && *room->entries < entries)
        return Error(QStringLiteral("Not enough free space for %1: %2 files and folders to make, room for %3")
                         .arg(job.destinationDos)
                         .arg(entries)
                         .arg(*room->entries));

    StagingFolder staging(job.destination);
    if (!staging.isValid())
        return Error(QStringLiteral("Cannot write to %1").arg(job.destinationDos));
    ExtractionProgress progress(firstVolume, needed);
    // Finished files are checked while the extraction goes on with the next ones.
    bool cancelled = false;
    const auto tick = [&]() {
        staging.checkFinished(members, 256 << 20);
        cancelled = cancelled || !progress.update(staging.path());
        return !cancelled;
    };
    const auto extracted = set.extract({staging, tick, job.archiveDos});
    if (cancelled || stopAsked())
        return Error(QStringLiteral("Cancelled; %1 was left as it was").arg(job.destinationDos));
    if (!extracted)
        return extracted.error();
    if (auto verified = staging.verify(members); !verified) {
        // A tool may remove a file it found broken: say where the damage is.
        const QString fault = verified.error().text();
        const SetMember *culprit = nullptr;
        for (const SetMember &m : members)
            if (fault.contains(m.name) && (!culprit || m.name.size() > culprit->name.size()))
                culprit = &m;
        if (culprit) {
            if (const QString bad = set.damagedVolume(culprit->name, extracted->toolReportedCrcError); !bad.isEmpty())
                return Error(QStringLiteral("CRC error in %1 (%2)").arg(culprit->name, bad));
            if (extracted->toolReportedCrcError)
                return Error(QStringLiteral("CRC error in %1").arg(culprit->name));
        }
        return verified;
    }
    if (stopAsked())
        return Error(QStringLiteral("Cancelled; %1 was left as it was").arg(job.destinationDos));
    // A stop asked while the files go in takes them back out.
    auto delivered = staging.deliver(members, job.destination);
    if (!delivered && stopAsked())
        return Error(QStringLiteral("Cancelled; %1 was left as it was").arg(job.destinationDos));
    return delivered;
}

} // namespace

int runArchiverHelper(int argc, char *argv[], const ArchiverHelper &helper)
{
    const auto app = helperApplication(argc, argv);
    const auto words = jobWords(app->arguments().mid(1));
    if (!words)
        return fail(QStringLiteral("usage: %1 %2").arg(programName(), helper.arguments), kBadArguments);
    const auto job = readJob(*words);
    if (!job)
        return fail(job.error().text());
    // A run killed while it delivered left the set in place, so no later run needs a staging
    // folder there: every run clears what killed runs left, in the destination and beside the
    // volumes (where a repair stages), whatever it goes on to do.
    removeDeadStagingFolders(job->destination);
    removeDeadStagingFolders(QFileInfo(job->archive).absolutePath());

    auto found = findWholeSet(*job, helper.kind);
    if (!found)
        return fail(found.error().text());
    ArchiveSet &set = *found->set;
    if (auto listed = set.readMembers(); !listed)
        return fail(listed.error().text());
    // One pass over the members, and what the set's reading would take, before anything runs.
    if (const auto refused = set.firstRefusal())
        return fail(refused->text());
    if (found->alreadyInDestination)
        return 0;
    if (auto extracted = extractChecked(*job, set); !extracted)
        return fail(extracted.error().text());
    return 0;
}

} // namespace zelv
