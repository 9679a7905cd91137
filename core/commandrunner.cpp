#include "commandrunner.h"

#include "platform/commandline.h"
#include "platform/dialogs.h"
#include "platform/hostfs.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <unistd.h>

namespace zelv {

namespace {

bool isExecutableFile(const QString &path)
{
    return hostfs::isFile(path) && access(QFile::encodeName(path).constData(), X_OK) == 0;
}

bool isWindowsProgram(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(2) == "MZ";
}

std::optional<QString> findInFolder(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return std::nullopt;
    const auto found = hostfs::findNameIgnoringCase(folder, name);
    if (!found)
        return std::nullopt;
    const QString path = folder + u'/' + *found;
    if (!hostfs::isFile(path))
        return std::nullopt;
    return path;
}

std::optional<QString> findOnPath(const QString &name)
{
    const QString path = qEnvironmentVariable("PATH");
    for (const QString &folder : path.split(u':', Qt::SkipEmptyParts)) {
        if (auto found = findInFolder(folder, name); found && isExecutableFile(*found))
            return found;
    }
    return std::nullopt;
}

struct Prepared {
    ExecResult result;
    ResolvedProgram program;
    QStringList arguments;
};

Prepared prepare(const CommandRunner &runner, const QString &commandLine)
{
    Prepared p;
    p.result.commandLine = commandLine;
    const QStringList words = commandline::split(commandLine);
    if (words.isEmpty() || words.first().isEmpty()) {
        p.result.error = QStringLiteral("empty command line");
        return p;
    }
    const Result<ResolvedProgram> program = runner.resolveProgram(words.first());
    if (!program) {
        p.result.error = program.error().text();
        return p;
    }
    p.program = *program;
    p.arguments = program->leadingArgs + words.mid(1);
    p.result.started = true; // provisionally; the start itself may still fail
    return p;
}

QString lastLine(const QByteArray &output)
{
    const QList<QByteArray> lines = output.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last().trimmed());
}

void configure(QProcess &process, const Prepared &p)
{
    process.setProgram(p.program.program);
    process.setArguments(p.arguments);
}

} // namespace

Result<ResolvedProgram> CommandRunner::resolveProgram(const QString &word) const
{
    const auto explain = [](const QString &text) { return Error(text); };

    std::optional<QString> path;
    if (word.contains(u'\\') || word.contains(u':')) {
        const auto host = m_drives.toHost(word);
        if (!host)
            return explain(QStringLiteral("%1 is on no drive").arg(word));
        if (hostfs::isFile(*host))
            path = *host;
    } else {
        path = findInFolder(m_drives.programFolder(), word);
        if (!path)
            path = findOnPath(word);
    }
    if (!path)
        return explain(QStringLiteral("%1 was not found").arg(word));

    if (isWindowsProgram(*path)) {
        const auto wine = findOnPath(QStringLiteral("wine"));
        if (!wine)
            return explain(QStringLiteral("%1 is a Windows program and wine is not installed").arg(word));
        return ResolvedProgram{*wine, {*path}};
    }
    if (!isExecutableFile(*path))
        return explain(QStringLiteral("%1 is not a program").arg(word));
    return ResolvedProgram{*path, {}};
}

ExecResult CommandRunner::ExecCmd(const QString &commandLine) const
{
    Prepared p = prepare(*this, commandLine);
    if (!p.result.started)
        return p.result;

    QProcess process;
    configure(process, p);
    // The started program shares this program's output, input, environment and folder; its
    // error output is kept as well, so that a failure can be reported in its own words.
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start();
    if (!process.waitForStarted(-1)) {
        p.result.started = false;
        p.result.error = process.errorString();
        return p.result;
    }
    process.waitForFinished(-1);
    const QByteArray errorOutput = process.readAllStandardError();
    if (!errorOutput.isEmpty())
        fwrite(errorOutput.constData(), 1, size_t(errorOutput.size()), stderr);
    p.result.crashed = process.exitStatus() == QProcess::CrashExit;
    p.result.exitCode = p.result.crashed ? -1 : process.exitCode();
    if (p.result.crashed) {
        p.result.error = QStringLiteral("%1 ended abnormally").arg(p.program.program);
    } else if (p.result.exitCode != 0) {
        const QString said = lastLine(errorOutput);
        p.result.error = said.isEmpty() ? QStringLiteral("exit code %1").arg(p.result.exitCode) : said;
    }
    return p.result;
}

ExecResult CommandRunner::StartDetached(const QString &commandLine, WindowHint hint) const
{
    Prepared p = prepare(*this, commandLine);
    if (!p.result.started)
        return p.result;

    QProcess process;
    configure(process, p);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZELV_WINDOW_HINT"), QString::number(int(hint)));
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        p.result.started = false;
        p.result.error = process.errorString();
        return p.result;
    }
    p.result.exitCode = 0;
    return p.result;
}

void reportCommandFailure(Dialogs &dialogs, const ExecResult &result)
{
    const QString what = result.started ? QStringLiteral("failed") : QStringLiteral("could not be started");
    dialogs.showError(QStringLiteral("The command\n\n%1\n\n%2: %3").arg(result.commandLine, what, result.error));
}

} // namespace zelv
