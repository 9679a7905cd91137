#include "installdirs.h"

namespace zelv {

QString InstallDirPath(const QString &tempDrive, int counter)
{
    return tempDrive + QStringLiteral(":\\Zelv") + QStringLiteral("%1").arg(counter, 3, 10, QLatin1Char('0'));
}

Result<QString> AllocateInstallDir(const DosFileSystem &files, const QString &tempDrive, int &counter)
{
    const auto drive = tempDrive.isEmpty() ? std::nullopt : files.drives().drive(tempDrive.front());
    if (!drive)
        return Error(QStringLiteral("There is no drive %1:").arg(tempDrive));
    if (!drive->ready())
        return Error(QStringLiteral("Drive %1: is not ready").arg(tempDrive));
    while (files.exists(InstallDirPath(tempDrive, counter)))
        ++counter;
    return InstallDirPath(tempDrive, counter);
}

} // namespace zelv
