#pragma once
#include <QCursor>

// The 32 x 32 monochrome cursors shown while dragging in a pane.

namespace polyvant {

enum class NavigationCursor {
    kPan,    // four-headed arrow above PAN, hot spot (15, 10)
    kRotate, // curved arrow above ROT, hot spot (15, 9)
    kZoom,   // nested squares above ZOOM, hot spot (15, 11)
};

QCursor MakeNavigationCursor(NavigationCursor which);

} // namespace polyvant
