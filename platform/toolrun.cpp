#include "toolrun.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace zelv {

namespace {

constexpr qsizetype kOutputKept = 1 << 20;

} // namespace

ToolRun runTool(const QString &program, const QStringList &args, const QString &workingFolder, qint64 timeoutMs,
                const std::function<bool(const QByteArray &output)> &onTick, ToolOutput kept)
{
    ToolRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }

    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString &a : args)
        storage.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const QByteArray folder = QFile::encodeName(workingFolder);
    if (!workingFolder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: a tool that starts helpers of its own is stopped with them.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    pid_t pid = -1;
    const int spawned = program.contains(u'/')
                            ? posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ)
                            : posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        return run;
    }
    run.started = true;

    const QDeadlineTimer deadline(timeoutMs);
    // The output is taken between looks at the tool, not as it comes: a tool that writes a
    // progress figure thousands of times would otherwise wake this process as often. The pipe
    // is made large enough for all a tool usually says.
    for (const int fd : {out[0], err[0]}) {
        fcntl(fd, F_SETPIPE_SZ, 1 << 20);
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    const int ended = int(syscall(SYS_pidfd_open, pid, 0));
    bool stop = false;
    int status = 0;
    // Takes what the pipes hold now.
    const auto keep = [](QByteArray &into, const char *bytes, ssize_t n, qsizetype limit) {
        const qsizetype room = std::max<qsizetype>(0, limit - into.size());
        into.append(bytes, std::min<qsizetype>(n, room));
        return n <= room;
    };
    const auto drainOne = [&](int fd, bool standardOutput) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return; // nothing more for now, or the pipe's end
            keep(run.output, buffer, n, kOutputKept);
            if (standardOutput && !keep(run.standardOutput, buffer, n, kept.standardOutputLimit))
                run.standardOutputCut = true;
        }
    };
    const auto drain = [&] {
        drainOne(out[0], true);
        drainOne(err[0], false);
    };
    for (;;) {
        if (ended >= 0) {
            pollfd p{ended, POLLIN, 0};
            poll(&p, 1, 50);
        } else {
            usleep(10000);
        }
        drain();
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (deadline.hasExpired() || (onTick && !onTick(run.output))) {
            run.timedOut = deadline.hasExpired();
            run.cancelled = !run.timedOut;
            stop = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
    }
    if (ended >= 0)
        close(ended);
    // Whatever the tool left running in its group goes with it; what it wrote last is still in
    // the pipe.
    kill(-pid, SIGKILL);
    drain();
    close(out[0]);
    close(err[0]);
    if (!stop && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

} // namespace zelv
