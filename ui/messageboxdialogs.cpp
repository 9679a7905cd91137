#include "messageboxdialogs.h"

#include "folderchooser.h"

#include <QMessageBox>

namespace zelv {

namespace {

QMessageBox::Icon toIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Stop:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toButtons(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

} // namespace

MessageAnswer MessageBoxDialogs::ask(const MessageRequest &request)
{
    QMessageBox box(toIcon(request.icon), request.title, request.text, toButtons(request.buttons), m_parent);
    if (request.foreground) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        if (m_parent) {
            m_parent->window()->raise();
            m_parent->window()->activateWindow();
        }
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        break;
    }
    return dismissAnswer(request.buttons);
}

} // namespace zelv

namespace zelv {

std::optional<QString>
MessageBoxDialogs::chooseFolder(const QString &prompt,
                                const std::function<ChooserStatus(const QString &)> &onSelectionChanged)
{
    if (!m_drives)
        return std::nullopt;
    FolderChooser chooser(*m_drives, prompt, onSelectionChanged, m_parent);
    if (chooser.exec() != QDialog::Accepted)
        return std::nullopt;
    return chooser.selectedPath();
}

} // namespace zelv
