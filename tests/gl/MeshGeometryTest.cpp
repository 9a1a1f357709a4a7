// The geometry behind the scene lists, computed on several threads with a test that skips
// acos, against the plain definition: per corner the sum of the neighbouring face normals
// within the crease angle (VecAngle), and the edges that Mesh3d::ExtractEdges keeps.
#include "MeshGeometry.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>

#include <polyvant/Obj3d.h>
#include <polyvant/Vector.h>

#include "GLTestSupport.h"
#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

namespace polyvant {
namespace {

void Put(std::vector<float>& out, const double* p)
{
    for (int i = 0; i < 3; ++i) {
        out.push_back(float(p[i]));
    }
}

MeshGeometry Reference(Mesh3d& mesh, double normalLength)
{
    MeshGeometry out;
    EXPECT_EQ(mesh.BuildTopology(), 1);
    const VertexArray& vertices = *mesh.vertices;
    const FaceArray& faces = *mesh.faces;
    const std::uint32_t vertexCount = vertices.Count(), faceCount = faces.Count();
    std::vector<std::uint32_t> corners(faceCount * 3);
    std::vector<double> normals(faceCount * 3, 0.0);
    for (std::uint32_t f = 0; f < faceCount; ++f) {
        std::uint32_t* v = &corners[f * 3];
        faces.GetFace(v, f);
        if (v[0] >= vertexCount || v[1] >= vertexCount || v[2] >= vertexCount) {
            v[0] = kNoIndex;
            continue;
        }
        double tri[9];
        for (int k = 0; k < 3; ++k) {
            VecCopy(tri + 3 * k, vertices.Position(v[k]));
        }
        TriangleNormal(tri, &normals[f * 3]);
    }
    for (std::uint32_t f = 0; f < faceCount; ++f) {
        const std::uint32_t* v = &corners[f * 3];
        if (v[0] == kNoIndex) {
            continue;
        }
        const double* fn = &normals[f * 3];
        double centroid[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            const double* p = vertices.Position(v[k]);
            Put(out.corners, p);
            VecAdd(centroid, centroid, p);
            double sum[3] = {0, 0, 0};
            for (std::uint32_t g : vertices.VertexFaceList(v[k])) {
                if (corners[g * 3] != kNoIndex &&
                    VecAngle(&normals[g * 3], fn) < kFaceCreaseAngle) {
                    VecAdd(sum, sum, &normals[g * 3]);
                }
            }
            VecNormalize(sum);
            Put(out.normals, sum);
        }
        VecScale(centroid, centroid, 0.3333333333333333);
        double tip[3];
        VecScale(tip, fn, normalLength);
        VecAdd(tip, tip, centroid);
        Put(out.normalLines, centroid);
        Put(out.normalLines, tip);
    }
    std::unique_ptr<Mesh3d> edges(mesh.ExtractEdges(kEdgeCreaseAngle));
    EXPECT_TRUE(edges);
    for (std::uint32_t e = 0; edges && e < edges->edges->Count(); ++e) {
        std::uint32_t ends[2];
        edges->edges->GetEdge(ends, e);
        Put(out.edges, edges->vertices->Position(ends[0]));
        Put(out.edges, edges->vertices->Position(ends[1]));
    }
    mesh.FreeTopology();
    return out;
}

void ExpectSameBits(const std::vector<float>& a, const std::vector<float>& b, const char* what)
{
    ASSERT_EQ(a.size(), b.size()) << what;
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0) << what;
}

void ExpectSame(const MeshGeometry& got, const MeshGeometry& want)
{
    ExpectSameBits(got.corners, want.corners, "corners");
    ExpectSameBits(got.normals, want.normals, "normals");
    ExpectSameBits(got.normalLines, want.normalLines, "normal lines");
    ExpectSameBits(got.edges, want.edges, "edges");
}

// A rough height field: creases of every angle, with repeated corner positions between the
// cells (merged by the topology), degenerate and collinear faces, a hole, and hinges whose
// normals meet at the crease angles themselves.
Mesh3d* MakeRoughSurface(int n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> height(-0.4, 0.4);
    std::vector<double> p;
    std::vector<std::uint32_t> t;
    std::vector<double> h((n + 1) * (n + 1));
    for (double& z : h) {
        z = random() % 4 == 0 ? 0.0 : height(random);
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if ((i * n + j) % 53 == 7) {
                continue; // a hole: boundary edges inside the surface
            }
            const auto base = std::uint32_t(p.size() / 3);
            for (int c = 0; c < 4; ++c) {
                const int x = i + (c & 1), y = j + (c >> 1);
                p.insert(p.end(), {double(x), double(y), h[x * (n + 1) + y]});
            }
            if ((i + j) % 2) {
                t.insert(t.end(), {base, base + 1, base + 3, base, base + 3, base + 2});
            } else {
                t.insert(t.end(), {base, base + 1, base + 2, base + 1, base + 3, base + 2});
            }
            if ((i * n + j) % 17 == 3) {
                t.insert(t.end(), {base, base, base + 1}); // a corner twice
            }
        }
    }
    // Collinear and zero-area faces.
    const auto c = std::uint32_t(p.size() / 3);
    p.insert(p.end(), {0, 0, 5, 1, 0, 5, 2, 0, 5});
    t.insert(t.end(), {c, c + 1, c + 2, c, c, c});
    // Hinges at exactly the face and edge crease angles, and a hair either side of them.
    for (double angle : {kFaceCreaseAngle, kEdgeCreaseAngle}) {
        for (double delta : {0.0, -1e-12, 1e-12}) {
            const double a = (angle + delta) * M_PI / 180.0;
            const auto b = std::uint32_t(p.size() / 3);
            const double z = 10.0 + 3.0 * double(b);
            p.insert(p.end(), {0, 0, z, 0, 1, z, 1, 0, z, -std::cos(a), 0, z + std::sin(a)});
            t.insert(t.end(), {b, b + 2, b + 1, b, b + 1, b + 3});
        }
    }
    return test::MakeMesh(p, t);
}

