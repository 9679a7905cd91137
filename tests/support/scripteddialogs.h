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

    // The folder chooser: the selections it goes through, the status each got, and what it
    // gives back at the end (nothing: Cancel).
    std::optional<QString>
    chooseFolder(const QString &prompt,
                 const std::function<ChooserStatus(const QString &path)> &onSelectionChanged) override;
    QStringList chooserSelections;
    std::optional<QString> chooserAnswer;
    QList<ChooserStatus> chooserStatuses;
    QString chooserPrompt;
    const QList<MessageRequest> &shown() const { return m_shown; }
    QStringList shownTexts() const;
    void clear();

private:
    QList<MessageAnswer> m_answers;
    QList<MessageRequest> m_shown;
};

} // namespace zelv::test
