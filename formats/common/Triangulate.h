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

// Bounds the ear-clipping work of everything triangulated on this thread while the
// scope lives (one import), so a file full of huge concave polygons cannot stall an
// import: once the work is spent, further concave polygons become fans. Scopes nest;
// the innermost counts.
class TriangulationScope {
public:
    explicit TriangulationScope(std::size_t work) noexcept;
    ~TriangulationScope();
    TriangulationScope(const TriangulationScope&) = delete;
    TriangulationScope& operator=(const TriangulationScope&) = delete;

    // Concave polygons fanned because the work was spent.
    std::size_t Fanned() const noexcept { return fanned; }

private:
    friend void TriangulatePolygon(const double*, const std::uint32_t*, std::size_t,
                                   std::vector<std::uint32_t>&);
    std::size_t remaining;
    std::size_t fanned = 0;
    TriangulationScope* outer;
};

} // namespace polyvant::formats
