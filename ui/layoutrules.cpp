#include "layoutrules.h"

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

} // namespace zelv
