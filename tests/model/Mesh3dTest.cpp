#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

#include <polyvant/Obj3d.h>

#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

using namespace polyvant;

namespace {

// A mesh as an import plug-in hands it over: flat malloc'd arrays, no topology.
Mesh3d* FlatMesh(std::initializer_list<double> points, std::initializer_list<std::uint32_t> records)
{
    auto* mesh = new Mesh3d("flat", Mesh3d::kFlat);
    mesh->vertexCount = static_cast<std::uint32_t>(points.size() / 3);
    mesh->faceCount = static_cast<std::uint32_t>(records.size() / 4);
    mesh->vertexData = static_cast<double*>(std::malloc(points.size() * sizeof(double) + 8));
    mesh->faceData =
        static_cast<std::uint32_t*>(std::malloc(records.size() * sizeof(std::uint32_t) + 4));
    std::copy(points.begin(), points.end(), mesh->vertexData);
    std::copy(records.begin(), records.end(), mesh->faceData);
    return mesh;
}

// The unit square split along its diagonal 0-2; the second triangle wound either way.
Mesh3d* Square(bool sameWinding)
{
    return FlatMesh({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0},
                    {0, 1, 2, 0, 0, sameWinding ? 2u : 3u, sameWinding ? 3u : 2u, 0});
}

std::vector<std::uint32_t> FaceList(const Mesh3d& mesh, std::uint32_t v)
{
    const IndexList list = mesh.vertices->VertexFaceList(v);
    return {list.begin(), list.end()};
}

} // namespace

TEST(Mesh3dTest, FlatMeshHasNoTopologyAndAHostMeshHasAll)
{
    Mesh3d flat("a", Mesh3d::kFlat);
    EXPECT_TRUE(!flat.vertices && !flat.faces && !flat.edges);
    EXPECT_EQ(flat.boundsEmpty, 1);
    EXPECT_EQ(flat.transform[15], 1.0);
    Mesh3d host("b", 0);
    ASSERT_TRUE(host.vertices && host.faces && host.edges);
    EXPECT_EQ(host.faces->Count(), 0u);
    host.SetName(host.GetName()); // its own name: copied before the old one is freed
    EXPECT_STREQ(host.GetName(), "b");
}

TEST(Mesh3dTest, BuildTopologyWeldsSharedCornersAndLinksEverything)
{
    Mesh3d* mesh = Square(true);
    ASSERT_EQ(mesh->BuildTopology(), 1);
    EXPECT_EQ(mesh->vertices->Count(), 4u);
    EXPECT_EQ(mesh->faces->Count(), 2u);
    EXPECT_EQ(mesh->edges->Count(), 5u);
    EXPECT_EQ(FaceList(*mesh, 0), (std::vector<std::uint32_t>{1, 0}));
    std::uint32_t slots[2];
    mesh->edges->GetEdgeFaces(slots, 2); // the diagonal (2, 0)
    EXPECT_EQ(slots[0], 0u);
    EXPECT_EQ(slots[1], 1u);
    double p0[3], p1[3], p2[3];
    mesh->GetFaceTriangle(1, p0, p1, p2);
    EXPECT_EQ(p2[0], 0.0);
    EXPECT_EQ(p2[1], 1.0);
    EXPECT_EQ(mesh->min[0], 0.0);
    EXPECT_EQ(mesh->max[1], 1.0);
    EXPECT_EQ(mesh->boundsEmpty, 0);
    mesh->FreeTopology();
    EXPECT_EQ(mesh->vertices, nullptr);
    EXPECT_EQ(mesh->vertexCount, 4u); // the flat data stays
    delete mesh;
}

TEST(Mesh3dTest, RepeatedFaceIsOneFaceNamedTwiceByItsEdges)
{
    Mesh3d* mesh = FlatMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0, 2, 0, 1, 0});
    ASSERT_EQ(mesh->BuildTopology(), 1);
    EXPECT_EQ(mesh->faces->Count(), 1u);
    EXPECT_EQ(mesh->edges->Count(), 3u);
    for (std::uint32_t e = 0; e < 3; ++e) {
        std::uint32_t slots[2];
        mesh->edges->GetEdgeFaces(slots, e);
        EXPECT_EQ(slots[0], 0u);
        EXPECT_EQ(slots[1], 0u);
    }
    delete mesh;
}

TEST(Mesh3dTest, EmptyMeshBuildsThreeEmptyArrays)
{
    Mesh3d* mesh = FlatMesh({}, {});
    ASSERT_EQ(mesh->BuildTopology(), 1);
    ASSERT_NE(mesh->edges, nullptr);
    EXPECT_EQ(mesh->vertices->Count(), 0u);
    EXPECT_EQ(mesh->faces->Count(), 0u);
    EXPECT_EQ(mesh->edges->Count(), 0u);
    EXPECT_EQ(mesh->boundsEmpty, 1);
    delete mesh;
}

