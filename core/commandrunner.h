// Starting other programs from a command line: ExecCmd starts one and waits until it has
// ended; a detached start returns at once. Both tell the caller whether the program could be
// started and, for ExecCmd, how it ended.
#pragma once

#include "platform/drivetable.h"
#include "platform/error.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace zelv {

enum class StartMode { Waiting, Detached };

// How a detached program should show its window. The program's own helpers read it from the
// environment variable ZELV_WINDOW_HINT; this desktop has no other way to pass it on.
enum class WindowHint : int { Hidden = 0, Normal = 1, NoActivate = 4 };

struct ExecResult {
    QString commandLine;
    bool started = false;
    bool crashed = false;
    int exitCode = -1;
    QString error; // why it could not be started, or how it ended badly (the program's own
                   // last line of error output where it gave one)

    bool succeeded() const { return started && !crashed && exitCode == 0; }
};

// A program word resolved to something this machine can start.
struct ResolvedProgram {
    QString program;         // host path of what is started
    QStringList leadingArgs; // for a Windows program: the host path, after "wine"
};

class CommandRunner {
public:
    explicit CommandRunner(const DriveTable &drives) : m_drives(drives) {}

    // Starts the command line and returns when the program has ended. A program that cannot be
    // started returns at once with started false.
    ExecResult ExecCmd(const QString &commandLine) const;

    // Starts the command line and returns at once; hint says how its window should show.
    ExecResult StartDetached(const QString &commandLine, WindowHint hint) const;

    // A bare name is looked for in the program folder first, then on PATH, ignoring letter
    // case; a DOS path ("c:\Zelv002\setup.exe") goes through the drive table. A Windows
    // program runs through wine when wine is installed. The error says why it cannot start.
    Result<ResolvedProgram> resolveProgram(const QString &word) const;

private:
    const DriveTable &m_drives;
};

class Dialogs;

// The program's error box for a helper or archiver that could not be started or that failed,
// naming the command line and the reason.
void reportCommandFailure(Dialogs &dialogs, const ExecResult &result);

} // namespace zelv
