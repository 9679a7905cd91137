#include "panesplitter.h"

#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace zelv {

PaneSplitter::PaneSplitter(QWidget *parent) : QSplitter(Qt::Horizontal, parent)
{
    setHandleWidth(kBarWidth);
    setChildrenCollapsible(false);

    connect(this, &QSplitter::splitterMoved, this, [this] {
        if (count() < 2 || width() <= 0)
            return;
        const int measured = int(std::lround(sizes().value(0) * 1000.0 / width()));
        const int held = std::clamp(measured, kMinimumFirstPane, kMaximumFirstPane);
        m_firstPane = held;
        // Dragged past a limit: put the bar back on the limit.
        if (held != measured)
            applyFirstPane();
        emit panesResized(widget(0)->geometry(), widget(1)->geometry());
    });
}

bool PaneSplitter::addPane(QWidget *widget)
{
    if (count() >= 2)
        return false;
    addWidget(widget);
    if (count() == 2)
        applyFirstPane();
    return true;
}

void PaneSplitter::setFirstPaneWidth(int thousandths)
{
    m_firstPane = std::clamp(thousandths, kMinimumFirstPane, kMaximumFirstPane);
    applyFirstPane();
}

void PaneSplitter::applyFirstPane()
{
    const int total = width();
    if (count() < 2 || total <= 0)
        return; // applied by the next resize
    const int first = int(std::lround(total * m_firstPane / 1000.0));
    const int second = std::max(0, total - first - handleWidth());
    setSizes({first, second});
}

void PaneSplitter::resizeEvent(QResizeEvent *event)
{
    QSplitter::resizeEvent(event);
    applyFirstPane();
}

} // namespace zelv
