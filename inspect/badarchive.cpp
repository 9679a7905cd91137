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
    // A folder under that name is somebody's: it is left as it is, and the archive too.
    if (c.files.isDirectory(bad)) {
        c.dialogs.showError(Error(QStringLiteral("%1 keeps its name: %2 is a folder").arg(dosPath, bad)));
        return false;
    }
    // An older copy that stays makes the rename fail, which the caller sees.
    if (c.files.exists(bad))
        std::ignore = c.files.removeWritable(bad);
    return c.files.rename(dosPath, bad).ok();
}

} // namespace zelv
