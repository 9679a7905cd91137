// Where the text viewer for release notes goes when it is shown: just above the main window,
// as wide as the designed main window, when there is room for it above.
#pragma once

#include "core/windowsurface.h"

#include <optional>

namespace zelv {

// The viewer's place for a main window at mainWindow, or nothing when it keeps its own: when
// the main window is maximised or its top edge is 2500 twips or less below the screen's top.
std::optional<TwipsRect> viewerPlacement(bool mainMaximized, const TwipsRect &mainWindow);

// Places the viewer of the surface by that rule.
void PlaceViewer(WindowSurface &window);

} // namespace zelv
