// The program's message boxes and questions, shown as real boxes.
#pragma once

#include "platform/dialogs.h"
#include "platform/drivetable.h"

#include <QPointer>
#include <QWidget>

namespace zelv {

class MessageBoxDialogs : public Dialogs {
public:
    explicit MessageBoxDialogs(QWidget *parent = nullptr, const DriveTable *drives = nullptr)
        : m_parent(parent)
        , m_drives(drives)
    {}
    MessageAnswer ask(const MessageRequest &request) override;
    std::optional<QString>
    chooseFolder(const QString &prompt,
                 const std::function<ChooserStatus(const QString &path)> &onSelectionChanged) override;

private:
    QPointer<QWidget> m_parent;
    const DriveTable *m_drives;
};

} // namespace zelv
