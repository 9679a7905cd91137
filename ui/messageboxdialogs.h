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
    // Questions (boxes with more than one button) are placed where they leave this part of the
    // window in sight: it is what they ask about.
    void keepInSight(QWidget *part) { m_keepInSight = part; }
    std::optional<QString>
    chooseFolder(const QString &prompt,
                 const std::function<ChooserStatus(const QString &path)> &onSelectionChanged) override;

private:
    QPointer<QWidget> m_parent;
    QPointer<QWidget> m_keepInSight;
    const DriveTable *m_drives;
};

} // namespace zelv
