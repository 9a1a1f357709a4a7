#pragma once
#include <cstdint>
#include <vector>

// The benchmark torus of tools/gen_mesh.py, generated in memory: R = 1, r = 0.35 around
// (0.5, -0.25, 0.125), displaced by two sine terms, every quad of an nu x nv grid split
// into two triangles, every vertex shared by six. Coordinates are rounded to six decimals
// as in the OBJ file the script writes.

namespace bench {

struct TorusMesh {
    std::vector<double> points;         // x, y, z per vertex
    std::vector<std::uint32_t> records; // four words per face: a, b, c, 0
    std::uint32_t VertexCount() const { return static_cast<std::uint32_t>(points.size() / 3); }
    std::uint32_t FaceCount() const { return static_cast<std::uint32_t>(records.size() / 4); }
};

// triangles must be even and at least 8.
TorusMesh MakeTorus(std::uint32_t triangles);

} // namespace bench
