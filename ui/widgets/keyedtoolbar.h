// A toolbar whose entries are added one by one and addressed by position (from 1): plain
// buttons, buttons of one exclusive group, and separators. Each button has a key that also
// names its image (the artwork of that name) and a tooltip shown after one second.
#pragma once

#include <QToolBar>
#include <QVector>

class QAbstractButton;
class QActionGroup;
class QTimer;
class QToolButton;

namespace zelv {

class KeyedToolbar : public QToolBar {
    Q_OBJECT
public:
    // The add operation's style codes: a plain button has none.
    enum Style { Plain = 0, Group = 2, Separator = 4 };

    explicit KeyedToolbar(QWidget *parent = nullptr);

    // Adds an entry at the end and returns its position.
    int addEntry(Style style, const QString &key = QString());
    int count() const { return int(m_entries.size()); }

    QString key(int position) const;
    bool isSeparator(int position) const;
    // The position of the button with that key, 0 when there is none.
    int positionOf(const QString &key) const;

    void setToolTipText(int position, const QString &text);
    QString toolTipText(int position) const;
    static constexpr int kToolTipDelayMs = 1000;
    static constexpr int kIconSize = 20;
    static constexpr int kButtonSize = 24;

    void setButtonEnabled(int position, bool enabled);
    bool buttonEnabled(int position) const;

    // Group buttons: 1 pressed, 0 released. Pressing one releases the others of the group.
    // Setting a value raises no click.
    void setValue(int position, int value);
    int value(int position) const;
    // The position of the pressed group button, 0 when none is pressed.
    int pressedGroupButton() const;

    // The button widget at a position (nothing for a separator); for tests and layout.
    QToolButton *buttonAt(int position) const;

signals:
    // A click by the user on an enabled button, after the group has been updated.
    void buttonClicked(int position);
    void mouseEntered();
    void mouseLeft();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    struct Entry {
        Style style;
        QString key;
        QString tip;
        QAction *action = nullptr;
    };
    const Entry *entry(int position) const;
    void showTip();

    QVector<Entry> m_entries;
    QActionGroup *m_group;
    QTimer *m_tipTimer;
    QToolButton *m_tipButton = nullptr;
};

} // namespace zelv
