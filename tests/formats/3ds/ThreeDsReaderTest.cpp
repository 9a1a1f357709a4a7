#include "ThreeDsReader.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "ThreeDsTestSupport.h"

namespace polyvant::formats::test {
namespace {

// Figures from a separate Python walk of the chunk tree (struct.unpack over 0x4110 /
// 0x4120 / 0x4130), not from this reader. Bounds are over the raw editor vertices: the
// keyframer is not applied.
struct Sample {
    const char* file;
    std::size_t meshes, vertices, triangles, materials;
    unsigned cameras;
    double min[3], max[3];
};

// clang-format off
const Sample kSamples[] = {
    {"3ds/CameraRollAnim.3ds", 1, 26, 12, 0, 1, {-24.786327, -24.786327, 0}, {45.868946, 23.076923, 38.746437}},
    {"3ds/CameraRollAnimWithChildObject.3ds", 2, 52, 24, 0, 1, {-54.889870, -97.417114, 0}, {45.868946, 23.076923, 38.746437}},
    {"3ds/RotatingCube.3DS", 1, 26, 12, 0, 0, {-46.092499, -40.815239, -35.542877}, {8.761116, 25.887640, 39.087543}},
    // `assimp info` (5.2) reports 4 meshes and 1292 faces: it counts meshes that are
    // instances of one shape once (its OBJ export of the file writes all 1400 faces).
    {"3ds/cart_wheel.3DS", 13, 720, 1400, 2, 0, {-16.1, 11.064980, 0.900003}, {16.1, 14.064979, 33.099998}},
    {"3ds/cube_with_diffuse_texture.3DS", 1, 32, 12, 1, 0, {-50.000004, 32.617729, -30.540165}, {0.0000077, 82.617737, 19.459839}},
    {"3ds/cubes_with_alpha.3DS", 5, 130, 60, 5, 0, {-856.310974, -55.100884, -268.159119}, {98.810463, 1227.140869, 248.437958}},
    {"3ds/fels.3ds", 1, 386, 768, 1, 0, {-2.221913, -3.084285, -2.564741}, {1.282885, 0.121266, 2.116860}},
    {"3ds/jeep1.3ds", 7, 1948, 2032, 1, 0, {-5.529237, -4.347863, -0.026048}, {5.529237, 12.298016, 7.613540}},
    {"3ds/mp5_sil.3ds", 1, 256, 366, 1, 0, {-1.391152, -12.718689, -9.863222}, {1.391157, 31.482225, 9.500540}},
    // `assimp info` reports 5 meshes and 60 faces for the same reason; its OBJ export
    // writes all 108 faces of the nine objects.
    {"3ds/test1.3ds", 9, 288, 108, 3, 0, {-10.343208, -0.194162, -10.155075}, {9.850851, 10.230272, 10.247583}},
};
// clang-format on

class ThreeDsSampleTest : public testing::TestWithParam<Sample> {};

TEST_P(ThreeDsSampleTest, GivesTheObjectsCountsAndBoundsTheFileHolds)
{
    const Sample& s = GetParam();
    ThreeDsScene scene;
    std::vector<MeshPtr> meshes;
    ASSERT_TRUE(Read(ReadBytes(TestData(s.file)), scene, &meshes)) << scene.error;
    EXPECT_TRUE(scene.warnings.empty());
    ASSERT_EQ(meshes.size(), s.meshes);
    EXPECT_EQ(scene.materials.size(), s.materials);
    EXPECT_EQ(scene.cameras, s.cameras);
    std::size_t vertices = 0, triangles = 0;
    double lo[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, hi[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
    for (const MeshPtr& m : meshes) {
        vertices += m->vertexCount;
        triangles += m->faceCount;
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], m->min[c]);
            hi[c] = std::max(hi[c], m->max[c]);
        }
    }
    EXPECT_EQ(vertices, s.vertices);
    EXPECT_EQ(triangles, s.triangles);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(lo[c], s.min[c], 1e-5 * std::max(1.0, std::fabs(s.min[c])));
        EXPECT_NEAR(hi[c], s.max[c], 1e-5 * std::max(1.0, std::fabs(s.max[c])));
    }
}

