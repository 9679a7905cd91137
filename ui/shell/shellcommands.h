// The main window's own commands, the ones the toolbar, the keys and the file list reach
// without another subsystem: switching the kind, what a click in the list makes available,
// select all, refresh, showing the folder the tree moved to, and the help viewer for F1. They
// work on the window through the command context only, like every other command.
#pragma once

#include "core/commandcontext.h"

namespace zelv {

// A kind button: the list's pattern and the kind panel; a volume-set kind also takes the file
// commands away, since the new list has no usable selection.
void SwitchKind(CommandContext &c, ArchiveKind kind);

// A click in the file list with a button other than the right one: what the current kind
// makes available.
void ApplyClickAvailability(CommandContext &c);

// Ctrl+S: the list read again and every entry selected; install, test and diz available.
void SelectAllFiles(CommandContext &c);

// The refresh command: the list read again, the file commands taken away.
void RefreshFiles(CommandContext &c);

// The tree moved: the list follows it and the folder panel shows the folder. A folder gone
// behind the program's back leaves the list where it was and the tree goes back to it; a drive
// that is not ready sends the tree back to c:\, and the window closes when even that cannot be
// shown. Afterwards the tree, the list and the panel name the same folder.
void ShowChangedFolder(CommandContext &c);
// "Drive c: (/home/ann) cannot be opened: No such file or directory"
QString whyDriveCannotOpen(const DriveTable &drives, QChar letter);

// The help viewer started on the program's help file; a failure to start is reported.
void StartHelpViewer(CommandContext &c);

// The help system on the program's help file: its contents (the Help menu's first command and
// the toolbar's help button) or its index. A viewer that cannot be started is reported.
void ShowHelpContents(CommandContext &c);
void ShowHelpIndex(CommandContext &c);
// F1 in any window: the contents of the help file named in the program's state. False when
// the viewer could not be started, which has been reported.
bool ShowApplicationHelp(CommandContext &c);
// F1 in the main window: the same, and the help viewer started as a program of its own, which
// finds the viewer open and hands over to it. One failure is reported once.
void PressHelpKey(CommandContext &c);
// Shutdown: the help viewer this program asked for lets go of the help file and closes.
void QuitHelp(CommandContext &c);

// The project's own web page and e-mail address, which the Help menu's links open.
inline constexpr char kWebPage[] = "https://zelvant32.example.org/";
inline constexpr char kMailAddress[] = "support@zelvant32.example.org";

// The links: webdial.exe started without waiting; one that cannot start is reported.
void OpenWebPage(CommandContext &c);
void WriteMail(CommandContext &c);
// The folder the last install put its files in, in the desktop's file manager; without one,
// the person is told so.
void OpenInstallFolder(CommandContext &c);

} // namespace zelv
