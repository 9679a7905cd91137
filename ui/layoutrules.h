// Where the parts of the main window go for a window size, in twips (15 to a logical pixel).
// The rules keep the designed margins: the splitter fills the width less 360 twips and the
// height less 1600, and the status row sits 100 twips under the splitter.
#pragma once

#include <QRect>

namespace zelv {

constexpr double kTwipsPerPixel = 15.0;

struct TwipRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;

    QRect toPixels() const;
    bool operator==(const TwipRect &) const = default;
};

// The window's parts as designed.
namespace designed {
inline constexpr TwipRect frame1{-60, 0, 5910, 45};
inline constexpr TwipRect toolbar{45, 105, 5115, 360};
inline constexpr TwipRect logoPanel{4710, 75, 885, 345};
inline constexpr TwipRect splitter{60, 525, 5625, 3570};
inline constexpr TwipRect kindPanel{75, 4185, 1935, 240};
inline constexpr TwipRect folderPanel{2070, 4185, 3075, 240};
inline constexpr TwipRect dragCorner{5310, 4050, 450, 345};
inline constexpr double windowWidth = 6000;
inline constexpr double windowHeight = 4005;
} // namespace designed

struct WindowLayout {
    TwipRect frame1 = designed::frame1;
    TwipRect logoPanel = designed::logoPanel;
    TwipRect splitter = designed::splitter;
    TwipRect kindPanel = designed::kindPanel;
    TwipRect folderPanel = designed::folderPanel;
    TwipRect dragCorner = designed::dragCorner;
};

// The layout for a window of outer width W and height H, starting from the previous one (the
// logo panel keeps its left edge in a window too narrow for it). toolbarWidth is the toolbar's
// width in twips.
WindowLayout layoutForWindow(double W, double H, double toolbarWidth, const WindowLayout &previous);

// Where a question box goes so that it leaves a part of the window in sight (the file list
// the question is about): beside the window on the right, else on the left, else below, else
// above, on the screen; where none of these fits, at the height of the window's middle, across
// from the part where that covers the least of it. Screen coordinates, in pixels.
QPoint placeBeside(const QRect &window, const QRect &keepInSight, const QSize &box, const QRect &screen);

} // namespace zelv