TEST(MeshGeometryTest, EveryThreadCountGivesThePlainDefinitionBitForBit)
{
    for (unsigned seed : {1u, 2u}) {
        std::unique_ptr<Mesh3d> mesh(MakeRoughSurface(seed == 1 ? 40 : 260, seed));
        const MeshGeometry want = Reference(*mesh, -0.37);
        ASSERT_GT(want.edges.size(), 0u);
        ASSERT_LT(want.edges.size() / 6, mesh->faceCount * 3 / 2) << "some edges are smooth";
        for (unsigned threads : {1u, 2u, 3u, 8u}) {
            SCOPED_TRACE(threads);
            MeshGeometry got;
            CollectMeshGeometry(*mesh, -0.37, got, threads);
            ExpectSame(got, want);
            EXPECT_EQ(mesh->vertices, nullptr) << "topology built for the call is freed";
        }
    }
}

TEST(MeshGeometryTest, KeepsATopologyItWasGivenAndSkipsFacesOutsideTheVertices)
{
    const std::vector<double> points = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0.5};
    std::unique_ptr<Mesh3d> mesh(test::MakeMesh(points, {0, 1, 2, 1, 3, 2}));
    ASSERT_EQ(mesh->BuildTopology(), 1);
    MeshGeometry got;
    CollectMeshGeometry(*mesh, 1.0, got, 2);
    EXPECT_NE(mesh->vertices, nullptr);
    EXPECT_EQ(got.corners.size(), 18u);
    EXPECT_EQ(got.edges.size(), 5u * 6u) << "four boundary edges and the crease";

    // A face over a missing vertex refuses the topology: nothing to draw, no crash.
    std::unique_ptr<Mesh3d> bad(test::MakeMesh(points, {0, 1, 2, 1, 9, 2}));
    CollectMeshGeometry(*bad, 1.0, got, 2);
    EXPECT_TRUE(got.corners.empty());
    EXPECT_TRUE(got.edges.empty());
}

} // namespace
} // namespace polyvant
