// Message boxes for tests: answers from a queue and a record of every box asked for. When the
// queue is empty, a box is answered as if closed without a choice.
#pragma once

#include "platform/dialogs.h"

#include <QStringList>
#include <initializer_list>

namespace zelv::test {

class ScriptedDialogs : public Dialogs {
public:
    MessageAnswer ask(const MessageRequest &request) override;

    void queueAnswers(std::initializer_list<MessageAnswer> answers);
    const QList<MessageRequest> &shown() const { return m_shown; }
    QStringList shownTexts() const;
    void clear();

private:
    QList<MessageAnswer> m_answers;
    QList<MessageRequest> m_shown;
};

} // namespace zelv::test