// Every strict prefix cuts the main chunk short; flipped bytes make chunks lie. Either
// way: an error at an offset inside the file, or meshes the host can trust (checked
// in Read).
TEST_P(ThreeDsSampleTest, DamagedCopiesGiveErrorsOrValidMeshes)
{
    const std::string good = ReadBytes(TestData(GetParam().file));
    for (std::size_t n = 0; n < good.size();
         n += n < 64 ? 1 : std::max<std::size_t>(1, good.size() / 400)) {
        ThreeDsScene scene;
        EXPECT_FALSE(Read(good.substr(0, n), scene, nullptr)) << n;
        EXPECT_LE(scene.errorOffset, n);
    }
    for (std::size_t i = 0; i < good.size(); i += std::max<std::size_t>(1, good.size() / 600))
        for (unsigned char mask : {0xFF, 0x80, 0x01, 0x7F}) {
            std::string bad = good;
            bad[i] = char(bad[i] ^ mask);
            ThreeDsScene scene;
            if (!Read(bad, scene, nullptr)) {
                EXPECT_LT(scene.errorOffset, bad.size());
            }
        }
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, ThreeDsSampleTest, testing::ValuesIn(kSamples));

TEST(ThreeDsReaderTest, PutsFaceMaterialGroupsIntoWordThreeAndKeepsBoxesFacingOut)
{
    ThreeDsScene scene;
    std::vector<MeshPtr> wheel, boxes;
    ASSERT_TRUE(Read(ReadBytes(TestData("3ds/cart_wheel.3DS")), scene, &wheel));
    ASSERT_EQ(scene.materials, (std::vector<std::string>{"Wheel_wood", "wood_metal"}));
    EXPECT_STREQ(wheel[0]->name, "wheel_inne");  // every face Wheel_wood (1)
    EXPECT_STREQ(wheel[11]->name, "wheel_meta"); // every face wood_metal (2)
    for (std::uint32_t i = 0; i < wheel[0]->faceCount; ++i)
        ASSERT_EQ(wheel[0]->faceData[4 * i + 3], 1u);
    for (std::uint32_t i = 0; i < wheel[11]->faceCount; ++i)
        ASSERT_EQ(wheel[11]->faceData[4 * i + 3], 2u);

    // Right-handed, Z up, counter-clockwise front faces, as in the program: every
    // normal (p1 - p0) x (p2 - p0) of the nine convex boxes points away from the box.
    ThreeDsScene test1;
    ASSERT_TRUE(Read(ReadBytes(TestData("3ds/test1.3ds")), test1, &boxes));
    for (const MeshPtr& box : boxes) {
        double centre[3];
        for (int c = 0; c < 3; ++c)
            centre[c] = (box->min[c] + box->max[c]) / 2;
        for (std::uint32_t i = 0; i < box->faceCount; ++i) {
            const double* p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = box->vertexData + 3 * box->faceData[4 * i + k];
            double e1[3], e2[3], out[3];
            for (int c = 0; c < 3; ++c) {
                e1[c] = p[1][c] - p[0][c];
                e2[c] = p[2][c] - p[0][c];
                out[c] = p[0][c] + p[1][c] + p[2][c] - 3 * centre[c];
            }
            EXPECT_GT((e1[1] * e2[2] - e1[2] * e2[1]) * out[0] +
                          (e1[2] * e2[0] - e1[0] * e2[2]) * out[1] +
                          (e1[0] * e2[1] - e1[1] * e2[0]) * out[2],
                      0.0)
                << box->name << " face " << i;
        }
    }
}

