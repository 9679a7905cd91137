#include "helpsystem.h"

#include "core/helpercommands.h"
#include "platform/dospath.h"
#include "platform/localchannel.h"

namespace zelv {

namespace {

// An open viewer answers from its event loop at once; one that does not is treated as gone.
constexpr int kAnswerWithinMs = 2000;

ExecResult carriedOut()
{
    ExecResult done;
    done.started = true;
    done.exitCode = 0;
    return done;
}

} // namespace

ExecResult WinHelp(const CommandRunner &runner, const DosFileSystem &files, const QString &programFolder,
                   const QString &helpFile, HelpCommand command, const QString &owner)
{
    const bool bareName = !helpFile.contains(u'\\') && !helpFile.contains(u':');
    const QString dosPath = bareName ? dospath::join(programFolder, helpFile) : helpFile;

    const int hint = int(command == HelpCommand::Quit ? WindowHint::NoActivate : WindowHint::Normal);
    const QByteArray request = encodeHelpRequest({command, hint, owner});
    if (const std::optional<QString> host = files.hostPath(dosPath)) {
        if (askLocalChannel(helpChannelName(*host), request, kAnswerWithinMs))
            return carriedOut();
    }
    if (command == HelpCommand::Quit)
        return carriedOut(); // no viewer open: nothing to let go of
    return start(runner, helpercommands::helpViewerFor(dosPath, command, owner));
}

} // namespace zelv
