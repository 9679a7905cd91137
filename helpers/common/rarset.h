// A RAR volume set found from any one of its volumes: old names (name.rar, name.r00, name.r01,
// ..., name.s00) or new ones (name.part1.rar, name.part01.rar, ...), RAR 1.5 to 4 and RAR 5.
// Each volume's own blocks say whether another volume follows, so a set that lacks its last
// volume is told as surely as one that lacks a middle one.
#pragma once

#include <QString>
#include <QStringList>

namespace zelv {

struct RarSet {
    QStringList volumes;   // host paths, first volume first
    QString missingVolume; // host path of the first volume that is not there
    QString fault;         // a volume that is not RAR or whose blocks are damaged
};

RarSet findRarSet(const QString &hostPath);

} // namespace zelv
