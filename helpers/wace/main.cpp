// wace.pif x -y ARCHIVE DEST and ace.pif x -y ARCHIVE DEST (one program under both names): the
// ACE set that ARCHIVE belongs to (name.ace, name.c00, name.c01, ...), extracted whole into DEST
// by the program's own ACE reader and checked against the set's own headers.
//
// ARCHIVE and DEST are DOS paths (quoted when they hold blanks), turned into host paths with the
// drive table beside this program. The headers give every member's name, size and CRC, and tell
// whether a volume is missing. Before anything is written the set must be whole, every member
// safe to make, none encrypted and the drive roomy enough; the members are unpacked (stored,
// ACE 1.0 and ACE 2.0, solid or not) into a private staging folder in DEST, each checked against
// its CRC as it is written, and only files that match the headers are moved into DEST. Exit
// codes: 0 the set is in DEST, 1 it could not be, 2 bad arguments.
#include "archive/acereader.h"
#include "helpers/common/extraction.h"
#include "helpers/common/par2repair.h"
#include "helpers/common/progress.h"

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace zelv;

namespace {

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// The member's DOS time (local, two-second steps) as the file's modification time.
void setTime(int fd, quint32 dosTime)
{
    const QDate date(int(dosTime >> 25) + 1980, int(dosTime >> 21 & 0x0F), int(dosTime >> 16 & 0x1F));
    const QTime time(int(dosTime >> 11 & 0x1F), int(dosTime >> 5 & 0x3F), int(dosTime & 0x1F) * 2);
    const QDateTime when(date, time);
    if (!when.isValid())
        return;
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(when.toSecsSinceEpoch()), 0}};
    futimens(fd, times);
}

// Every member unpacked into the staging folder in the archive's order.
std::optional<QString> unpackSet(const AceSet &set, const StagingFolder &staging, const std::function<bool()> &tick)
{
    AceReader reader(set);
    for (int i = 0; i < set.members.size(); ++i) {
        const AceMember &m = set.members[i];
        if (!tick())
            return QStringLiteral("Cancelled");
        if (m.directory) {
            if (!staging.makeFolder(m.name))
                return QStringLiteral("cannot make the folder %1: %2")
                    .arg(m.name, QString::fromLocal8Bit(strerror(errno)));
            continue;
        }
        const int fd = staging.createFile(m.name);
        if (fd < 0)
            return QStringLiteral("cannot write %1: %2").arg(m.name, QString::fromLocal8Bit(strerror(errno)));
        QString writeFault;
        qint64 sinceTick = 0;
        const QString fault = reader.unpack(i, [&](const char *data, qsizetype n) {
            if (!writeAll(fd, data, n)) {
                writeFault = QStringLiteral("cannot write %1: %2").arg(m.name, QString::fromLocal8Bit(strerror(errno)));
                return false;
            }
            sinceTick += n;
            if (sinceTick >= (4 << 20)) {
                sinceTick = 0;
                return tick();
            }
            return true;
        });
        setTime(fd, m.dosTime);
        close(fd);
        if (!writeFault.isEmpty())
            return writeFault;
        if (!fault.isEmpty())
            return fault;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = helperApplication(argc, argv);
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QString message;
    int code = 0;
    const auto job =
        readJob(app->arguments().mid(1), QStringLiteral("usage: %1 x -y ARCHIVE DEST").arg(name), &message, &code);
    if (!job)
        return fail(message, code);

    // A damaged or incomplete set is repaired first when the release brought .par2 files.
    AceSet set;
    const QFileInfo given(job->archive);
    if (const auto problem = checkOrRepair(
            given.absolutePath(), releaseStem(given.fileName()), given.fileName(), [&]() -> std::optional<QString> {
                set = readAceSet(job->archive);
                if (!set.missingVolume.isEmpty())
                    return QStringLiteral("Missing volume %1\\%2")
                        .arg(job->archiveFolderDos(), QFileInfo(set.missingVolume).fileName());
                if (!set.fault.isEmpty())
                    return QStringLiteral("Damaged archive: %1").arg(set.fault);
                return checkVolumesAgainstSfv(*job, set.volumes);
            }))
        return fail(*problem);
    const QString archiveName = QFileInfo(set.volumes.first()).fileName();

    QList<ListedMember> members;
    for (const AceMember &m : set.members) {
        if (m.encrypted)
            return fail(QStringLiteral("ACE archive is encrypted: %1").arg(m.name));
        if (m.method > quint8(AceMethod::Blocked))
            return fail(
                QStringLiteral("Unknown packing method %1 for %2 in %3").arg(m.method).arg(m.name, archiveName));
        ListedMember l;
        l.name = m.name;
        l.directory = m.directory;
        l.size = m.directory ? 0 : m.size;
        if (!m.directory)
            l.crc = m.crc;
        members << l;
    }

    ExtractionProgress progress(archiveName, unpackedSize(members));
    Extraction e;
    e.members = members;
    e.firstVolume = set.volumes.first();
    e.inProcess = [&set](const StagingFolder &staging, const std::function<bool()> &tick) {
        return unpackSet(set, staging, tick);
    };
    e.onProgress = [&progress](const QString &staging) { return progress.update(staging); };
    if (const auto fault = extractChecked(*job, e))
        return fail(*fault);
    return 0;
}
