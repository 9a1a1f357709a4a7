#include "ThreeDsWriter.h"

#include <cfloat>
#include <memory>

#include "ThreeDsTestSupport.h"

namespace polyvant::formats::test {
namespace {

using MeshPtr = std::unique_ptr<Mesh3d>;

std::vector<MeshPtr> ImportSample(const char* file)
{
    const auto bytes = ReadBytes(SamplePath(file));
    ThreeDsScene scene;
    EXPECT_TRUE(Read3ds(bytes.data(), bytes.size(), scene)) << scene.error;
    std::vector<MeshPtr> meshes;
    for (ThreeDsObject& o : scene.objects) {
        meshes.emplace_back(o.mesh.Finish());
        std::copy(o.transform.begin(), o.transform.end(), meshes.back()->transform);
    }
    return meshes;
}

ThreeDsScene WriteAndRead(const std::vector<const Mesh3d*>& meshes, ThreeDsImage& image)
{
    EXPECT_TRUE(Build3dsImage(meshes, image)) << image.error;
    ThreeDsScene scene;
    EXPECT_TRUE(Read3ds(image.bytes.data(), image.bytes.size(), scene)) << scene.error;
    return scene;
}

// The corner positions of triangle i, as floats (what the format stores).
std::array<float, 9> Corners(const double* v, const std::uint32_t* f, std::size_t i)
{
    std::array<float, 9> c;
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a)
            c[3 * k + a] = float(v[3 * std::size_t(f[4 * i + k]) + a]);
    return c;
}

class ThreeDsRoundTripTest : public testing::TestWithParam<const char*> {};

TEST_P(ThreeDsRoundTripTest, GivesTheSameTrianglesNamesGroupsAndAxes)
{
    const std::vector<MeshPtr> original = ImportSample(GetParam());
    std::vector<const Mesh3d*> in;
    for (const MeshPtr& m : original)
        in.push_back(m.get());
    ThreeDsImage image;
    const ThreeDsScene back = WriteAndRead(in, image);
    EXPECT_TRUE(image.renames.empty());
    ASSERT_EQ(back.objects.size(), original.size());
    for (std::size_t m = 0; m < original.size(); ++m) {
        const Mesh3d& a = *original[m];
        const MeshBuilder& b = back.objects[m].mesh;
        EXPECT_EQ(b.Name(), a.name);
        ASSERT_EQ(b.TriangleCount(), a.faceCount);
        for (std::size_t i = 0; i < a.faceCount; ++i) {
            ASSERT_EQ(Corners(a.vertexData, a.faceData, i), Corners(b.Vertices(), b.Faces(), i));
            // The samples number their materials densely, so the numbers survive too.
            ASSERT_EQ(a.faceData[4 * i + 3], b.Faces()[4 * i + 3]);
        }
        for (int k = 0; k < 16; ++k)
            EXPECT_EQ(float(a.transform[k]), float(back.objects[m].transform[k]));
    }
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, ThreeDsRoundTripTest,
                         testing::Values("3ds/cart_wheel.3DS", "3ds/jeep1.3ds", "3ds/test1.3ds",
                                         "3ds/cubes_with_alpha.3DS", "3ds/RotatingCube.3DS"));

// A grid of (n + 1)^2 vertices and 2 n^2 triangles, word 3 = row parity + 1.
MeshPtr Grid(const char* name, std::uint32_t n)
{
    std::vector<double> xyz;
    std::vector<std::uint32_t> faces;
    for (std::uint32_t y = 0; y <= n; ++y)
        for (std::uint32_t x = 0; x <= n; ++x)
            xyz.insert(xyz.end(), {double(x), double(y), 0.0});
    for (std::uint32_t y = 0; y < n; ++y)
        for (std::uint32_t x = 0; x < n; ++x) {
            const std::uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
            faces.insert(faces.end(), {a, b, c, y % 2 + 1, a, c, d, y % 2 + 1});
        }
    return MeshPtr(MakeMesh(name, xyz, faces));
}

TEST(ThreeDsWriterTest, SplitsBigMeshesIntoNumberedPartsWithinSixteenBits)
{
    const MeshPtr grid = Grid("big_landscape", 300); // 90601 vertices, 180000 triangles
    ThreeDsImage image;
    const ThreeDsScene back = WriteAndRead({grid.get()}, image);
    ASSERT_GE(back.objects.size(), 3u);
    std::size_t next = 0;
    for (std::size_t p = 0; p < back.objects.size(); ++p) {
        const MeshBuilder& part = back.objects[p].mesh;
        EXPECT_EQ(part.Name(), "big_land_" + std::to_string(p + 1));
        EXPECT_LE(part.VertexCount(), 65535u);
        EXPECT_LE(part.TriangleCount(), 65535u);
        // Parts keep the face order, so the triangles line up one by one.
        for (std::size_t i = 0; i < part.TriangleCount(); ++i, ++next) {
            ASSERT_EQ(Corners(part.Vertices(), part.Faces(), i),
                      Corners(grid->vertexData, grid->faceData, next));
            ASSERT_EQ(part.Faces()[4 * i + 3], grid->faceData[4 * next + 3]);
        }
    }
    EXPECT_EQ(next, grid->faceCount);
    ASSERT_EQ(image.renames.size(), 1u);
    EXPECT_EQ(image.renames[0], "'big_landscape' -> 'big_land_1' ... 'big_land_" +
                                    std::to_string(back.objects.size()) + "' (" +
                                    std::to_string(back.objects.size()) + " parts)");
}

TEST(ThreeDsWriterTest, CutsLongNamesToTenCharactersAndListsOnlyThose)
{
    const MeshPtr a = Grid("exactly_10", 1), b = Grid("much_longer_name", 1), c = Grid("", 1);
    ThreeDsImage image;
    const ThreeDsScene back = WriteAndRead({a.get(), b.get(), c.get()}, image);
    ASSERT_EQ(back.objects.size(), 3u);
    EXPECT_EQ(back.objects[0].mesh.Name(), "exactly_10");
    EXPECT_EQ(back.objects[1].mesh.Name(), "much_longe");
    EXPECT_EQ(back.objects[2].mesh.Name(), "Object");
    EXPECT_EQ(image.renames,
              (std::vector<std::string>{"'much_longer_name' -> 'much_longe'", "'' -> 'Object'"}));
}

TEST(ThreeDsWriterTest, RefusesMeshesItCannotWriteFaithfully)
{
    const MeshPtr badIndex(MakeMesh("i", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3, 0}));
    const MeshPtr nan(MakeMesh("n", {0, 0, 0, 1, 0, 0, 0, NAN, 0}, {0, 1, 2, 0}));
    const MeshPtr huge(MakeMesh("h", {0, 0, 0, 1e39, 0, 0, 0, 1, 0}, {0, 1, 2, 0}));
    for (const Mesh3d* mesh : {badIndex.get(), nan.get(), huge.get()}) {
        ThreeDsImage image;
        EXPECT_FALSE(Build3dsImage({mesh}, image)) << mesh->name;
        EXPECT_NE(image.error.find(std::string("'") + mesh->name + "'"), std::string::npos);
        EXPECT_TRUE(image.bytes.empty());
    }
}

} // namespace
} // namespace polyvant::formats::test
