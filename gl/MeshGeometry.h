#pragma once
#include <vector>

// What one mesh contributes to the scene lists, computed from its topology: the corners
// of every drawable face with smooth vertex normals, the normal line of every face and the
// feature edges. The work is spread over threads; the result never depends on how many.

namespace polyvant {

class Mesh3d;

struct MeshGeometry {
    std::vector<float> corners;     // p0, p1, p2 of each drawable face
    std::vector<float> normals;     // vertex normals N0, N1, N2 of each drawable face
    std::vector<float> normalLines; // centroid and tip of each drawable face's normal line
    std::vector<float> edges;       // both ends of each feature edge
};

// Faces meeting at a vertex at less than this angle (degrees) share their normals there.
constexpr double kFaceCreaseAngle = 89.0;
// Edges whose faces meet at this angle (degrees) or more are feature edges.
constexpr double kEdgeCreaseAngle = 1.0;

// Fills out from mesh. The topology is built for the call when the mesh has none and freed
// again afterwards. A face with a corner outside the vertex array is left out; a mesh whose
// topology cannot be built gives nothing. threads 0 takes what the machine offers. Throws
// std::bad_alloc when memory runs out.
void CollectMeshGeometry(Mesh3d& mesh, double normalLength, MeshGeometry& out,
                         unsigned threads = 0);

} // namespace polyvant
