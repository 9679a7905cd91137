// The About window, also the splash at start-up: the program's picture, its name and version,
// closed by a click or after six seconds.
#pragma once

#include <QWidget>

class QLabel;
class QTimer;

namespace zelv {

class AboutWindow : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);

    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3; // the version, kVersionText
    QTimer *Timer1; // closes the window six seconds after it was loaded

    static constexpr int kCloseAfterMs = 6000;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

} // namespace zelv
