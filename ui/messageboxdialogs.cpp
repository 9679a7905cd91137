#include "messageboxdialogs.h"

#include "folderchooser.h"
#include "layoutrules.h"

#include <QMessageBox>
#include <QScreen>

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

// A box that moves where it is told once it knows its own size, which it learns as it shows.
class PlacedMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;
    std::function<void(QWidget &)> place;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        if (place)
            place(*this);
    }
};

} // namespace

MessageAnswer MessageBoxDialogs::ask(const MessageRequest &request)
{
    PlacedMessageBox box(toIcon(request.icon), request.title, request.text, toButtons(request.buttons), m_parent);
    if (request.buttons != MessageButtons::Ok && m_keepInSight && m_keepInSight->isVisible()) {
        box.place = [part = m_keepInSight](QWidget &self) {
            const QWidget *window = part->window();
            const QScreen *screen = window->screen();
            if (!screen)
                return;
            const QRect inSight(part->mapToGlobal(QPoint(0, 0)), part->size());
            self.move(placeBeside(window->frameGeometry(), inSight, self.frameGeometry().size(),
                                  screen->availableGeometry()));
        };
    }
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
