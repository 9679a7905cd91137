#include "dialogs.h"

#include <QStringList>

namespace zelv {

MessageAnswer dismissAnswer(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::OkCancel:
    case MessageButtons::YesNoCancel:
        break;
    }
    return MessageAnswer::Cancel;
}

bool isAnswerOf(MessageAnswer answer, MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return answer == MessageAnswer::Ok;
    case MessageButtons::OkCancel:
        return answer == MessageAnswer::Ok || answer == MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return answer == MessageAnswer::Yes || answer == MessageAnswer::No;
    case MessageButtons::YesNoCancel:
        return answer != MessageAnswer::Ok;
    }
    return false;
}

void Dialogs::showError(const QString &text)
{
    ask({QStringLiteral("Zelvant32 Error"), text, MessageIcon::Exclamation, MessageButtons::Ok, true});
}

} // namespace zelv
