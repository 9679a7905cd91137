// Runs an archiver that cannot be trusted to finish, to stay small or to leave no children:
// standard input closed, a process group of its own, a hard limit on its address space and its
// CPU time, a time limit after which the whole group is killed, and killed with this process
// however that ends (a kill included).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace zelv {

struct ToolRun {
    bool started = false;
    bool timedOut = false;
    bool cancelled = false; // onTick asked it to stop
    int exitCode = -1;      // -1 when it did not end by itself
    QByteArray output;      // standard output and error as they came, the first megabyte
    // Standard output alone, up to the caller's limit: what a tool prints as its result (a
    // listing), never mixed with the warnings it prints on standard error.
    QByteArray standardOutput;
    bool standardOutputCut = false; // it went past the limit: what is kept is not all of it
};

// How much of a tool's output is kept: progress and messages need their first megabyte; a
// listing is needed whole.
struct ToolOutput {
    qsizetype standardOutputLimit = 1 << 20;
};

// The hard limits the kernel holds a tool to, so that a tool's own fault cannot take the
// machine: its address space (an allocation past it fails) and its CPU time, which is the wall
// clock's limit again in case the tool's threads outrun it.
struct ToolLimits {
    quint64 addressSpace = quint64(1) << 30;
};

// Where a tool runs: a folder by path, or one this process holds open, so that the tool's
// relative paths reach that very folder whatever is put under its name meanwhile.
struct WorkingFolder {
    WorkingFolder() = default;
    WorkingFolder(const QString &path) : path(path) {}
    explicit WorkingFolder(int fd) : fd(fd) {}
    QString path;
    int fd = -1;
};

// Runs program (a path or a name on PATH) with args in workingFolder, waiting at most
// timeoutMs. onTick, when given, is called about every 50 ms while it runs, with the output so
// far (for a tool that prints its progress); returning false
// stops the tool as the time limit does.
ToolRun runTool(const QString &program, const QStringList &args, const WorkingFolder &workingFolder, qint64 timeoutMs,
                const std::function<bool(const QByteArray &output)> &onTick = {}, ToolOutput kept = {},
                ToolLimits limits = {});

} // namespace zelv
