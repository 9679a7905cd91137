// Repairing a damaged or incomplete volume set with the .par2 recovery files of its folder,
// through par2 (the reference implementation), before anything is extracted. par2 keeps each
// damaged original as NAME.1 and writes the repaired or missing volumes under their own names.
#pragma once

#include "platform/error.h"

#include <QString>

#include <functional>
#include <optional>

namespace zelv {

// Nothing when the folder holds no .par2 file whose name starts with stem (case-insensitive);
// else the outcome of par2's repair (why not, in a person's words), run with its input closed
// and a time limit that grows with the files' size, its percentage shown in the helper's window.
std::optional<Result<void>> repairWithPar2(const QString &folder, const QString &stem, const QString &setName);

// Runs check; when it names a problem and the folder holds the release's .par2 files, repairs
// the set and checks again. The problem that remains, if any.
Result<void> checkOrRepair(const QString &folder, const QString &stem, const QString &setName,
                           const std::function<Result<void>()> &check);

// The name a release's files share: "prog" for prog.rar, prog.r00 or prog.part01.rar.
QString releaseStem(const QString &volumeName);

} // namespace zelv
