// Checking and repairing a volume set with the .par2 recovery files of its folder, through par2
// (the reference implementation), before anything is extracted. The .par2 files are chosen by
// the files they protect, never by their names, and only those that protect nothing but
// volumes of the set are used: a .par2 file that comes with a download could otherwise have
// par2 rewrite any file of the folder. par2 repairs in a private folder beside the volumes; the
// volumes it wrote are moved into place afterwards, each damaged original set aside as NAME.1
// until the repaired set has passed its check.
#pragma once

#include "archive/archivekind.h"
#include "platform/error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

namespace zelv {

// Whether name is the name of a volume of the set that the volume named givenName belongs to:
// prog.rar, prog.r00, prog.s01 or prog.001 for prog.rar; prog.part03.rar for prog.part01.rar;
// prog.arj, prog.a01; prog.ace, prog.c01. Letter case is ignored.
bool isVolumeName(ArchiveKind kind, const QString &givenName, const QString &name);

// The set a repair is for.
struct RepairScope {
    QString folder;    // host path of the set's folder
    QString dosFolder; // the folder as the person knows it, "c:\Zelv001"
    QString setName;   // the volume given, "prog.rar"
    std::function<bool(const QString &name)> isVolume;
};

// The .par2 files of a folder that protect volumes of the set and nothing else, all of one
// recovery set: the one among them that protects the most volumes.
struct Par2Choice {
    QStringList par2Files; // host paths, the smallest (the index file) first
    QStringList protectedNames;
};
std::optional<Par2Choice> choosePar2Files(const RepairScope &scope);

// The time par2 is given for the set: a minute, and a second more for every 2 MB that the
// chosen files take on the disk, at most twelve hours.
qint64 par2TimeLimitMs(qint64 bytesOnDisk);

// What a look at the set with its .par2 files found.
enum class Par2Verdict { Whole, Repaired };

// The volumes par2's output names damaged or missing, among names, in the order it names them.
QStringList reportedVolumes(const QString &par2Output, const QStringList &names);

// What a repair's window is named after: the volumes par2 has named damaged or missing so far,
// else the volume given.
QString repairWindowName(const QStringList &reported, const QString &setName);

// The damaged originals a repair set aside in the release folder (NAME.1), and that folder held
// open; they go once the repaired set has passed its check.
class SetAside {
public:
    SetAside() = default;
    ~SetAside();
    SetAside(const SetAside &) = delete;
    SetAside &operator=(const SetAside &) = delete;

    void hold(int folder);
    void add(const QByteArray &name, quint64 device, quint64 inode);
    // Removes each one that is still the file set aside, never through a link; gives the names
    // of those that cannot be removed, with why.
    QList<std::pair<QString, QString>> remove();

private:
    struct Kept {
        QByteArray name;
        quint64 device = 0;
        quint64 inode = 0;
    };
    int m_folder = -1;
    QList<Kept> m_kept;
};

// Has par2 verify the set with the chosen files alone and repair it when it needs that. A
// folder that cannot be written, or where a link stands under a protected name, is only
// verified; a repaired volume is never put over nor through what took its name while par2
// ran, and that is told as the failure. knownDamaged: the set's own checks already
// found a fault, so that par2 failing to judge the set is a failure too.
// The originals a repair set aside are noted in setAside.
Result<Par2Verdict> verifyOrRepair(const RepairScope &scope, const Par2Choice &choice, bool knownDamaged,
                                   SetAside *setAside = nullptr);

// Runs check, which gives true when the set passed and a .sfv vouched for every volume (or
// there is nothing to extract), false when it passed without one. When it names a problem, or
// passed without a .sfv, and .par2 files protect the set, par2 verifies it, repairs it when it
// can, and the set is checked again; once it passes, the damaged originals go, and any that
// cannot go is told on standard error. The problem that remains, if any.
Result<void> checkOrRepair(const RepairScope &scope, const std::function<Result<bool>()> &check);

} // namespace zelv
