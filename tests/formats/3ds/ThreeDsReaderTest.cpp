#include "ThreeDsReader.h"

#include <algorithm>
#include <cfloat>
#include <limits>

#include "ThreeDsTestSupport.h"

namespace polyvant::formats::test {
namespace {

bool Read(const std::vector<unsigned char>& bytes, ThreeDsScene& scene)
{
    // A buffer of exactly the file's size, so ASan sees any read past its end.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + !bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return Read3ds(copy.get(), bytes.size(), scene);
}

// The figures below come from a separate Python walk of the chunk tree (struct.unpack
// over 0x4110 / 0x4120 / 0x4130), not from this reader. Bounds are over the raw editor
// vertices: the keyframer is not applied.
struct Sample {
    const char* file;
    std::size_t meshes, vertices, triangles, materials;
    unsigned cameras;
    double min[3], max[3];
};

const Sample kSamples[] = {
    {"3ds/CameraRollAnim.3ds",
     1,
     26,
     12,
     0,
     1,
     {-24.786327, -24.786327, 0.0},
     {45.868946, 23.076923, 38.746437}},
    {"3ds/CameraRollAnimWithChildObject.3ds",
     2,
     52,
     24,
     0,
     1,
     {-54.889870, -97.417114, 0.0},
     {45.868946, 23.076923, 38.746437}},
    {"3ds/RotatingCube.3DS",
     1,
     26,
     12,
     0,
     0,
     {-46.092499, -40.815239, -35.542877},
     {8.761116, 25.887640, 39.087543}},
    // Assimp 5.2 reports 4 meshes and 1292 faces here: it joins the objects and loses
    // the faces of nine of the ten spoke objects (9 x 12 = 108). The file's thirteen face
    // lists hold 1400 faces, every index inside its object's vertex list.
    {"3ds/cart_wheel.3DS",
     13,
     720,
     1400,
     2,
     0,
     {-16.1, 11.064980, 0.900003},
     {16.1, 14.064979, 33.099998}},
    {"3ds/cube_with_diffuse_texture.3DS",
     1,
     32,
     12,
     1,
     0,
     {-50.000004, 32.617729, -30.540165},
     {0.0000077, 82.617737, 19.459839}},
    {"3ds/cubes_with_alpha.3DS",
     5,
     130,
     60,
     5,
     0,
     {-856.310974, -55.100884, -268.159119},
     {98.810463, 1227.140869, 248.437958}},
    {"3ds/fels.3ds",
     1,
     386,
     768,
     1,
     0,
     {-2.221913, -3.084285, -2.564741},
     {1.282885, 0.121266, 2.116860}},
    {"3ds/jeep1.3ds",
     7,
     1948,
     2032,
     1,
     0,
     {-5.529237, -4.347863, -0.026048},
     {5.529237, 12.298016, 7.613540}},
    {"3ds/mp5_sil.3ds",
     1,
     256,
     366,
     1,
     0,
     {-1.391152, -12.718689, -9.863222},
     {1.391157, 31.482225, 9.500540}},
    // Assimp 5.2 reports 5 meshes: it shares the data of instanced boxes. The file
    // has nine named objects, each with its own 32 vertices and 12 faces.
    {"3ds/test1.3ds",
     9,
     288,
     108,
     3,
     0,
     {-10.343208, -0.194162, -10.155075},
     {9.850851, 10.230272, 10.247583}},
};

class ThreeDsSampleTest : public testing::TestWithParam<Sample> {};

TEST_P(ThreeDsSampleTest, GivesTheObjectsCountsAndBoundsTheFileHolds)
{
    const Sample& s = GetParam();
    ThreeDsScene scene;
    ASSERT_TRUE(Read(ReadBytes(SamplePath(s.file)), scene)) << scene.error;
    EXPECT_TRUE(scene.warnings.empty());
    ASSERT_EQ(scene.objects.size(), s.meshes);
    EXPECT_EQ(scene.materials.size(), s.materials);
    EXPECT_EQ(scene.cameras, s.cameras);
    std::size_t vertices = 0, triangles = 0;
    double lo[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, hi[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
    for (const ThreeDsObject& o : scene.objects) {
        ExpectValidMesh(o.mesh);
        vertices += o.mesh.VertexCount();
        triangles += o.mesh.TriangleCount();
        for (std::size_t i = 0; i < o.mesh.VertexCount(); ++i)
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], o.mesh.Vertices()[3 * i + c]);
                hi[c] = std::max(hi[c], o.mesh.Vertices()[3 * i + c]);
            }
    }
    EXPECT_EQ(vertices, s.vertices);
    EXPECT_EQ(triangles, s.triangles);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(lo[c], s.min[c], 1e-5 * std::max(1.0, std::fabs(s.min[c])));
        EXPECT_NEAR(hi[c], s.max[c], 1e-5 * std::max(1.0, std::fabs(s.max[c])));
    }
}

