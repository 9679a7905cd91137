#include "scripteddialogs.h"

namespace zelv::test {

MessageAnswer ScriptedDialogs::ask(const MessageRequest &request)
{
    m_shown.append(request);
    if (m_answers.isEmpty())
        return dismissAnswer(request.buttons);
    const MessageAnswer answer = m_answers.takeFirst();
    // An answer the box could not give is a fault in the test, not a choice.
    Q_ASSERT_X(isAnswerOf(answer, request.buttons), "ScriptedDialogs::ask",
               "queued answer is not one of the box's buttons");
    return isAnswerOf(answer, request.buttons) ? answer : dismissAnswer(request.buttons);
}

void ScriptedDialogs::queueAnswers(std::initializer_list<MessageAnswer> answers)
{
    for (MessageAnswer a : answers)
        m_answers.append(a);
}

QStringList ScriptedDialogs::shownTexts() const
{
    QStringList texts;
    for (const MessageRequest &r : m_shown)
        texts.append(r.text);
    return texts;
}

void ScriptedDialogs::clear()
{
    m_answers.clear();
    m_shown.clear();
}

std::optional<QString>
ScriptedDialogs::chooseFolder(const QString &prompt,
                              const std::function<ChooserStatus(const QString &)> &onSelectionChanged)
{
    chooserPrompt = prompt;
    chooserStatuses.clear();
    for (const QString &path : chooserSelections)
        chooserStatuses << onSelectionChanged(path);
    return chooserAnswer;
}

} // namespace zelv::test
