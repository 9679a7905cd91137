// Where the program keeps what it has beside itself. Run from a folder the user can write (the
// build folder, a copy of its own), that folder, exactly as always. Installed in a read-only
// folder, a folder of the user's own stands in for it: links to every installed file, the drive
// table linked from the user's config folder, room for what the program writes beside itself;
// the settings file, though named beside the program, is kept in the config folder.
#pragma once

#include "error.h"

#include <QString>

namespace zelv {

struct ProgramFolder {
    QString folder;       // the host folder the program sees as its own
    QString settingsFile; // where its Zelv32.ini really is; empty when in the folder itself
    QString refusal = {}; // why the program cannot run from it; empty when it can
};

// The user's folders, from XDG_DATA_HOME, XDG_CONFIG_HOME (absolute paths only) and HOME.
struct UserFolders {
    QString home;
    QString data;   // ~/.local/share by default
    QString config; // ~/.config by default
    static UserFolders fromEnvironment();
};

// Writable by this user, and not a folder whose write bits are all off (which even root
// treats as installed and read-only here).
bool isWritableFolder(const QString &folder);

// Makes (or mends) the user's stand-in for the installed program folder: data/zelvant32 with a
// link to each installed file and "dosdevices" linked to config/zelvant32/dosdevices (made with
// c: at home and z: at / when missing). A link that points elsewhere is put right; a folder in
// the way of a link is an error, and so is either folder (or the drive table) when another user
// owns it or can write in it, through a link too: nothing is linked or written in it then.
// Folders made here are the user's alone.
Result<ProgramFolder> prepareUserProgramFolder(const QString &installedFolder, const UserFolders &user);

// The program folder for an executable in executableFolder: that folder when writable,
// otherwise the user's stand-in (or, when it cannot be made, the folder itself with the reason as
// its refusal).
ProgramFolder resolveProgramFolder(const QString &executableFolder);

// The folder that holds the running executable, links resolved.
QString executableFolder();

} // namespace zelv
