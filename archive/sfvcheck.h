// The .sfv files that travel with a release: the CRC-32 of every volume (or zip disk), checked
// before anything is unpacked, so that a damaged or missing volume is named at once instead of
// breaking the extraction halfway.
#pragma once

#include "platform/error.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace zelv {

struct SfvFault {
    enum class Kind { Missing, Mismatch, Unreadable };
    Kind kind = Kind::Missing;
    QString name; // the file's name as it stands in the folder, or as the .sfv spells it
    quint32 actual = 0;
    quint32 expected = 0;
    QString cause; // why an unreadable file could not be read, in the system's words
};

// The CRCs that the .sfv files of folder (host path) give for the files whose names start with
// stem (case-insensitive), by lower-case name. A .sfv that names none of them is ignored;
// lines starting with ';' are comments. listedIn, when given, gets the name of the .sfv that
// gave each entry.
QHash<QString, quint32> sfvEntriesFor(const QString &folder, const QString &stem,
                                      QHash<QString, QString> *listedIn = nullptr);

// Checks every file the entries name in folder, several at a time; the first fault in name
// order, or nothing when all are there and whole (or no .sfv names the files).
std::optional<SfvFault> checkSfv(const QString &folder, const QHash<QString, quint32> &entries);

// "Bad volume c:\Zelv001\prog.r03 (CRC 1a2b3c4d, SFV says 5e6f7a8b)", "Missing volume ...",
// "Cannot read ...: Permission denied".
Error describeSfvFault(const SfvFault &fault, const QString &dosFolder);

} // namespace zelv