// Every strict prefix cuts the main chunk short; flipped bytes make any chunk lie.
// Either way: an error naming an offset inside the file, or meshes the host can trust.
TEST_P(ThreeDsSampleTest, DamagedCopiesGiveErrorsOrValidMeshes)
{
    const std::vector<unsigned char> good = ReadBytes(SamplePath(GetParam().file));
    const std::size_t step = std::max<std::size_t>(1, good.size() / 400);
    for (std::size_t n = 0; n < good.size(); n += (n < 64 ? 1 : step)) {
        ThreeDsScene scene;
        EXPECT_FALSE(Read({good.begin(), good.begin() + std::ptrdiff_t(n)}, scene)) << n;
        EXPECT_FALSE(scene.error.empty());
        EXPECT_LE(scene.errorOffset, n);
    }
    const unsigned char masks[] = {0xFF, 0x80, 0x01, 0x7F};
    for (std::size_t i = 0; i < good.size(); i += std::max<std::size_t>(1, good.size() / 600))
        for (unsigned char mask : masks) {
            std::vector<unsigned char> bad = good;
            bad[i] ^= mask;
            ThreeDsScene scene;
            if (Read(bad, scene)) {
                for (const ThreeDsObject& o : scene.objects)
                    ExpectValidMesh(o.mesh);
            } else {
                EXPECT_LT(scene.errorOffset, bad.size());
            }
        }
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, ThreeDsSampleTest, testing::ValuesIn(kSamples));

TEST(ThreeDsReaderTest, PutsFaceMaterialGroupsIntoWordThree)
{
    ThreeDsScene scene;
    ASSERT_TRUE(Read(ReadBytes(SamplePath("3ds/cart_wheel.3DS")), scene));
    ASSERT_EQ(scene.materials, (std::vector<std::string>{"Wheel_wood", "wood_metal"}));
    // wheel_inne is all Wheel_wood (material 1), wheel_meta all wood_metal (material 2).
    EXPECT_EQ(scene.objects[0].mesh.Name(), "wheel_inne");
    EXPECT_EQ(scene.objects[11].mesh.Name(), "wheel_meta");
    for (std::size_t i = 0; i < scene.objects[0].mesh.TriangleCount(); ++i)
        ASSERT_EQ(scene.objects[0].mesh.Faces()[4 * i + 3], 1u);
    for (std::size_t i = 0; i < scene.objects[11].mesh.TriangleCount(); ++i)
        ASSERT_EQ(scene.objects[11].mesh.Faces()[4 * i + 3], 2u);
}

TEST(ThreeDsReaderTest, KeepsTheFileCornerOrderSoBoxesFaceOutwards)
{
    // 3D Studio is right-handed with Z up and counter-clockwise front faces, as the
    // program is: each of the nine boxes must have every normal pointing out of it.
    ThreeDsScene scene;
    ASSERT_TRUE(Read(ReadBytes(SamplePath("3ds/test1.3ds")), scene));
    for (const ThreeDsObject& o : scene.objects) {
        const MeshBuilder& box = o.mesh;
        double centre[3] = {0, 0, 0};
        for (std::size_t i = 0; i < 3 * box.VertexCount(); ++i)
            centre[i % 3] += box.Vertices()[i] / double(box.VertexCount());
        for (std::size_t i = 0; i < box.TriangleCount(); ++i) {
            const double* p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = box.Vertices() + 3 * box.Faces()[4 * i + k];
            double e1[3], e2[3], out[3];
            for (int c = 0; c < 3; ++c) {
                e1[c] = p[1][c] - p[0][c];
                e2[c] = p[2][c] - p[0][c];
                out[c] = (p[0][c] + p[1][c] + p[2][c]) / 3 - centre[c];
            }
            const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                 e1[0] * e2[1] - e1[1] * e2[0]};
            EXPECT_GT(n[0] * out[0] + n[1] * out[1] + n[2] * out[2], 0.0) << box.Name() << i;
        }
    }
}

