#pragma once
#include <cstdint>

// Codes shared by the panes, the main view, the settings and the View Options dialog.

namespace polyvant {

// Pane kind, fixed for the life of a pane. Top, Side and Front are orthographic;
// User is the perspective pane and the only lit one.
enum ViewKind : std::int32_t {
    kViewTop = 0,
    kViewSide = 1,
    kViewFront = 2,
    kViewUser = 3,
};

// Render-mode codes: what a pane draws, idle in its render mode, in its fast render mode
// while dragged. (The settings record names the same codes kBox ... kPoint.)
enum : std::int32_t {
    kModeBox = 0,
    kModeEdge = 1,
    kModeWire = 2,
    kModeShade = 3,
    kModeDouble = 4,
    kModePoint = 5,
};

constexpr int kRenderModeCount = 6;

constexpr bool IsRenderMode(int mode)
{
    return mode >= kModeBox && mode <= kModePoint;
}

// Display-list numbers, the same in every pane of one share group. Number 2 is unused.
enum SceneList : std::uint32_t {
    kListBoxes = 1,
    kListEdges = 3,
    kListFaces = 4,
    kListBackFaces = 5,
    kListNormals = 6,
    kListFirstLight = 7, // lights 0 to 7 use lists 7 to 14
    kListSceneMarks = 15,
};

constexpr int kMaxLights = 8;
constexpr std::uint32_t kLastSceneList = kListSceneMarks;

// Rasterisation of one render mode.
struct ModeState {
    int cullFace;    // 1: back faces culled
    int depthTest;   // 1: depth test on
    int polygonMode; // 0 points, 1 lines, 2 filled
    int lit;         // 1: lighting in the User pane
};

// The row of mode; false (and out untouched) for a code outside 0 to 5.
bool LookupModeState(int mode, ModeState& out) noexcept;

// Window titles of the panes, by kind.
const char* ViewTitle(int kind) noexcept;

} // namespace polyvant
