// Keeps a window the program opens whole inside its screen's free area, the desktop's frame
// included. Under X the frame is known only once the desktop has put it around the window:
// before that a usual frame is counted, and once framed the window is looked at again.
// Header only, so that the helper programs can use it without the widgets library.
#pragma once

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace zelv {

// The frame rectangle moved, and shrunk where it is larger, to lie inside room.
inline QRect fitInside(const QRect &frame, const QRect &room)
{
    QRect r(frame.topLeft(), frame.size().boundedTo(room.size()));
    r.moveLeft(std::clamp(r.left(), room.left(), room.left() + room.width() - r.width()));
    r.moveTop(std::clamp(r.top(), room.top(), room.top() + room.height() - r.height()));
    return r;
}

// The frame the desktop puts around the window; before it has done so, a title bar and thin
// edges on a desktop that frames windows, nothing on one that does not.
inline QMargins frameMarginsOf(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    if (frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                frame.bottom() - inner.bottom()};
    if (window->windowFlags() & Qt::FramelessWindowHint || QGuiApplication::platformName() != u"xcb")
        return {};
    return {5, 30, 5, 5};
}

// Pulls the window back inside the free area of the screen it is on, frame and all, and makes it
// smaller only where it is larger than that area. A window the desktop has not placed yet keeps
// the desktop's choice of place unless the program chose one.
inline void keepWholeOnScreen(QWidget *window)
{
    if (!window || !window->isWindow() ||
        window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
        return;
    const QMargins m = frameMarginsOf(window);
    const bool framed = window->frameGeometry() != window->geometry();
    // Unframed, the window's place is where its frame's corner will be.
    const QRect frame =
        framed ? window->frameGeometry() : QRect(window->geometry().topLeft(), window->size().grownBy(m));
    const QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect target = fitInside(frame, screen->availableGeometry());
    if (target.size() != frame.size())
        window->resize(target.size().shrunkBy(m).expandedTo(QSize(1, 1)));
    if (target.topLeft() != frame.topLeft() && (window->isVisible() || window->testAttribute(Qt::WA_Moved)))
        window->move(target.topLeft()); // a window's place is its frame's
}

// Looks after one window for its life: each time it is shown, before it appears and again once
// the desktop has framed and placed it. Moves the person makes later are left alone.
class WholeOnScreen : public QObject {
public:
    explicit WholeOnScreen(QWidget *window) : QObject(window), m_window(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            keepWholeOnScreen(m_window);
            m_waitingForFrame = true;
            // A desktop that tells nothing of its frame is looked at after a while all the same.
            QTimer::singleShot(400, this, [this] { lookAgain(); });
            break;
        case QEvent::Move:
        case QEvent::Resize:
            if (m_waitingForFrame && m_window->frameGeometry() != m_window->geometry())
                QTimer::singleShot(0, this, [this] { lookAgain(); });
            break;
        default:
            break;
        }
        return false;
    }

private:
    void lookAgain()
    {
        if (!m_waitingForFrame || !m_window || !m_window->isVisible())
            return;
        if (m_window->frameGeometry() != m_window->geometry())
            m_waitingForFrame = false;
        keepWholeOnScreen(m_window);
    }

    QPointer<QWidget> m_window;
    bool m_waitingForFrame = false;
};

} // namespace zelv
