#include "MeshReport.h"

#include <cmath>

#include <polyvant/Obj3d.h>

#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

namespace polyvant::tools {
namespace {

bool HasArea(const double* a, const double* b, const double* c) noexcept
{
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                         u[0] * v[1] - u[1] * v[0]};
    const double area2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    // Relative to the longest side, so the test does not depend on the model's scale.
    const double w[3] = {c[0] - b[0], c[1] - b[1], c[2] - b[2]};
    double longest = 0;
    for (const double* e : {u, v, w})
        longest = std::fmax(longest, e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
    return area2 > longest * longest * 1e-24;
}

bool RepeatsCorner(const std::uint32_t* v) noexcept
{
    return v[0] == v[1] || v[1] == v[2] || v[0] == v[2];
}

} // namespace

MeshReport AnalyseMesh(Mesh3d& mesh)
{
    MeshReport report;
    report.name = mesh.name ? mesh.name : "";
    report.faces = mesh.faceCount;
    report.vertices = mesh.vertexCount;
    report.hasBounds = !mesh.boundsEmpty;
    for (int k = 0; k < 3; ++k) {
        report.min[k] = mesh.min[k];
        report.max[k] = mesh.max[k];
    }
    if (mesh.vertices || mesh.faces || mesh.edges)
        return report; // topology the host did not build: leave it alone
    const std::int32_t savedEmpty = mesh.boundsEmpty;
    double savedMin[3], savedMax[3];
    for (int k = 0; k < 3; ++k) {
        savedMin[k] = mesh.min[k];
        savedMax[k] = mesh.max[k];
    }
    if (mesh.faceCount > 0 && mesh.BuildTopology()) {
        const VertexArray& vertices = *mesh.vertices;
        const FaceArray& faces = *mesh.faces;
        const EdgeArray& edges = *mesh.edges;
        report.topology = true;
        report.weldedVertices = vertices.Count();
        // The face array keeps one face per set of three corners.
        report.duplicateFaces = std::uint64_t(mesh.faceCount) - faces.Count();
        for (std::uint32_t f = 0; f < faces.Count(); ++f) {
            const std::uint32_t* v = faces.Vertices(f);
            if (RepeatsCorner(v) ||
                !HasArea(vertices.Position(v[0]), vertices.Position(v[1]), vertices.Position(v[2])))
                ++report.degenerateFaces;
        }
        // An edge record keeps two face slots only: count the faces around an edge
        // from the face list of one end, skipping faces with a repeated corner.
        for (std::uint32_t e = 0; e < edges.Count(); ++e) {
            const std::uint32_t* ends = edges.Vertices(e);
            if (ends[0] == ends[1])
                continue;
            std::uint32_t around = 0;
            for (std::uint32_t f : vertices.VertexFaceList(ends[0])) {
                const std::uint32_t* v = faces.Vertices(f);
                if (!RepeatsCorner(v) && (v[0] == ends[1] || v[1] == ends[1] || v[2] == ends[1]))
                    ++around;
            }
            if (around == 1)
                ++report.boundaryEdges;
            else if (around > 2)
                ++report.nonManifoldEdges;
        }
    }
    mesh.FreeTopology();
    mesh.boundsEmpty = savedEmpty;
    for (int k = 0; k < 3; ++k) {
        mesh.min[k] = savedMin[k];
        mesh.max[k] = savedMax[k];
    }
    return report;
}

} // namespace polyvant::tools
