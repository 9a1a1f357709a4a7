#include "GLTypes.h"

namespace polyvant {

namespace {

const ModeState kModeTable[kRenderModeCount] = {
    {0, 1, 1, 0}, // Box
    {0, 1, 1, 0}, // Edge
    {1, 1, 1, 1}, // Wire
    {1, 1, 2, 1}, // Shade
    {1, 1, 2, 1}, // Double
    {1, 1, 0, 0}, // Point
};

const char* const kTitles[4] = {"Top View", "Side View", "Front View", "User View"};

} // namespace

bool LookupModeState(int mode, ModeState& out) noexcept
{
    if (!IsRenderMode(mode)) {
        return false;
    }
    out = kModeTable[mode];
    return true;
}

const char* ViewTitle(int kind) noexcept
{
    return kind >= 0 && kind < 4 ? kTitles[kind] : "";
}

} // namespace polyvant