// Hand-made files: a triangle object with the given sub-chunks of its mesh chunk.
std::vector<unsigned char> File(const std::vector<unsigned char>& meshBody, unsigned root = 0x4D4D)
{
    Bytes object;
    object.Str("tri").Raw(Chunk(0x4100, meshBody));
    return Chunk(root, Chunk(0x3D3D, Chunk(0x4000, object.b)));
}

std::vector<unsigned char> Vertices(const std::vector<float>& xyz, unsigned count = 0)
{
    Bytes b;
    b.U16(count ? count : unsigned(xyz.size() / 3));
    for (float f : xyz)
        b.F32(f);
    return Chunk(0x4110, b.b);
}

std::vector<unsigned char> Faces(const std::vector<unsigned>& abc,
                                 const std::vector<unsigned char>& sub = {})
{
    Bytes b;
    b.U16(unsigned(abc.size() / 3));
    for (std::size_t i = 0; i < abc.size(); i += 3)
        b.U16(abc[i]).U16(abc[i + 1]).U16(abc[i + 2]).U16(7);
    return Chunk(0x4120, b.Raw(sub).b);
}

const std::vector<float> kSquare = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};

TEST(ThreeDsReaderTest, ReadsProjectFilesAndFaceListsBeforeVertexLists)
{
    for (unsigned root : {0x4D4Du, 0xC23Du}) {
        ThreeDsScene scene;
        ASSERT_TRUE(Read(File(Cat({Faces({0, 1, 2, 0, 2, 3}), Vertices(kSquare)}), root), scene))
            << scene.error;
        ASSERT_EQ(scene.objects.size(), 1u);
        EXPECT_EQ(scene.objects[0].mesh.Name(), "tri");
        EXPECT_EQ(scene.objects[0].mesh.VertexCount(), 4u);
        EXPECT_EQ(scene.objects[0].mesh.TriangleCount(), 2u);
    }
}

TEST(ThreeDsReaderTest, KeepsTheLocalAxesAsAColumnMajorTransform)
{
    Bytes axes;
    for (float f : {0.f, 1.f, 0.f, -1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 5.f, 6.f, 7.f})
        axes.F32(f);
    ThreeDsScene scene;
    ASSERT_TRUE(
        Read(File(Cat({Vertices(kSquare), Faces({0, 1, 2}), Chunk(0x4160, axes.b)})), scene));
    const auto& m = scene.objects.at(0).transform;
    EXPECT_EQ(m[1], 1.0);  // X axis = (0, 1, 0)
    EXPECT_EQ(m[4], -1.0); // Y axis = (-1, 0, 0)
    EXPECT_EQ(m[10], 1.0); // Z axis
    EXPECT_EQ(m[12], 5.0); // origin
    EXPECT_EQ(m[14], 7.0);
    EXPECT_EQ(m[15], 1.0);
}

TEST(ThreeDsReaderTest, DropsFacesPastTheVertexListWithAWarning)
{
    ThreeDsScene scene;
    ASSERT_TRUE(
        Read(File(Cat({Vertices(kSquare), Faces({0, 1, 2, 0, 2, 4, 65535, 0, 1})})), scene));
    EXPECT_EQ(scene.objects.at(0).mesh.TriangleCount(), 1u);
    ASSERT_EQ(scene.warnings.size(), 1u);
    EXPECT_NE(scene.warnings[0].find("dropped 2 faces"), std::string::npos);
}

TEST(ThreeDsReaderTest, SkipsUnknownChunksAndKeyframerByTheirLength)
{
    const auto unknown = Chunk(0x1234, std::vector<unsigned char>(37, 0xEE));
    const auto keyframer = Chunk(0xB000, Chunk(0xB002, Chunk(0xB010, {'x', 0, 0, 0})));
    Bytes object;
    object.Str("tri").Raw(unknown).Raw(
        Chunk(0x4100, Cat({unknown, Vertices(kSquare), Faces({0, 1, 2})})));
    const auto file =
        Chunk(0x4D4D, Cat({unknown, Chunk(0x3D3D, Chunk(0x4000, object.b)), keyframer}));
    ThreeDsScene scene;
    ASSERT_TRUE(Read(file, scene)) << scene.error;
    EXPECT_EQ(scene.objects.at(0).mesh.TriangleCount(), 1u);
}

struct BadFile {
    const char* what;
    std::vector<unsigned char> bytes;
    std::size_t offset; // where the error must point
    const char* message;
};

