#include "animatedicon.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace zelv {

AnimatedIcon::AnimatedIcon(QWidget *parent) : QWidget(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &AnimatedIcon::advance);
}

void AnimatedIcon::setFrames(const QList<QIcon> &frames, int intervalMs)
{
    m_frames = frames;
    m_current = 0;
    m_timer.setInterval(intervalMs);
    m_timer.stop();
    followEnabled();
    update();
}

void AnimatedIcon::advance()
{
    m_current = (m_current + 1) % int(m_frames.size());
    update();
}

void AnimatedIcon::followEnabled()
{
    if (isEnabled() && m_frames.size() > 1) {
        if (!m_timer.isActive())
            m_timer.start();
        return;
    }
    m_timer.stop();
    if (m_current != 0) {
        m_current = 0;
        update();
    }
}

void AnimatedIcon::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        followEnabled();
    QWidget::changeEvent(event);
}

void AnimatedIcon::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    emit clicked();
}

void AnimatedIcon::paintEvent(QPaintEvent *)
{
    if (m_frames.isEmpty())
        return;
    QPainter p(this);
    // At rest the first frame is shown as drawn, not greyed like a disabled control.
    m_frames.at(m_current).paint(&p, rect(), Qt::AlignCenter, QIcon::Normal);
}

} // namespace zelv
