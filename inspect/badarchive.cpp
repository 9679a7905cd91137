#include "badarchive.h"

#include "platform/dospath.h"

#include <tuple>

namespace zelv {

bool MarkArchiveBad(CommandContext &c, const QString &dosPath)
{
    const auto letter = dospath::driveLetter(dosPath);
    const auto free = letter ? c.disks.freeBytes(*letter) : std::nullopt;
    if (!free || *free <= 2)
        return false;
    const QString bad = dosPath + QStringLiteral(".bad");
    // An older copy that stays makes the rename fail, which the caller sees.
    if (c.files.exists(bad))
        std::ignore = c.files.removeWritable(bad);
    return c.files.rename(dosPath, bad).ok();
}

} // namespace zelv
