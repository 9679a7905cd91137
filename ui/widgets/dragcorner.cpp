#include "dragcorner.h"

#include <QPainter>
#include <QSvgRenderer>

namespace zelv {

DragCorner::DragCorner(QWidget *parent)
    : QSizeGrip(parent)
    , m_picture(new QSvgRenderer(QStringLiteral(":/icons/dragcorner.svg"), this))
{
    setFixedSize(30, 23);
    setToolTip(QStringLiteral(" Drag corner "));
}

void DragCorner::paintEvent(QPaintEvent *)
{
    // Our picture replaces the style's grip; resizing stays with QSizeGrip.
    QPainter painter(this);
    m_picture->render(&painter, QRectF(rect()));
}

} // namespace zelv
