#include "extraction.h"

#include "archive/sfvcheck.h"
#include "platform/drivetable.h"
#include "toolrun.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace zelv {

int fail(const QString &message, int code)
{
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(message));
    return code;
}

QString HelperJob::archiveFolderDos() const
{
    return QFileInfo(QString(archiveDos).replace(u'\\', u'/')).path().replace(u'/', u'\\');
}

std::optional<HelperJob> readJob(const QStringList &arguments, const QString &usage, QString *message, int *code)
{
    // x, then switches (-o+, -y and the like), then the archive and the destination.
    QStringList words = arguments;
    *code = 2;
    *message = usage;
    if (words.isEmpty() || words.takeFirst().compare(QStringLiteral("x"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    while (!words.isEmpty() && words.first().startsWith(u'-'))
        words.removeFirst();
    if (words.size() != 2)
        return std::nullopt;
    HelperJob job{words[0], words[1], QString(), QString()};
    const DriveTable drives(DriveTable::runningProgramFolder());
    const auto host = [&drives](const QString &path) {
        return path.startsWith(u'/') ? std::optional(path) : drives.toHost(path);
    };
    const auto archive = host(job.archiveDos);
    const auto destination = host(job.destinationDos);
    *code = 1;
    if (!archive || !QFileInfo(*archive).isFile()) {
        *message = QStringLiteral("No such archive %1").arg(job.archiveDos);
        return std::nullopt;
    }
    if (!destination) {
        *message = QStringLiteral("%1 is on no drive").arg(job.destinationDos);
        return std::nullopt;
    }
    job.archive = *archive;
    job.destination = *destination;
    return job;
}

std::optional<QString> checkVolumesAgainstSfv(const HelperJob &job, const QStringList &volumes)
{
    if (volumes.isEmpty())
        return std::nullopt;
    // The names the volumes share ("prog.r" for prog.rar, prog.r00, ...; "prog." for one).
    QStringList names;
    for (const QString &v : volumes)
        names << QFileInfo(v).fileName().toLower();
    QString stem = names.size() == 1 ? QFileInfo(volumes.first()).completeBaseName().toLower() + u'.' : names.first();
    for (const QString &n : names)
        while (!n.startsWith(stem))
            stem.chop(1);
    const QString folder = QFileInfo(volumes.first()).absolutePath();
    const auto fault = checkSfv(folder, sfvEntriesFor(folder, stem));
    if (!fault)
        return std::nullopt;
    return describeSfvFault(*fault, job.archiveFolderDos());
}

std::optional<QString> extractChecked(const HelperJob &job, const Extraction &e)
{
    QString why;
    if (refusedMember(e.members, &why))
        return QStringLiteral("%1 in %2").arg(why, QFileInfo(e.firstVolume).fileName());
    const qint64 needed = unpackedSize(e.members);
    const auto free = freeBytesAt(job.destination);
    if (free && *free < needed)
        return QStringLiteral("Not enough free space for %1: %2 bytes needed, %3 free")
            .arg(job.destinationDos)
            .arg(needed)
            .arg(*free);

    StagingFolder staging(job.destination);
    if (!staging.isValid())
        return QStringLiteral("Cannot write to %1").arg(job.destinationDos);
    bool toolSaidCrc = false;
    // Finished files are checked while the tool goes on with the next ones.
    bool cancelled = false;
    const auto tick = [&](const QByteArray & = {}) {
        staging.checkFinished(e.members, 256 << 20);
        cancelled = cancelled || (e.onProgress && !e.onProgress(staging.path()));
        return !cancelled;
    };
    if (e.inProcess) {
        const auto fault = e.inProcess(staging, tick);
        if (cancelled)
            return QStringLiteral("Cancelled; %1 was left as it was").arg(job.destinationDos);
        if (fault)
            return fault;
    } else {
        // A minute, and a second more for every 5 MB of the set.
        const qint64 limit = 60000 + needed / (5 << 20) * 1000;
        const ToolRun run =
            runTool(e.tool, e.arguments(staging.path()), e.runInStaging ? staging.path() : QString(), limit, tick);
        if (!run.started)
            return QStringLiteral("%1 cannot be started; is it installed?").arg(e.tool);
        if (run.cancelled)
            return QStringLiteral("Cancelled; %1 was left as it was").arg(job.destinationDos);
        if (run.timedOut)
            return QStringLiteral("%1 did not finish %2 in time and was stopped").arg(e.tool, job.archiveDos);
        toolSaidCrc = run.output.contains("CRC");
    }
    QString fault;
    if (!staging.verify(e.members, &fault)) {
        if (const QString why = e.whyUnverified ? e.whyUnverified() : QString(); !why.isEmpty())
            return why;
        // A tool may remove a file it found broken: say where the damage is.
        const ListedMember *culprit = nullptr;
        for (const ListedMember &m : e.members)
            if (fault.contains(m.name) && (!culprit || m.name.size() > culprit->name.size()))
                culprit = &m;
        if (culprit) {
            const QString bad = e.damagedVolume ? e.damagedVolume(culprit->name) : QString();
            if (!bad.isEmpty())
                fault = QStringLiteral("CRC error in %1 (%2)").arg(culprit->name, bad);
            else if (toolSaidCrc)
                fault = QStringLiteral("CRC error in %1").arg(culprit->name);
        }
        return fault;
    }
    if (!staging.deliver(e.members, job.destination, &fault))
        return fault;
    return std::nullopt;
}

} // namespace zelv
