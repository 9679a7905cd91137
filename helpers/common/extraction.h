// What every archiver helper does the same way: read "x [switches] ARCHIVE DEST", and put a
// listed set into DEST through a checked staging folder.
#pragma once

#include "delivery.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace zelv {

// The archive and the destination, as given (DOS paths) and on this host.
struct HelperJob {
    QString archiveDos;
    QString destinationDos;
    QString archive;
    QString destination;
    // The folder of the archive as given, for messages: "c:\Zelv001".
    QString archiveFolderDos() const;
};

// The helper's one line on standard error, "wrar.exe: message", under the name it was started
// by; gives back code for main to return.
int fail(const QString &message, int code = 1);

// Reads the arguments after the program's name; nothing, with the message and the exit code,
// when they are not a job.
std::optional<HelperJob> readJob(const QStringList &arguments, const QString &usage, QString *message, int *code);

// The set's volumes (host paths, first first) checked against the .sfv files of their folder
// that name them; the message of the first bad or missing volume.
std::optional<QString> checkVolumesAgainstSfv(const HelperJob &job, const QStringList &volumes);

struct Extraction {
    QList<ListedMember> members;
    QString firstVolume; // host path
    QString tool;        // the archiver
    std::function<QStringList(const QString &staging)> arguments;
    bool runInStaging = false;                                   // for a tool that takes no destination
    std::function<QString(const QString &member)> damagedVolume; // empty when it cannot be told
    // Instead of a tool: the extraction done by this program into the staging folder. tick()
    // is to be called now and then; when it answers false the work stops. Nothing on success,
    // else the message.
    std::function<std::optional<QString>(const StagingFolder &staging, const std::function<bool()> &tick)> inProcess;
    // Why the tool's files did not match, when the format knows better than the files do.
    std::function<QString()> whyUnverified;
    // Called about every 50 ms while the tool writes into the staging folder; false cancels.
    std::function<bool(const QString &staging)> onProgress;
};

// Refuses unsafe members and a too small drive, runs the tool into a staging folder in DEST,
// checks every file against the listing and delivers them; nothing on success, else the message.
std::optional<QString> extractChecked(const HelperJob &job, const Extraction &e);

} // namespace zelv
