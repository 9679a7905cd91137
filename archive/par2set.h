// What a .par2 file says it protects: the file names in its File Description packets (and in
// Unicode file name packets), each under the recovery set it belongs to. The file comes with
// a download and is read as hostile: every packet whose length does not fit the file or whose
// MD5 does not match is passed over, and every packet header anywhere in the file is looked
// at, so that no description a repair tool could take from the file is missed.
#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace zelv {

struct Par2Description {
    QByteArray setId; // the recovery set's 16 bytes
    // The protected file's name; empty when it cannot be read as the name of a file (not
    // UTF-8, bytes after its end, too long).
    QString name;
};

struct Par2Contents {
    QList<Par2Description> files;
    // Read to its end. False when the reading was stopped, or when the file holds so many
    // packet headers that checking them would cost far more than reading it.
    bool whole = false;
};

// The descriptions of the .par2 file at hostPath: a plain file, never read through a link.
// keepGoing, when given, sees each description as it is found; false stops the reading.
Result<Par2Contents> readPar2Descriptions(const QString &hostPath,
                                          const std::function<bool(const Par2Description &)> &keepGoing = {});

} // namespace zelv
