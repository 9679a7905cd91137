// A world of its own for each test: a temporary program folder with a drive table whose drives
// point into temporary folders, and copies of the built helper programs. Nothing outside it is
// touched.
#pragma once

#include "platform/drivetable.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace zelv::test {

class TestWorld {
public:
    // Drive c: is made; more with addDrive().
    TestWorld();

    bool isValid() const { return m_root.isValid(); }
    QString root() const { return m_root.path(); }
    QString programFolder() const { return m_root.path() + QStringLiteral("/program"); }
    const DriveTable &drives() const { return *m_drives; }

    // Adds a drive whose folder is a new folder of the world; returns that host folder.
    QString addDrive(QChar letter);
    // Adds a drive pointing at an existing host folder.
    void linkDrive(QChar letter, const QString &hostFolder);
    QString driveFolder(QChar letter) const;

    // Host path of a relative path on a drive ("c", "dir/x.zip").
    QString onDrive(QChar letter, const QString &relative) const;

    // Writes a file, making its folders; returns its host path.
    QString writeFile(const QString &hostPath, const QByteArray &bytes) const;
    QString makeFolder(const QString &hostPath) const;

    // Copies a built program of the program folder (a helper) into this world's program
    // folder, under another name when given. Returns the copy's host path.
    QString installHelper(const QString &builtName, const QString &asName = QString()) const;
    // The same for a test tool.
    QString installTestTool(const QString &builtName, const QString &asName) const;
    // Starts the real program, copied into this world's program folder, offscreen, as a later
    // start by the file manager would; false when it cannot be copied or started.
    bool startProgram(QProcess &process, const QStringList &arguments, const QString &workingFolder = QString()) const;

    static QString builtProgramFolder();
    static QString builtTestToolFolder();

private:
    QTemporaryDir m_root;
    std::unique_ptr<DriveTable> m_drives;
};

// Every entry below folder, relative and sorted; links are listed, never followed.
QStringList entriesBelow(const QString &folder);

// A built program's dynamic section as readelf prints it; empty when readelf is not at hand.
QByteArray dynamicSection(const QString &builtName);

} // namespace zelv::test
