#include "LwoWriter.h"

#include <array>
#include <map>

#include "LwoTestSupport.h"

namespace polyvant::formats::test {
namespace {

using MeshPtr = std::unique_ptr<Mesh3d>;

std::vector<MeshPtr> ImportSample(const char* file)
{
    LwoScene scene;
    EXPECT_TRUE(Read(ReadBytes(SamplePath(file)), scene)) << scene.error;
    std::vector<MeshPtr> meshes;
    for (MeshBuilder& m : scene.meshes)
        meshes.emplace_back(m.Finish());
    return meshes;
}

LwoScene WriteAndRead(const std::vector<const Mesh3d*>& meshes)
{
    LwoImage image;
    EXPECT_TRUE(BuildLwoImage(meshes, image)) << image.error;
    LwoScene scene;
    EXPECT_TRUE(Read(image.bytes, scene)) << scene.error;
    EXPECT_TRUE(scene.warnings.empty());
    return scene;
}

std::array<float, 9> Corners(const double* v, const std::uint32_t* f, std::size_t i)
{
    std::array<float, 9> c;
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a)
            c[3 * k + a] = float(v[3 * std::size_t(f[4 * i + k]) + a]);
    return c;
}

class LwoRoundTripTest : public testing::TestWithParam<const char*> {};

TEST_P(LwoRoundTripTest, GivesTheSameTrianglesLayersAndSurfaceGroups)
{
    const std::vector<MeshPtr> original = ImportSample(GetParam());
    std::vector<const Mesh3d*> in;
    for (const MeshPtr& m : original)
        in.push_back(m.get());
    const LwoScene back = WriteAndRead(in);
    ASSERT_EQ(back.meshes.size(), original.size());
    for (std::size_t m = 0; m < original.size(); ++m) {
        const Mesh3d& a = *original[m];
        const MeshBuilder& b = back.meshes[m];
        EXPECT_EQ(b.Name(), a.name);
        EXPECT_EQ(b.VertexCount(), a.vertexCount);
        ASSERT_EQ(b.TriangleCount(), a.faceCount);
        // Surfaces are renumbered densely in order; the grouping must stay the same.
        std::map<std::uint32_t, std::uint32_t> renumber;
        for (std::size_t i = 0; i < a.faceCount; ++i) {
            ASSERT_EQ(Corners(a.vertexData, a.faceData, i), Corners(b.Vertices(), b.Faces(), i));
            const auto [it, added] = renumber.emplace(a.faceData[4 * i + 3], b.Faces()[4 * i + 3]);
            ASSERT_EQ(it->second, b.Faces()[4 * i + 3]) << "face " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, LwoRoundTripTest,
                         testing::Values("lwo/lwo2_UglyVertexColors.lwo", "lwo/lwo2_hierarchy.lwo",
                                         "lwo/lwo2_concave_polygon.lwo",
                                         "lwo/lwob_sphere_with_mat_gloss_10pc.lwo",
                                         "lwo/lwo2_Subdivision.lwo"));

TEST(LwoWriterTest, WritesFourByteIndicesForBigMeshes)
{
    // 70 000 points: indices from 0xFF00 on need the 4-byte form.
    std::vector<double> xyz;
    std::vector<std::uint32_t> faces;
    for (std::uint32_t i = 0; i < 70000; ++i)
        xyz.insert(xyz.end(), {double(i), double(i % 7), -double(i % 3)});
    for (std::uint32_t i = 0; i + 2 < 70000; i += 3)
        faces.insert(faces.end(), {i, i + 1, i + 2, i % 5});
    const MeshPtr big(MakeMesh("big", xyz, faces));
    const LwoScene back = WriteAndRead({big.get()});
    const MeshBuilder& m = back.meshes.at(0);
    ASSERT_EQ(m.TriangleCount(), big->faceCount);
    for (std::size_t i = 0; i < big->faceCount; ++i)
        ASSERT_EQ(Corners(big->vertexData, big->faceData, i), Corners(m.Vertices(), m.Faces(), i));
    // Word 3 values 0..4 are dense and sorted, so they come back as 1..5.
    EXPECT_EQ(m.Faces()[4 * 7 + 3], big->faceData[4 * 7 + 3] + 1);
}

TEST(LwoWriterTest, RefusesMeshesItCannotWriteFaithfully)
{
    const MeshPtr badIndex(MakeMesh("i", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3, 0}));
    const MeshPtr nan(MakeMesh("n", {0, 0, 0, 1, 0, 0, 0, NAN, 0}, {0, 1, 2, 0}));
    const MeshPtr huge(MakeMesh("h", {0, 0, 0, 1e39, 0, 0, 0, 1, 0}, {0, 1, 2, 0}));
    for (const Mesh3d* mesh : {badIndex.get(), nan.get(), huge.get()}) {
        LwoImage image;
        EXPECT_FALSE(BuildLwoImage({mesh}, image)) << mesh->name;
        EXPECT_NE(image.error.find(std::string("'") + mesh->name + "'"), std::string::npos);
    }
}

} // namespace
} // namespace polyvant::formats::test
