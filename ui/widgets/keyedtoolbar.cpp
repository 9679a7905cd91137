#include "keyedtoolbar.h"

#include "artwork.h"

#include <QActionGroup>
#include <QCursor>
#include <QEvent>
#include <QIcon>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

namespace zelv {

KeyedToolbar::KeyedToolbar(QWidget *parent)
    : QToolBar(parent)
    , m_group(new QActionGroup(this))
    , m_tipTimer(new QTimer(this))
{
    // Lives in the window's own layout, not in a dock area.
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(kIconSize, kIconSize));
    // Compact buttons, so that the row keeps its designed height.
    setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; spacing: 0px; }"
                                 "QToolButton { padding: 1px; margin: 0px; }"));
    setToolButtonStyle(Qt::ToolButtonIconOnly);

    m_group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);

    m_tipTimer->setObjectName(QStringLiteral("toolTipTimer"));
    m_tipTimer->setSingleShot(true);
    m_tipTimer->setInterval(kToolTipDelayMs);
    connect(m_tipTimer, &QTimer::timeout, this, &KeyedToolbar::showTip);
}

int KeyedToolbar::addEntry(Style style, const QString &key)
{
    const int position = int(m_entries.size()) + 1;
    Entry e{style, key, QString(), nullptr};
    if (style == Separator) {
        e.action = addSeparator();
        m_entries.append(e);
        return position;
    }

    e.action = addAction(artworkIcon(key), key);
    if (style == Group) {
        e.action->setCheckable(true);
        m_group->addAction(e.action);
    }
    // triggered comes only from the user (or trigger()), after the group has settled;
    // setChecked() from setValue() does not raise it.
    connect(e.action, &QAction::triggered, this, [this, position] { emit buttonClicked(position); });
    if (QWidget *button = widgetForAction(e.action)) {
        button->setFixedSize(kButtonSize, kButtonSize);
        button->installEventFilter(this);
    }
    m_entries.append(e);
    return position;
}

const KeyedToolbar::Entry *KeyedToolbar::entry(int position) const
{
    if (position < 1 || position > m_entries.size())
        return nullptr;
    return &m_entries[position - 1];
}

QString KeyedToolbar::key(int position) const
{
    const Entry *e = entry(position);
    return e ? e->key : QString();
}

bool KeyedToolbar::isSeparator(int position) const
{
    const Entry *e = entry(position);
    return e && e->style == Separator;
}

int KeyedToolbar::positionOf(const QString &key) const
{
    if (key.isEmpty())
        return 0;
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].style != Separator && m_entries[i].key == key)
            return i + 1;
    }
    return 0;
}

void KeyedToolbar::setToolTipText(int position, const QString &text)
{
    if (position < 1 || position > m_entries.size() || isSeparator(position))
        return;
    m_entries[position - 1].tip = text;
    // Kept on the action too for accessibility; showing it is left to the timer. The text also
    // names the button in the menu of buttons a narrow window has no room for.
    m_entries[position - 1].action->setToolTip(text);
    m_entries[position - 1].action->setText(text);
}

QString KeyedToolbar::toolTipText(int position) const
{
    const Entry *e = entry(position);
    return e ? e->tip : QString();
}

void KeyedToolbar::setButtonEnabled(int position, bool enabled)
{
    const Entry *e = entry(position);
    if (e && e->style != Separator)
        e->action->setEnabled(enabled);
}

bool KeyedToolbar::buttonEnabled(int position) const
{
    const Entry *e = entry(position);
    return e && e->style != Separator && e->action->isEnabled();
}

void KeyedToolbar::setValue(int position, int value)
{
    const Entry *e = entry(position);
    if (!e || e->style != Group)
        return;
    // The group releases the others when one is checked; releasing the pressed one leaves none.
    e->action->setChecked(value != 0);
}

int KeyedToolbar::value(int position) const
{
    const Entry *e = entry(position);
    return e && e->style == Group && e->action->isChecked() ? 1 : 0;
}

int KeyedToolbar::pressedGroupButton() const
{
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].style == Group && m_entries[i].action->isChecked())
            return i + 1;
    }
    return 0;
}

QToolButton *KeyedToolbar::buttonAt(int position) const
{
    const Entry *e = entry(position);
    if (!e || e->style == Separator)
        return nullptr;
    return qobject_cast<QToolButton *>(widgetForAction(e->action));
}

bool KeyedToolbar::eventFilter(QObject *watched, QEvent *event)
{
    auto *button = qobject_cast<QToolButton *>(watched);
    if (!button)
        return QToolBar::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ToolTip:
        // Qt's own tooltip comes too early; ours follows the timer.
        return true;
    case QEvent::Enter:
        m_tipButton = button;
        m_tipTimer->start();
        break;
    case QEvent::Leave:
        if (m_tipButton == button) {
            m_tipTimer->stop();
            m_tipButton = nullptr;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_tipTimer->stop();
        break;
    default:
        break;
    }
    return QToolBar::eventFilter(watched, event);
}

void KeyedToolbar::showTip()
{
    if (!m_tipButton || !m_tipButton->isVisible())
        return;
    for (const Entry &e : std::as_const(m_entries)) {
        if (e.action && widgetForAction(e.action) == m_tipButton) {
            if (!e.tip.isEmpty())
                QToolTip::showText(QCursor::pos(), e.tip, m_tipButton);
            return;
        }
    }
}

void KeyedToolbar::enterEvent(QEnterEvent *event)
{
    QToolBar::enterEvent(event);
    emit mouseEntered();
}

void KeyedToolbar::leaveEvent(QEvent *event)
{
    QToolBar::leaveEvent(event);
    emit mouseLeft();
}

} // namespace zelv
