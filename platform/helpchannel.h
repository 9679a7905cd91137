// What the program and a second winhelp.exe say to the help viewer already open on a help file:
// show the contents, show the index, let go of the file. One line each, over a local channel
// named after the help file, so that each help file has at most one viewer.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace zelv {

// The help system's command codes.
enum class HelpCommand : int { Quit = 2, Contents = 3, Finder = 11 };

struct HelpRequest {
    HelpCommand command = HelpCommand::Contents;
    int windowHint = 1; // 1 shown and activated, 4 shown without taking the focus
    QString owner;      // who asked, for the quit request; empty for a viewer started by hand

    bool operator==(const HelpRequest &) const = default;
};

// The channel for a help file, by its host path; the same file reached by two paths gives the
// same name.
QString helpChannelName(const QString &hostHelpFile);

QByteArray encodeHelpRequest(const HelpRequest &request);
std::optional<HelpRequest> decodeHelpRequest(const QByteArray &line);

// The viewer's answer to a request it carried out.
inline constexpr char kHelpDone[] = "done\n";

// The owner this process asks on behalf of.
QString thisProcessHelpOwner();

} // namespace zelv
