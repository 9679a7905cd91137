// Every message box and question of the program goes through this one interface, so that the
// window shows real boxes and tests can read the exact texts and give the answers.
#pragma once

#include "error.h"

#include <functional>
#include <optional>

#include <QList>
#include <QString>

namespace zelv {

enum class MessageIcon { None, Stop, Question, Exclamation, Information };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageRequest {
    QString title;
    QString text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    bool foreground = false; // bring the box, and the program, to the front

    bool operator==(const MessageRequest &) const = default;
};

// The answer a box gives when it is closed without a choice: Cancel where there is one,
// otherwise No, otherwise OK.
MessageAnswer dismissAnswer(MessageButtons buttons);
bool isAnswerOf(MessageAnswer answer, MessageButtons buttons);

// What a folder chooser shows for its current selection: the status line and whether OK may
// be pressed.
struct ChooserStatus {
    bool okEnabled = false;
    QString statusLine;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MessageAnswer ask(const MessageRequest &request) = 0;

    // A modal folder chooser over the program's drives with the prompt; onSelectionChanged
    // (given the selected folder's DOS path, possibly empty) decides its status line and OK.
    // The chosen folder, or nothing on Cancel. Without a chooser of its own a Dialogs has no
    // folder to give.
    virtual std::optional<QString>
    chooseFolder(const QString &prompt, const std::function<ChooserStatus(const QString &path)> &onSelectionChanged)
    {
        Q_UNUSED(prompt)
        Q_UNUSED(onSelectionChanged)
        return std::nullopt;
    }

    // The program's error box: exclamation icon, OK, to the front, title "Zelvant32 Error".
    void showError(const QString &text);
    // The same box for an error: its sentence, and the cause after it.
    void showError(const Error &error) { showError(error.text()); }
};

} // namespace zelv
