#include "memorybudget.h"

namespace zelv::budget {

QString memoryText(quint64 bytes)
{
    static const char *const units[] = {"bytes", "KB", "MB", "GB", "TB"};
    int unit = 0;
    quint64 scale = 1;
    while (unit < 4 && bytes >= scale * 1024) {
        scale *= 1024;
        ++unit;
    }
    // Rounded up: a need told as less than it is would look allowed.
    const quint64 whole = (bytes + scale - 1) / scale;
    return QStringLiteral("%1 %2").arg(whole).arg(QLatin1String(units[unit]));
}

QString memoryRefusal(const QString &archiveName, quint64 needed, const QString &what, quint64 allowed)
{
    return QStringLiteral("%1 needs %2 of memory to extract (%3); this program allows %4")
        .arg(archiveName, memoryText(needed), what, memoryText(allowed));
}

} // namespace zelv::budget
