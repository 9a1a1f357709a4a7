#pragma once

// The fixed table of moderate object colours; every scene entry gets one row per build.

namespace polyvant {

constexpr int kColourTableRows = 93;

// Red, green, blue in 0 to 1 of row (row taken modulo the table size, never negative).
const double* ColourTableRow(int row) noexcept;

} // namespace polyvant
