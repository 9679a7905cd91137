// A picture that plays its frames in turn while it is enabled and rests on the first frame
// while it is disabled; a click on it is reported as clicked().
#pragma once

#include <QIcon>
#include <QList>
#include <QTimer>
#include <QWidget>

namespace zelv {

class AnimatedIcon : public QWidget {
    Q_OBJECT
public:
    explicit AnimatedIcon(QWidget *parent = nullptr);

    // The frames in the order they play, each shown for intervalMs; a frame may come back
    // more than once to hold or repeat it.
    void setFrames(const QList<QIcon> &frames, int intervalMs);
    int currentFrame() const { return m_current; }

signals:
    void clicked();

protected:
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void advance();
    void followEnabled();

    QList<QIcon> m_frames;
    QTimer m_timer;
    int m_current = 0;
};

} // namespace zelv