// Offsets: main 0, editor 6, object 12, "tri\0" 18, mesh chunk 22, first sub-chunk 28.
std::vector<BadFile> BadFiles()
{
    auto lengthAt = [](std::vector<unsigned char> f, std::size_t at, std::uint32_t length) {
        for (int i = 0; i < 4; ++i)
            f[at + 2 + i] = static_cast<unsigned char>(length >> (8 * i));
        return f;
    };
    const auto good = File(Cat({Vertices(kSquare), Faces({0, 1, 2})}));
    Bytes noNul;
    noNul.Raw({'l', 'o', 'n', 'g', 'n', 'a', 'm', 'e'});
    Bytes group;
    group.Str("mat").U16(40000).U16(0);
    return {
        {"empty file", {}, 0, "too short"},
        {"another format", Chunk(0x1234, {}), 0, "not a 3D Studio file"},
        {"main chunk longer than the file", lengthAt(good, 0, 0xFFFFFFFF), 0, "does not fit"},
        {"chunk past its parent", lengthAt(good, 28, 0x7FFFFFFF), 28, "runs past the end"},
        {"chunk length zero", lengthAt(good, 28, 0), 28, "shorter than the 6-byte"},
        {"chunk length five", lengthAt(good, 28, 5), 28, "shorter than the 6-byte"},
        {"vertex count past its chunk", File(Vertices(kSquare, 0xFFFF)), 28, "65535 vertices"},
        {"face count past its chunk", File(Cat({Vertices(kSquare), Chunk(0x4120, {9, 9})})),
         28 + 6 + 2 + 48, "faces need"},
        {"object name without NUL", Chunk(0x4D4D, Chunk(0x3D3D, Chunk(0x4000, noNul.b))), 12,
         "no terminating NUL"},
        {"group count past its chunk",
         File(Cat({Vertices(kSquare), Faces({0, 1, 2}, Chunk(0x4130, group.b))})),
         28 + 56 + 6 + 2 + 8, "face indices need"},
        {"infinite coordinate", File(Vertices({0, 0, std::numeric_limits<float>::infinity()})),
         28 + 6 + 2 + 8, "non-finite"},
        {"huge coordinate", File(Vertices({FLT_MAX, 0, 0})), 28 + 6 + 2, "huge"},
    };
}

TEST(ThreeDsReaderTest, RefusesMalformedFilesNamingOffsetAndChunk)
{
    for (const BadFile& bad : BadFiles()) {
        ThreeDsScene scene;
        EXPECT_FALSE(Read(bad.bytes, scene)) << bad.what;
        EXPECT_EQ(scene.errorOffset, bad.offset) << bad.what << ": " << scene.error;
        EXPECT_NE(scene.error.find(bad.message), std::string::npos)
            << bad.what << ": " << scene.error;
    }
}

TEST(ThreeDsReaderTest, SurvivesNestingAHundredThousandDeep)
{
    // Unknown chunks are skipped by their length, so depth never reaches the stack.
    const std::vector<unsigned char> inner = Chunk(0x4000, {'a', 0});
    const std::size_t depth = 100000;
    std::vector<unsigned char> headers(6 * depth);
    for (std::size_t i = 0; i < depth; ++i) {
        const std::uint32_t length = std::uint32_t(6 * (depth - i) + inner.size());
        headers[6 * i] = 0x00;
        headers[6 * i + 1] = 0x3D; // chunk 0x3D00, unknown
        for (int k = 0; k < 4; ++k)
            headers[6 * i + 2 + k] = static_cast<unsigned char>(length >> (8 * k));
    }
    const auto file = Chunk(0x4D4D, Cat({headers, inner}));
    ThreeDsScene scene;
    EXPECT_TRUE(Read(file, scene)) << scene.error;
    EXPECT_TRUE(scene.objects.empty());
}

TEST(ThreeDsReaderTest, CancelsWhenProgressSaysSo)
{
    // Progress is asked once a megabyte has been read.
    std::vector<unsigned char> padding = Chunk(0x1234, std::vector<unsigned char>(1 << 21));
    const auto file = Chunk(0x4D4D, Cat({padding, padding}));
    ThreeDsScene scene;
    int calls = 0;
    EXPECT_FALSE(Read3ds(file.data(), file.size(), scene, [&](double f) {
        EXPECT_GT(f, 0.0);
        EXPECT_LE(f, 1.0);
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(scene.error, "cancelled");
}

} // namespace
} // namespace polyvant::formats::test
