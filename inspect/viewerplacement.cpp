#include "viewerplacement.h"

namespace zelv {

namespace {

constexpr double kViewerWidth = 5850;
constexpr double kViewerHeight = 2325;
constexpr double kGap = 50;
constexpr double kRoomAbove = 2500;

} // namespace

std::optional<TwipsRect> viewerPlacement(bool mainMaximized, const TwipsRect &mainWindow)
{
    if (mainMaximized || mainWindow.top <= kRoomAbove)
        return std::nullopt;
    return TwipsRect{mainWindow.left, mainWindow.top - kViewerHeight - kGap, kViewerWidth, kViewerHeight};
}

void PlaceViewer(WindowSurface &window)
{
    if (const auto place = viewerPlacement(window.windowMaximized(), window.windowRect()))
        window.viewer().place(*place);
}

} // namespace zelv
