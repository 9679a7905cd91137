// The program-wide values the main window owns for the whole run and the commands share.
#pragma once

#include <QString>
#include <QStringList>

namespace zelv {

struct ProgramState {
    // File names the last operation collected, from index 1 on; index 0 is not used for names.
    // It grows as needed: a folder may hold more files than the classic 5,000.
    QStringList NameList = QStringList(5001);
    int NameCount = 0;

    QString FirstArchivePath;
    QString TempDrive = QStringLiteral("c");
    QString VersionText; // taken from the About window's label during start-up (kVersionText)
    QString SavedDirLine;
    QString HelpFile;       // the help file F1 opens in every window
    QString LastInstallDir; // where the last install that went well put its files (DOS path)

    // Sets entry i, growing the list when needed.
    void setName(int index, const QString &name)
    {
        while (NameList.size() <= index)
            NameList.append(QString());
        NameList[index] = name;
    }
};

} // namespace zelv
