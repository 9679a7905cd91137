// Every command line the program starts, one builder each, so that no caller puts a command
// line together by hand. Paths are DOS paths; a part holding a blank is quoted so that it
// reaches the program as one word.
#pragma once

#include "commandrunner.h"
#include "platform/helpchannel.h"

#include <QString>

namespace zelv {

struct HelperCommand {
    QString commandLine;
    StartMode mode = StartMode::Waiting;
    WindowHint hint = WindowHint::Normal; // for detached starts
};

// Starts a command in its own mode: waiting through ExecCmd, or detached with its hint.
ExecResult start(const CommandRunner &runner, const HelperCommand &command);

namespace helpercommands {

// wrar.exe x -o+ -y SOURCEFOLDER\FIRSTVOLUME INSTALLDIR: a RAR set from the current folder.
HelperCommand rarSetInstall(const QString &sourceFolder, const QString &firstVolume, const QString &installDir);
// wrar.exe x -o+ -y INSTALLDIR\FIRSTVOLUME INNERINSTALLDIR: a RAR set found inside zip files.
HelperCommand innerRarExtract(const QString &installDir, const QString &firstVolume, const QString &innerInstallDir);
// warj.pif x -y INSTALLDIR\VOLUME INNERINSTALLDIR: one ARJ volume.
HelperCommand innerArjExtract(const QString &installDir, const QString &volume, const QString &innerInstallDir);
// wace.pif x -y INSTALLDIR\FIRSTVOLUME INNERINSTALLDIR: an ACE set found inside zip files.
HelperCommand innerAceExtract(const QString &installDir, const QString &firstVolume, const QString &innerInstallDir);
// ace.pif x -y SOURCEFOLDER\FIRSTVOLUME INSTALLDIR: an ACE set from the current folder.
HelperCommand aceSetInstall(const QString &sourceFolder, const QString &firstVolume, const QString &installDir);

// killd.pif D:\NAME: a leftover temporary directory in the root of drive D.
HelperCommand removeLeftover(const QString &drive, const QString &directoryName);
// killd.pif INSTALLDIR
HelperCommand removeInstallDir(const QString &installDir);

// notepad.exe PROGRAMFOLDER\errors.txt, shown with the focus.
HelperCommand showErrorReport(const QString &programFolder);
// notepad.exe PROGRAMFOLDER\NFONAME, shown without taking the focus.
HelperCommand showNfo(const QString &programFolder, const QString &nfoName);
// winhelp.exe PROGRAMFOLDER\Zelv32.hlp, shown without taking the focus.
HelperCommand showHelp(const QString &programFolder);
// The program's help file: PROGRAMFOLDER\Zelv32.HLP, with one backslash between.
QString helpFilePath(const QString &programFolder);
// winhelp.exe [-index] -owner OWNER HELPFILE: the help system's own start of the viewer, for a
// request that no open viewer took.
HelperCommand helpViewerFor(const QString &helpFile, HelpCommand command, const QString &owner);
// webdial.exe $URL
HelperCommand openWebPage(const QString &url);
// webdial.exe >mailto:ADDRESS
HelperCommand newMail(const QString &address);
// webdial.exe #FOLDER: a folder (DOS path) in the desktop's file manager.
HelperCommand openFolder(const QString &dosFolder);
// FINALINSTALLDIR\setup.exe, started hidden; its own windows show as it opens them.
HelperCommand runSetup(const QString &finalInstallDir);

} // namespace helpercommands
} // namespace zelv
