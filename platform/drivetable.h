// The drive table: one symbolic link per drive letter in the folder "dosdevices" beside the
// program ("c:" -> the user's home folder, "z:" -> "/"). It turns the program's DOS paths into
// host paths and back; names are found whatever their letter case.
#pragma once

#include "error.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <optional>

namespace zelv {

struct Drive {
    QChar letter;      // lower case
    QString target;    // host folder the link points at, as written in the link (made absolute)
    QString canonical; // the same folder with links resolved; empty when it does not exist
    bool ready() const { return !canonical.isEmpty(); }
};

class DriveTable {
public:
    // settingsFile: where the program folder's Zelv32.ini really is, when not in the folder.
    explicit DriveTable(QString programFolder, QString settingsFile = QString());

    const QString &programFolder() const { return m_programFolder; }
    QString devicesFolder() const;

    // Creates the table with "c:" -> homeFolder and "z:" -> "/" when the folder is missing.
    // An existing table is left as the person made it.
    Result<void> ensureExists(const QString &homeFolder) const;

    // The drives of the table, by letter, read from the folder on every call: a person may add
    // a link at any time.
    QList<Drive> drives() const;
    // One drive. The table is read once and kept; it is read again when the folder of links
    // changed (a link added, removed or pointed elsewhere), when a letter is missing, or when its
    // drive is not ready, so that a new drive or a medium put in is seen at once.
    std::optional<Drive> drive(QChar letter) const;

    // DOS path to host path, each component matched case-insensitively where the exact
    // spelling does not exist; components that do not exist keep the case given. Nothing for a
    // path on no drive or on a drive whose folder does not exist.
    std::optional<QString> toHost(QStringView dosPath) const;

    // The DOS path with each existing component spelled as on disk and the drive letter in
    // upper case: c:\games\NEW gives C:\Games\New, and a root gives C:\ with its backslash.
    // Nothing for a path on no drive.
    std::optional<QString> resolveDos(QStringView dosPath) const;

    // Host path to DOS path ("C:\dir\name"), on the drive whose folder is the longest prefix.
    std::optional<QString> toDos(const QString &hostPath) const;

    // The running program's folder (see programfolder.h).
    static QString runningProgramFolder();

private:
    QList<Drive> cachedDrives() const;
    static std::optional<QString> toDos(const QString &lexical, const QString &canonical, const QList<Drive> &all);

    QString m_programFolder;
    QString m_settingsFile;
    mutable QMutex m_mutex;
    mutable std::optional<QList<Drive>> m_cache;
    mutable qint64 m_cacheStamp = 0; // the folder's change time when it was read, in ns
};

} // namespace zelv
