#include "helpercommands.h"

#include "platform/commandline.h"
#include "platform/dospath.h"

namespace zelv {

ExecResult start(const CommandRunner &runner, const HelperCommand &command)
{
    if (command.mode == StartMode::Waiting)
        return runner.ExecCmd(command.commandLine);
    return runner.StartDetached(command.commandLine, command.hint);
}

} // namespace zelv

namespace zelv::helpercommands {

namespace {

HelperCommand waiting(const QString &program, const QStringList &arguments)
{
    return {commandline::join(program, arguments), StartMode::Waiting, WindowHint::Normal};
}

HelperCommand detached(const QString &program, const QStringList &arguments, WindowHint hint)
{
    return {commandline::join(program, arguments), StartMode::Detached, hint};
}

} // namespace

HelperCommand rarSetInstall(const QString &sourceFolder, const QString &firstVolume, const QString &installDir)
{
    return waiting(QStringLiteral("wrar.exe"), {QStringLiteral("x"), QStringLiteral("-o+"), QStringLiteral("-y"),
                                                dospath::join(sourceFolder, firstVolume), installDir});
}

HelperCommand innerRarExtract(const QString &installDir, const QString &firstVolume, const QString &innerInstallDir)
{
    return rarSetInstall(installDir, firstVolume, innerInstallDir);
}

HelperCommand innerArjExtract(const QString &installDir, const QString &volume, const QString &innerInstallDir)
{
    return waiting(QStringLiteral("warj.pif"),
                   {QStringLiteral("x"), QStringLiteral("-y"), dospath::join(installDir, volume), innerInstallDir});
}

HelperCommand innerAceExtract(const QString &installDir, const QString &firstVolume, const QString &innerInstallDir)
{
    return waiting(QStringLiteral("wace.pif"), {QStringLiteral("x"), QStringLiteral("-y"),
                                                dospath::join(installDir, firstVolume), innerInstallDir});
}

HelperCommand aceSetInstall(const QString &sourceFolder, const QString &firstVolume, const QString &installDir)
{
    return waiting(QStringLiteral("ace.pif"),
                   {QStringLiteral("x"), QStringLiteral("-y"), dospath::join(sourceFolder, firstVolume), installDir});
}

HelperCommand removeLeftover(const QString &drive, const QString &directoryName)
{
    return waiting(QStringLiteral("killd.pif"), {drive + QStringLiteral(":\\") + directoryName});
}

HelperCommand removeInstallDir(const QString &installDir) { return waiting(QStringLiteral("killd.pif"), {installDir}); }

HelperCommand showErrorReport(const QString &programFolder)
{
    return detached(QStringLiteral("notepad.exe"), {dospath::join(programFolder, QStringLiteral("errors.txt"))},
                    WindowHint::Normal);
}

HelperCommand showNfo(const QString &programFolder, const QString &nfoName)
{
    return detached(QStringLiteral("notepad.exe"), {dospath::join(programFolder, nfoName)}, WindowHint::NoActivate);
}

HelperCommand showHelp(const QString &programFolder)
{
    return detached(QStringLiteral("winhelp.exe"), {dospath::join(programFolder, QStringLiteral("Zelv32.hlp"))},
                    WindowHint::NoActivate);
}

QString helpFilePath(const QString &programFolder) { return dospath::join(programFolder, u"Zelv32.HLP"); }

HelperCommand helpViewerFor(const QString &helpFile, HelpCommand command, const QString &owner)
{
    QStringList arguments;
    if (command == HelpCommand::Finder)
        arguments << QStringLiteral("-index");
    arguments << QStringLiteral("-owner") << owner << helpFile;
    return detached(QStringLiteral("winhelp.exe"), arguments, WindowHint::Normal);
}

HelperCommand openWebPage(const QString &url)
{
    return detached(QStringLiteral("webdial.exe"), {u'$' + url}, WindowHint::Normal);
}

HelperCommand newMail(const QString &address)
{
    return detached(QStringLiteral("webdial.exe"), {QStringLiteral(">mailto:") + address}, WindowHint::Normal);
}

HelperCommand openFolder(const QString &dosFolder)
{
    return detached(QStringLiteral("webdial.exe"), {u'#' + dosFolder}, WindowHint::Normal);
}

HelperCommand runSetup(const QString &finalInstallDir)
{
    return detached(dospath::join(finalInstallDir, QStringLiteral("setup.exe")), {}, WindowHint::Hidden);
}

} // namespace zelv::helpercommands
