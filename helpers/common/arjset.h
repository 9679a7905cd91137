// An ARJ volume set read from its own headers: which volumes make it (name.arj, name.a01,
// name.a02, ...), whether one is missing, and every member whole, with its size and CRC-32
// summed over the parts that span volumes.
#pragma once

#include "delivery.h"

#include <QHash>
#include <QStringList>

namespace zelv {

struct ArjPart {
    int volume = 0;    // index into ArjSet::volumes
    qint64 offset = 0; // where the part's data starts in the volume
    qint64 size = 0;   // bytes of the file it holds
    qint64 packed = 0;
    quint32 crc = 0; // of those bytes
    int method = 0;  // 0: stored
};

struct ArjSet {
    QStringList volumes;                  // host paths, first volume first
    QList<ListedMember> members;          // whole files, in order
    QHash<QString, QList<ArjPart>> parts; // by member name
    QString missingVolume;                // host path of the first volume that is not there
    QString fault;                        // a damaged header, said in a few words
};

// The set that the volume at hostPath belongs to, whichever of its volumes that is.
ArjSet readArjSet(const QString &hostPath);

// The volume of a part whose stored bytes do not give its CRC, for a message; empty when none
// can be told (compressed parts are checked by the tool alone).
QString volumeWithBadStoredPart(const ArjSet &set, const QString &member);

} // namespace zelv
