#include "childrun.h"

#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace zelv::test {

ChildRun runProgram(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    ChildRun run;
    run.exitCode = p.exitStatus() == QProcess::NormalExit && p.state() == QProcess::NotRunning ? p.exitCode() : -1;
    run.err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    return run;
}

ChildRun runInChild(const QString &program, const QStringList &args, const std::function<void()> &setup)
{
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString &a : args)
        words.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], STDERR_FILENO);
        const int none = open("/dev/null", O_RDONLY);
        dup2(none, STDIN_FILENO);
        setup();
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(err[1]);
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            text.append(buffer, n);
        else if (errno != EINTR)
            break;
    }
    close(err[0]);

    ChildRun run;
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.err = QString::fromLocal8Bit(text);
    run.maxRssKb = usage.ru_maxrss;
    return run;
}

} // namespace zelv::test
