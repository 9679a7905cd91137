#include "toolrun.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace zelv {

namespace {

constexpr qsizetype kOutputKept = 1 << 20;

} // namespace

ToolRun runTool(const QString &program, const QStringList &args, const QString &workingFolder, qint64 timeoutMs,
                const std::function<bool()> &onTick)
{
    ToolRun run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;

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
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
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
    if (spawned != 0) {
        close(out[0]);
        return run;
    }
    run.started = true;

    const QDeadlineTimer deadline(timeoutMs);
    bool open = true;
    bool stop = false;
    int status = 0;
    for (;;) {
        if (open) {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buffer[65536];
                const ssize_t n = read(out[0], buffer, sizeof buffer);
                if (n > 0 && run.output.size() < kOutputKept)
                    run.output.append(buffer, std::min<qsizetype>(n, kOutputKept - run.output.size()));
                if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                    open = false;
            }
        } else {
            usleep(20000);
        }
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (deadline.hasExpired() || (onTick && !onTick())) {
            run.timedOut = deadline.hasExpired();
            run.cancelled = !run.timedOut;
            stop = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
    }
    close(out[0]);
    if (!stop && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    // Whatever the tool left running in its group goes with it.
    kill(-pid, SIGKILL);
    return run;
}

} // namespace zelv
