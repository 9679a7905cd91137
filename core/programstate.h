// The program-wide values the main window owns for the whole run and the commands share.
#pragma once

#include <QString>
#include <QStringList>
#include <array>

namespace zelv {

struct ProgramState {
    // File names the last operation collected, from index 1 on; index 0 is not used for names.
    // It grows as needed: a folder may hold more files than the classic 5,000.
    QStringList NameList = QStringList(5001);
    int NameCount = 0;

    // Per volume-set kind (rar, arj, ace): whether the last selection found a set, and how
    // many volumes it had.
    std::array<bool, 3> SetFound{};
    std::array<int, 3> VolumeCount{};

    QString FirstArchivePath;
    QString TempDrive = QStringLiteral("c");
    QString VersionText;
    QString SettingsPath;  // DOS path of Zelv32.ini
    QString SavedDirLine;
    QString HelpFile;      // the help file F1 opens in every window

    // Sets entry i, growing the list when needed.
    void setName(int index, const QString &name)
    {
        while (NameList.size() <= index)
            NameList.append(QString());
        NameList[index] = name;
    }
};

} // namespace zelv
