#include "toolrun.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace zelv {

namespace {

constexpr qsizetype kOutputKept = 1 << 20;

} // namespace

ToolRun runTool(const QString &program, const QStringList &args, const WorkingFolder &workingFolder, qint64 timeoutMs,
                const std::function<bool(const QByteArray &output)> &onTick, ToolOutput kept, ToolLimits limits)
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
    // A helper started with its standard files closed gets pipes numbered 0 to 2, which the
    // child's own 0, 1 and 2 would overwrite: they are moved above.
    for (int *fd : {&out[0], &out[1], &err[0], &err[1]})
        if (*fd <= STDERR_FILENO) {
            const int moved = fcntl(*fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (moved >= 0) {
                close(*fd);
                *fd = moved;
            }
        }

    // The program is found here: between fork and exec the child may only make system calls.
    const QString found = program.contains(u'/') ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        for (const int fd : {out[0], out[1], err[0], err[1]})
            close(fd);
        return run;
    }
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString &a : args)
        storage.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray path = QFile::encodeName(found);
    const QByteArray folder = QFile::encodeName(workingFolder.path);
    const pid_t parent = getpid();
    // Never above what this process is held to: raising a hard limit is refused.
    const auto within = [](int resource, rlim_t soft, rlim_t hard) {
        rlimit now{};
        if (getrlimit(resource, &now) == 0 && now.rlim_max != RLIM_INFINITY)
            hard = std::min(hard, now.rlim_max);
        return rlimit{std::min(soft, hard), hard};
    };
    const rlimit space = within(RLIMIT_AS, rlim_t(limits.addressSpace), rlim_t(limits.addressSpace));
    const rlim_t seconds = rlim_t(std::max<qint64>(1, (timeoutMs + 999) / 1000));
    const rlimit cpu = within(RLIMIT_CPU, seconds, seconds + 1);
    // A pipe closed on exec tells the parent whether the tool started.
    int started[2];
    if (pipe2(started, O_CLOEXEC) != 0) {
        for (const int fd : {out[0], out[1], err[0], err[1]})
            close(fd);
        return run;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        // Dies with this process, however it ends; a group of its own, so that a tool that
        // starts helpers of its own is stopped with them.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        setpgid(0, 0);
        if (setrlimit(RLIMIT_AS, &space) != 0 || setrlimit(RLIMIT_CPU, &cpu) != 0)
            _exit(127);
        // /dev/null may itself open as 0: dup2 onto the same number would leave it to close
        // on exec.
        const int input = open("/dev/null", O_RDONLY);
        bool ready = input >= 0 && (input == STDIN_FILENO || dup2(input, STDIN_FILENO) >= 0) &&
                     dup2(out[1], STDOUT_FILENO) >= 0 && dup2(err[1], STDERR_FILENO) >= 0;
        if (input > STDIN_FILENO)
            close(input);
        if (ready && workingFolder.fd >= 0)
            ready = fchdir(workingFolder.fd) == 0;
        else if (ready && !folder.isEmpty())
            ready = chdir(folder.constData()) == 0;
        // Signals this process ignores are the tool's own again (those it catches are by exec).
        struct sigaction plain {};
        plain.sa_handler = SIG_DFL;
        for (const int signal : {SIGPIPE, SIGXFSZ})
            sigaction(signal, &plain, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (ready)
            execve(path.constData(), argv.data(), environ);
        const char failed = 1;
        (void)!write(started[1], &failed, 1);
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    close(started[1]);
    char failed = 0;
    ssize_t told = 0;
    if (pid > 0)
        do
            told = read(started[0], &failed, 1);
        while (told < 0 && errno == EINTR);
    close(started[0]);
    if (pid < 0 || told > 0) {
        if (pid > 0)
            waitpid(pid, nullptr, 0);
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
