#include "layoutrules.h"

#include <algorithm>

#include <cmath>

namespace zelv {

QRect TwipRect::toPixels() const
{
    const auto px = [](double twips) { return int(std::lround(twips / kTwipsPerPixel)); };
    return QRect(px(left), px(top), std::max(0, px(width)), std::max(0, px(height)));
}

WindowLayout layoutForWindow(double W, double H, double toolbarWidth, const WindowLayout &previous)
{
    WindowLayout l = previous;
    l.frame1.width = W;

    l.splitter.width = W - 360;
    // The window sets the splitter's height to H - 1300; the splitter's own resize then takes it
    // to H - 1600, and that is the height the status row is placed by.
    l.splitter.height = H - 1600;

    if (W > toolbarWidth + 450)
        l.logoPanel.left = W - 1050;

    const double statusTop = l.splitter.top + l.splitter.height + 100;
    l.kindPanel.top = statusTop;
    l.folderPanel.top = statusTop;
    l.folderPanel.width = W - 2550;

    l.dragCorner.top = l.folderPanel.top - 115;
    l.dragCorner.left = l.folderPanel.left + l.folderPanel.width - 20;
    return l;
}

QPoint placeBeside(const QRect &window, const QRect &keepInSight, const QSize &box, const QRect &screen)
{
    constexpr int kGap = 8;
    const auto clampY = [&](int y) {
        return std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - box.height()));
    };
    const auto clampX = [&](int x) {
        return std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - box.width()));
    };
    // Level with the part where it can be, so the eye goes straight across.
    const QPoint candidates[] = {
        {window.right() + 1 + kGap, clampY(keepInSight.top())},
        {window.left() - kGap - box.width(), clampY(keepInSight.top())},
        {clampX(keepInSight.left()), window.bottom() + 1 + kGap},
        {clampX(keepInSight.left()), window.top() - kGap - box.height()},
    };
    for (const QPoint &at : candidates) {
        if (screen.contains(QRect(at, box)))
            return at;
    }
    // No room outside the window: at the height of the window's middle, as other boxes are,
    // and across from the part where that hides the least of it (centred when all hide alike).
    const int middleY = clampY(window.top() + (window.height() - box.height()) / 2);
    const int leftStrip = keepInSight.left() - window.left();
    const int rightStrip = window.right() - keepInSight.right();
    const QPoint across[] = {
        {clampX(window.left() + (window.width() - box.width()) / 2), middleY},
        {clampX(window.left() + (leftStrip - box.width()) / 2), middleY},
        {clampX(keepInSight.right() + 1 + (rightStrip - box.width()) / 2), middleY},
        {clampX(window.left()), middleY},
        {clampX(window.right() + 1 - box.width()), middleY},
    };
    QPoint best = across[0];
    qint64 leastHidden = -1;
    for (const QPoint &at : across) {
        const QRect hidden = QRect(at, box).intersected(keepInSight);
        const qint64 area = hidden.isEmpty() ? 0 : qint64(hidden.width()) * hidden.height();
        if (leastHidden < 0 || area < leastHidden) {
            leastHidden = area;
            best = at;
        }
    }
    return best;
}

} // namespace zelv