TEST(Mesh3dTest, BuildTopologyLeavesExistingTopologyAlone)
{
    Mesh3d* mesh = Square(true);
    ASSERT_EQ(mesh->BuildTopology(), 1);
    VertexArray* before = mesh->vertices;
    EXPECT_EQ(mesh->BuildTopology(), 1);
    EXPECT_EQ(mesh->vertices, before);
    EXPECT_EQ(mesh->faces->Count(), 2u);
    delete mesh;

    Mesh3d host("host", 4); // topology present from the start, no flat data
    EXPECT_EQ(host.BuildTopology(), 1);
    EXPECT_EQ(host.faces->Count(), 0u);
}

TEST(Mesh3dTest, BuildTopologyWithoutFlatDataBuildsNothing)
{
    Mesh3d mesh("none", Mesh3d::kFlat);
    mesh.faceCount = 3;
    EXPECT_EQ(mesh.BuildTopology(), 0);
    EXPECT_EQ(mesh.vertices, nullptr);
}

TEST(Mesh3dTest, BuildTopologyFailsCleanlyOnAnIndexPastTheVertices)
{
    Mesh3d* mesh =
        FlatMesh({0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5}, {0, 1, 2, 0, 0, 2, 3, 0, 0, 1, 4, 0});
    EXPECT_EQ(mesh->BuildTopology(), 0);
    EXPECT_EQ(mesh->vertices, nullptr);
    EXPECT_EQ(mesh->faces, nullptr);
    EXPECT_EQ(mesh->edges, nullptr);
    EXPECT_EQ(mesh->boundsEmpty, 1); // the bounds are as before the attempt
    mesh->faceData[10] = 3;
    EXPECT_EQ(mesh->BuildTopology(), 1);
    EXPECT_EQ(mesh->max[0], 5.0);
    delete mesh;
}

TEST(Mesh3dTest, AddTriangleNeedsAllThreeArrays)
{
    Mesh3d mesh("m", Mesh3d::kFlat);
    const double a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0};
    mesh.AddTriangle(a, b, c);
    EXPECT_EQ(mesh.boundsEmpty, 1);
    double out[3] = {9, 9, 9};
    mesh.GetFaceTriangle(0, out, out, out);
    EXPECT_EQ(out[0], 9.0);
}

TEST(ExtractEdgesTest, AngleDecidesWhichInnerEdgesAreTaken)
{
    struct Case {
        bool sameWinding;
        double angle;
        std::uint32_t edges;
    };
    for (const Case& c :
         {Case{true, 0, 5}, Case{true, -1, 5}, Case{true, NAN, 5}, Case{true, 30, 4},
          Case{false, 30, 5}, Case{false, 180, 5}, Case{false, 180.5, 4}}) {
        SCOPED_TRACE(testing::Message() << c.sameWinding << " " << c.angle);
        Mesh3d* mesh = Square(c.sameWinding);
        ASSERT_EQ(mesh->BuildTopology(), 1);
        Mesh3d* lines = mesh->ExtractEdges(c.angle);
        ASSERT_NE(lines, nullptr);
        EXPECT_EQ(lines->edges->Count(), c.edges);
        EXPECT_EQ(lines->vertices->Count(), 4u);
        EXPECT_EQ(lines->faces->Count(), 0u);
        EXPECT_EQ(lines->vertexData, nullptr);
        EXPECT_EQ(lines->boundsEmpty, 1);
        EXPECT_STREQ(lines->GetName(), "flat");
        delete lines;
        delete mesh;
    }
}

TEST(ExtractEdgesTest, NoTopologyGivesNull)
{
    Mesh3d* mesh = Square(true);
    EXPECT_EQ(mesh->ExtractEdges(0), nullptr);
    delete mesh;
}

TEST(Mesh3dTest, ReverseWindingTwiceRestoresTheRecords)
{
    Mesh3d* mesh = FlatMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 77, 2, 0, 1, 0xDEADBEEF});
    const std::vector<std::uint32_t> before(mesh->faceData, mesh->faceData + 8);
    mesh->ReverseWinding();
    EXPECT_EQ(std::vector<std::uint32_t>(mesh->faceData, mesh->faceData + 8),
              (std::vector<std::uint32_t>{0, 2, 1, 77, 2, 1, 0, 0xDEADBEEF}));
    mesh->ReverseWinding();
    EXPECT_EQ(std::vector<std::uint32_t>(mesh->faceData, mesh->faceData + 8), before);
    delete mesh;

    Mesh3d empty("e", Mesh3d::kFlat);
    empty.faceCount = 5; // no arrays: nothing to touch
    empty.ReverseWinding();
}
