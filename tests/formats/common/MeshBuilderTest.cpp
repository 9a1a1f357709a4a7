#include "common/MeshBuilder.h"

#include <gtest/gtest.h>
#include <memory>

#include "FormatTestSupport.h"

namespace polyvant::formats {
namespace {

TEST(MeshBuilder, HandsItsArraysToTheMeshWithBounds)
{
    MeshBuilder b("part");
    b.Reserve(3, 1);
    b.AddVertex(1, -2, 3);
    b.AddVertex(-1, 5, 0);
    b.AddVertex(0, 0, -7);
    b.AddTriangle(0, 1, 2, 9);
    const double* storage = b.Vertices();
    std::unique_ptr<Mesh3d> mesh(b.Finish());
    ASSERT_TRUE(mesh);
    test::ExpectValidMesh(*mesh);
    EXPECT_STREQ(mesh->name, "part");
    EXPECT_EQ(mesh->vertexData, storage); // taken over, not copied
    EXPECT_EQ(mesh->faceData[3], 9u);
    EXPECT_EQ(mesh->min[2], -7);
    EXPECT_EQ(mesh->max[1], 5);
    EXPECT_EQ(b.VertexCount(), 0u);
}

TEST(MeshBuilder, GrowsPastManyReallocations)
{
    MeshBuilder b;
    for (std::uint32_t i = 0; i < 100000; ++i) {
        b.AddVertex(i, 0, 0);
        if (i >= 2)
            b.AddTriangle(i - 2, i - 1, i);
    }
    std::unique_ptr<Mesh3d> mesh(b.Finish());
    ASSERT_EQ(mesh->vertexCount, 100000u);
    EXPECT_EQ(mesh->faceCount, 99998u);
    EXPECT_EQ(mesh->vertexData[3 * 99999], 99999.0);
    EXPECT_EQ(mesh->max[0], 99999.0);
}

TEST(MeshBuilder, EmptyBuilderGivesAMeshWithEmptyBounds)
{
    MeshBuilder b("none");
    std::unique_ptr<Mesh3d> mesh(b.Finish());
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->vertexData, nullptr);
    EXPECT_EQ(mesh->faceData, nullptr);
    EXPECT_EQ(mesh->boundsEmpty, 1);
}

TEST(MeshBuilder, SplitsPolygonsKeepingWord3)
{
    MeshBuilder b;
    for (auto [x, y] : {std::pair{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}})
        b.AddVertex(x, y, 0);
    const std::uint32_t corners[] = {0, 1, 2, 3, 4, 5};
    b.AddPolygon(corners, 6, 4);
    b.AddPolygon(corners, 2, 4); // too few corners: nothing
    ASSERT_EQ(b.TriangleCount(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(b.Faces()[4 * i + 3], 4u);
}

} // namespace
} // namespace polyvant::formats
