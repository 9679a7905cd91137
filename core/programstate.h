// The program-wide values the main window owns for the whole run and the commands share.
#pragma once

#include "archive/archivekind.h"

#include <QString>
#include <QStringList>
#include <array>

namespace zelv {

// One value for each archive kind, looked up by the kind itself.
template <typename T>
class PerKind {
public:
    T &operator[](ArchiveKind kind) { return m_values[size_t(kind)]; }
    const T &operator[](ArchiveKind kind) const { return m_values[size_t(kind)]; }
    void fill(const T &value) { m_values.fill(value); }

private:
    std::array<T, kAllArchiveKinds.size()> m_values{};
};

struct ProgramState {
    // File names the last operation collected, from index 1 on; index 0 is not used for names.
    // It grows as needed: a folder may hold more files than the classic 5,000.
    QStringList NameList = QStringList(5001);
    int NameCount = 0;

    // Per volume-set kind (rar, arj, ace): whether the last selection found a set, and how
    // many volumes it had. The zip kind has no sets; its values stay unused.
    PerKind<bool> SetFound;
    PerKind<int> VolumeCount;
    // The last volume-set selection's names in install order, from index 1 on.
    QStringList OrderedNames;

    QString FirstArchivePath;
    // The directories of the last install: the first one (the zip contents, or a set installed
    // straight from its folder) and the second one (a volume set found in the zip contents).
    QString InstallDir;
    QString InnerInstallDir;
    QString TempDrive = QStringLiteral("c");
    QString VersionText;  // taken from the About window's label during start-up (kVersionText)
    QString SettingsPath; // DOS path of Zelv32.ini
    QString SavedDirLine;
    QString HelpFile; // the help file F1 opens in every window

    // Sets entry i, growing the list when needed.
    void setName(int index, const QString &name)
    {
        while (NameList.size() <= index)
            NameList.append(QString());
        NameList[index] = name;
    }
};

} // namespace zelv
