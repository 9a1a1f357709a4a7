#pragma once
#include <cstdint>
#include <string>

namespace polyvant {
class Mesh3d;
}

namespace polyvant::tools {

// What a user checking a mesh wants to know beyond its counts. The topology welds
// positions closer than 1e-6 (as the viewer does), so duplicates and edges are found
// between welded vertices.
struct MeshReport {
    std::string name;
    std::uint32_t faces = 0; // the mesh's own counts
    std::uint32_t vertices = 0;
    bool hasBounds = false;
    double min[3] = {0, 0, 0};
    double max[3] = {0, 0, 0};
    bool topology = false; // false: the counts below could not be computed
    std::uint32_t weldedVertices = 0;
    std::uint64_t degenerateFaces = 0;  // a repeated corner, or no area
    std::uint64_t duplicateFaces = 0;   // the same three corners as an earlier face
    std::uint64_t boundaryEdges = 0;    // used by one face
    std::uint64_t nonManifoldEdges = 0; // used by three faces or more
};

// Builds the mesh's topology for the counts and frees it again; the flat data and
// the bounds are left as they were.
MeshReport AnalyseMesh(Mesh3d& mesh);

} // namespace polyvant::tools
