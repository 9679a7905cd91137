// The drag corner at the right end of the status row: a grip picture that resizes the window.
#pragma once

#include <QSizeGrip>

namespace zelv {

class DragCorner : public QSizeGrip {
    Q_OBJECT
public:
    explicit DragCorner(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace zelv
