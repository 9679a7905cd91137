#include "badarchive.h"

#include "platform/dospath.h"

namespace zelv {

bool MarkArchiveBad(CommandContext &c, const QString &dosPath)
{
    const auto letter = dospath::driveLetter(dosPath);
    const auto free = letter ? c.disks.freeBytes(*letter) : std::nullopt;
    if (!free || *free <= 2)
        return false;
    const QString bad = dosPath + QStringLiteral(".bad");
    if (c.files.exists(bad)) {
        c.files.resetAttributes(bad);
        c.files.removeFile(bad);
    }
    return c.files.rename(dosPath, bad);
}

} // namespace zelv
