// The program's message boxes and questions, shown as real boxes.
#pragma once

#include "platform/dialogs.h"

#include <QPointer>
#include <QWidget>

namespace zelv {

class MessageBoxDialogs : public Dialogs {
public:
    explicit MessageBoxDialogs(QWidget *parent = nullptr) : m_parent(parent) {}
    MessageAnswer ask(const MessageRequest &request) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace zelv
