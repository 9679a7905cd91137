#include "dragcorner.h"

#include "artwork.h"

#include <QPainter>

namespace zelv {

DragCorner::DragCorner(QWidget *parent) : QSizeGrip(parent)
{
    setFixedSize(30, 23);
    setToolTip(QStringLiteral(" Drag corner "));
}

void DragCorner::paintEvent(QPaintEvent *)
{
    // Our picture replaces the style's grip; resizing stays with QSizeGrip.
    QPainter painter(this);
    painter.drawPixmap(rect(), artworkIcon(QStringLiteral("dragcorner")).pixmap(size()));
}

} // namespace zelv