// A file of one object "tri" whose mesh chunk holds `mesh`.
std::string File(const std::string& mesh, unsigned root = 0x4D4D)
{
    return Chunk(root, Chunk(0x3D3D, Chunk(0x4000, std::string("tri", 4) + Chunk(0x4100, mesh))));
}
std::string Vertices(const std::vector<float>& xyz, unsigned count)
{
    std::string b = U16(count);
    for (float f : xyz)
        b += F32(f);
    return Chunk(0x4110, b);
}
std::string Faces(const std::vector<unsigned>& abc, const std::string& sub = {})
{
    std::string b = U16(unsigned(abc.size() / 3));
    for (std::size_t i = 0; i < abc.size(); i += 3)
        b += U16(abc[i]) + U16(abc[i + 1]) + U16(abc[i + 2]) + U16(7);
    return Chunk(0x4120, b + sub);
}
const std::string kSquare = Vertices({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, 4);

TEST(ThreeDsReaderTest, ReadsProjectFilesOddOrdersUnknownChunksAndLocalAxes)
{
    std::string axes;
    for (float f : {0.f, 1.f, 0.f, -1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 5.f, 6.f, 7.f})
        axes += F32(f);
    const std::string unknown = Chunk(0x1234, std::string(37, '\xEE'));
    const std::string keyframer = Chunk(0xB000, Chunk(0xB002, Chunk(0xB010, "x")));
    // Faces before vertices, in a .prj root, between chunks nobody knows.
    const std::string mesh = unknown + Faces({0, 1, 2, 0, 2, 3}) + kSquare + Chunk(0x4160, axes);
    for (unsigned root : {0x4D4Du, 0xC23Du}) {
        const std::string file = Chunk(root, unknown + File(mesh).substr(6) + keyframer);
        ThreeDsScene scene;
        std::vector<MeshPtr> meshes;
        ASSERT_TRUE(Read(file, scene, &meshes)) << scene.error;
        ASSERT_EQ(meshes.size(), 1u);
        EXPECT_STREQ(meshes[0]->name, "tri");
        EXPECT_EQ(meshes[0]->vertexCount, 4u);
        EXPECT_EQ(meshes[0]->faceCount, 2u);
        const double* m = meshes[0]->transform; // column-major: axes, then origin
        EXPECT_EQ(std::vector<double>(m, m + 16),
                  (std::vector<double>{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1}));
    }
}

TEST(ThreeDsReaderTest, DropsFacesPastTheVertexListWithAWarning)
{
    ThreeDsScene scene;
    std::vector<MeshPtr> meshes;
    ASSERT_TRUE(Read(File(kSquare + Faces({0, 1, 2, 0, 2, 4, 65535, 0, 1})), scene, &meshes));
    EXPECT_EQ(meshes.at(0)->faceCount, 1u);
    ASSERT_EQ(scene.warnings.size(), 1u);
    EXPECT_NE(scene.warnings[0].find("dropped 2 faces"), std::string::npos);
}

TEST(ThreeDsReaderTest, SkipsNestingAHundredThousandDeepWithoutRecursion)
{
    const std::size_t depth = 100000;
    std::string nested;
    nested.reserve(6 * depth);
    for (std::size_t i = 0; i < depth; ++i)
        nested += U16(0x3D00) + U32(std::uint32_t(6 * (depth - i)));
    ThreeDsScene scene;
    EXPECT_TRUE(Read(Chunk(0x4D4D, nested), scene, nullptr)) << scene.error;
}

TEST(ThreeDsReaderTest, RefusesMalformedFilesNamingOffsetAndChunk)
{
    auto lengthAt = [](std::string f, std::size_t at, std::uint32_t length) {
        return f.replace(at + 2, 4, U32(length));
    };
    const std::string good = File(kSquare + Faces({0, 1, 2}));
    const std::string group = Chunk(0x4130, std::string("mat", 4) + U16(40000) + U16(0));
    // Offsets: main 0, editor 6, object 12, its name 18, mesh 22, first sub-chunk 28.
    const struct {
        std::string bytes;
        std::size_t offset;
        const char* message;
    } cases[] = {
        {"", 0, "too short"},
        {Chunk(0x1234, ""), 0, "not a 3D Studio file"},
        {lengthAt(good, 0, 0xFFFFFFFF), 0, "does not fit the file"},
        {lengthAt(good, 28, 0x7FFFFFFF), 28, "runs past the end of its parent chunk 0x4100"},
        {lengthAt(good, 28, 0), 28, "shorter than the 6-byte"},
        {lengthAt(good, 28, 5), 28, "shorter than the 6-byte"},
        {File(Vertices({0, 0, 0}, 0xFFFF)), 28, "65535 vertices need 786420 bytes"},
        {File(kSquare + Chunk(0x4120, U16(0x0909))), 28 + 56, "2313 faces need"},
        {Chunk(0x4D4D, Chunk(0x3D3D, Chunk(0x4000, "longname"))), 12, "no terminating NUL"},
        {File(kSquare + Faces({0, 1, 2}, group)), 28 + 56 + 16, "40000 face indices need"},
        {File(Vertices({0, 0, INFINITY}, 1)), 28 + 8 + 8, "non-finite or huge"},
        {File(Vertices({FLT_MAX, 0, 0}, 1)), 28 + 8, "non-finite or huge"},
    };
    for (const auto& bad : cases) {
        ThreeDsScene scene;
        EXPECT_FALSE(Read(bad.bytes, scene, nullptr)) << bad.message;
        EXPECT_EQ(scene.errorOffset, bad.offset) << scene.error;
        EXPECT_NE(scene.error.find(bad.message), std::string::npos) << scene.error;
    }
}

} // namespace
} // namespace polyvant::formats::test
