#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace polyvant::formats {

// Splits a polygon into triangles that cover it without folding over it, keeping its
// winding. `vertexData` holds x, y, z per vertex; `corners` the polygon's vertex
// indices in order (all < vertex count, checked by the caller). Convex polygons
// become a fan from corner 0; concave ones are ear-clipped in the plane of their
// Newell normal. Appends three indices per triangle to `triangles`; n < 3 appends
// nothing. Degenerate polygons still give n - 2 triangles (a fan).
void TriangulatePolygon(const double* vertexData, const std::uint32_t* corners, std::size_t n,
                        std::vector<std::uint32_t>& triangles);

} // namespace polyvant::formats
