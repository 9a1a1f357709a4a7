#include "LwoReader.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <map>

#include "LwoTestSupport.h"

namespace polyvant::formats::test {
namespace {

// Figures from a separate Python walk of the IFF chunks (struct.unpack over PNTS, POLS,
// PTAG), not from this reader. Triangles = sum of (corners - 2) over FACE/PTCH polygons.
// Bounds in the program's axes: Lightwave (x, y, z) is read as (x, z, y).
struct Sample {
    const char* file;
    std::size_t meshes, vertices, triangles, surfaces;
    double min[3], max[3];
};

// clang-format off
const Sample kSamples[] = {
    {"lwo/lwo2_ModoExport_vertNormals.lwo", 1, 266, 528, 1, {-2.15, -2.6, -2.1}, {2.15, 2.5, 2.1}},
    // PTCH cages only, no FACE chunk: read as polygons (Assimp agrees: 48 faces).
    {"lwo/lwo2_Subdivision.lwo", 1, 26, 48, 2, {-0.95, -1.15, 0.0}, {0.9, 0.65, 1.55}},
    // 288 triangles, 1446 quads and one 24-gon: 288 + 2892 + 22. `assimp info` (5.2)
    // reports 3180, 22 fewer; its untriangulated OBJ export has the same 1735 polygons
    // as the file, so its triangulation loses the 24-gon, whose corners are all valid.
    {"lwo/lwo2_UglyVertexColors.lwo", 1, 1628, 3202, 4, {-4.7, -2.5555, -4.6}, {12.45, 2.4935, 4.6}},
    {"lwo/lwo2_boxuv.lwo", 1, 24, 12, 1, {-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5}},
    // One 66-corner polygon over 64 points (two corners repeat): 64 triangles.
    {"lwo/lwo2_concave_polygon.lwo", 1, 64, 64, 1, {-1.146, -3.0905, 1.6575}, {-1.146, -1.6055, 3.1425}},
    {"lwo/lwo2_hierarchy.lwo", 4, 290, 564, 4, {-2.05, -1.95, -2.1}, {2.25, 1.65, 5.05}},
    // One 18-corner non-planar polygon: 16 triangles over all 18 points. `assimp info`
    // reports 11 faces on 13 vertices, its box ending at x = 2.2 where the file's points
    // reach x = 4.65: its triangulation drops corners of this polygon.
    {"lwo/lwo2_nonplanar_polygon.lwo", 1, 18, 16, 2, {-4.85, -4.0, -3.8}, {4.65, 3.5, 2.7}},
    {"lwo/lwo2_sphere_with_gradient.lwo", 1, 266, 528, 2, {-2.15, -2.6, -2.1}, {2.15, 2.5, 2.1}},
    // Assimp 5.2 fails on every LWOB file here; the Python walk is the only reference.
    {"lwo/lwob_ConcavePolygon.lwo", 1, 64, 64, 1, {-1.146, -3.0905, 1.6575}, {-1.146, -1.6055, 3.1425}},
    {"lwo/lwob_bluewithcylindrictexz.lwo", 1, 8, 12, 1, {-1.2, -1.25, 0.0}, {1.2, 1.3, 2.35}},
    {"lwo/lwob_sphere_with_mat_gloss_10pc.lwo", 1, 266, 528, 1, {-2.15, -2.6, -2.1}, {2.15, 2.5, 2.1}},
    {"lwo/lwob_sphere_with_mat_gloss_50pc.lwo", 1, 266, 528, 1, {-2.15, -2.6, -2.1}, {2.15, 2.5, 2.1}},
};
// clang-format on

class LwoSampleTest : public testing::TestWithParam<Sample> {};

TEST_P(LwoSampleTest, GivesTheLayersCountsAndBoundsTheFileHolds)
{
    const Sample& s = GetParam();
    LwoScene scene;
    std::vector<MeshPtr> meshes;
    ASSERT_TRUE(Read(ReadBytes(TestData(s.file)), scene, &meshes)) << scene.error;
    EXPECT_TRUE(scene.warnings.empty());
    ASSERT_EQ(meshes.size(), s.meshes);
    EXPECT_EQ(scene.surfaces.size(), s.surfaces);
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
        EXPECT_NEAR(lo[c], s.min[c], 1e-5);
        EXPECT_NEAR(hi[c], s.max[c], 1e-5);
    }
}

// Every strict prefix cuts the FORM short; flipped bytes make chunks lie. Either way:
// an error at an offset inside the file, or meshes the host can trust.
TEST_P(LwoSampleTest, DamagedCopiesGiveErrorsOrValidMeshes)
{
    const std::string good = ReadBytes(TestData(GetParam().file));
    const std::size_t step = std::max<std::size_t>(1, good.size() / 400);
    for (std::size_t n = 0; n < good.size(); n += n < 64 ? 1 : step) {
        LwoScene scene;
        EXPECT_FALSE(Read(good.substr(0, n), scene, nullptr)) << n;
    }
    for (std::size_t i = 0; i < good.size(); i += std::max<std::size_t>(1, good.size() / 600))
        for (unsigned char mask : {0xFF, 0x80, 0x01, 0x7F}) {
            std::string bad = good;
            bad[i] = char(bad[i] ^ mask);
            LwoScene scene;
            if (!Read(bad, scene, nullptr)) {
                EXPECT_LT(scene.errorOffset, bad.size());
            }
        }
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, LwoSampleTest, testing::ValuesIn(kSamples));

std::map<std::uint32_t, std::size_t> TrianglesPerWord3(const Mesh3d& mesh)
{
    std::map<std::uint32_t, std::size_t> count;
    for (std::uint32_t i = 0; i < mesh.faceCount; ++i)
        ++count[mesh.faceData[4 * i + 3]];
    return count;
}

TEST(LwoReaderTest, NamesMeshesAfterLayersAndPutsSurfacesIntoWordThree)
{
    LwoScene ugly, layers, old;
    std::vector<MeshPtr> u, h, b;
    ASSERT_TRUE(Read(ReadBytes(TestData("lwo/lwo2_UglyVertexColors.lwo")), ugly, &u));
    // TAGS: DkBlu, Default, Default2, Textured; PTAG gives them 0 / 1048 / 1408 / 746.
    EXPECT_EQ(TrianglesPerWord3(*u.at(0)),
              (std::map<std::uint32_t, std::size_t>{{2, 1048}, {3, 1408}, {4, 746}}));
    ASSERT_TRUE(Read(ReadBytes(TestData("lwo/lwo2_hierarchy.lwo")), layers, &h));
    ASSERT_EQ(h.size(), 4u);
    EXPECT_STREQ(h[0]->name, "ChildOfRoot0");
    EXPECT_STREQ(h[1]->name, "RootOfHierarchy");
    EXPECT_STREQ(h[2]->name, "GrandChildOfRoot0");
    EXPECT_STREQ(h[3]->name, "ChildOfRoot1");
    EXPECT_EQ(TrianglesPerWord3(*h[3]), (std::map<std::uint32_t, std::size_t>{{4, 12}}));
    ASSERT_TRUE(Read(ReadBytes(TestData("lwo/lwob_bluewithcylindrictexz.lwo")), old, &b));
    EXPECT_STREQ(b.at(0)->name, "object"); // no layers: the name the caller gave
    EXPECT_EQ(TrianglesPerWord3(*b[0]), (std::map<std::uint32_t, std::size_t>{{1, 12}}));
}

TEST(LwoReaderTest, TurnsLightwaveFrontFacesIntoCounterClockwiseOnes)
{
    LwoScene scene;
    std::vector<MeshPtr> meshes;
    ASSERT_TRUE(Read(ReadBytes(TestData("lwo/lwo2_boxuv.lwo")), scene, &meshes));
    const Mesh3d& box = *meshes.at(0); // centred on the origin
    for (std::uint32_t i = 0; i < box.faceCount; ++i) {
        const double* p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = box.vertexData + 3 * box.faceData[4 * i + k];
        double e1[3], e2[3], out[3];
        for (int c = 0; c < 3; ++c) {
            e1[c] = p[1][c] - p[0][c];
            e2[c] = p[2][c] - p[0][c];
            out[c] = p[0][c] + p[1][c] + p[2][c];
        }
        EXPECT_GT((e1[1] * e2[2] - e1[2] * e2[1]) * out[0] +
                      (e1[2] * e2[0] - e1[0] * e2[2]) * out[1] +
                      (e1[0] * e2[1] - e1[1] * e2[0]) * out[2],
                  0.0)
            << "face " << i;
    }
}

const std::string kSquare = F32s({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0});

TEST(LwoReaderTest, ReadsFourByteIndicesPaddingAndRelativePointLists)
{
    // POLS indices count from the latest PNTS of the layer; one 4-byte index; a line and
    // a point, which have no area; an unknown odd chunk; an odd chunk at the end of the
    // file without its pad byte.
    const std::string pols = "FACE" + U16(3) + U32(0xFF000000u) + U16(1) + U16(2) + U16(2) +
                             U16(0) + U16(1) + U16(1) + U16(0);
    const std::string file =
        Form("LWO2", Chunk("TAGS", S0("even")) +
                         Chunk("LAYR", U16(0) + U16(0) + F32s({0, 0, 0}) + S0("L")) +
                         Chunk("PNTS", kSquare) + Chunk("PNTS", F32s({5, 5, 5, 6, 5, 5, 6, 6, 5})) +
                         Chunk("POLS", pols) + Chunk("PTAG", "SURF" + U16(0) + U16(0)) +
                         Chunk("XTRA", "odd") + "ZZZZ" + U32(1) + "z");
    LwoScene scene;
    std::vector<MeshPtr> meshes;
    ASSERT_TRUE(Read(file, scene, &meshes)) << scene.error;
    EXPECT_TRUE(scene.warnings.empty());
    const Mesh3d& m = *meshes.at(0);
    EXPECT_STREQ(m.name, "L");
    EXPECT_EQ(m.vertexCount, 7u);
    ASSERT_EQ(m.faceCount, 1u);
    // Corners 4, 5, 6 reversed: Lightwave's clockwise becomes counter-clockwise.
    EXPECT_EQ(std::vector<std::uint32_t>(m.faceData, m.faceData + 4),
              (std::vector<std::uint32_t>{6, 5, 4, 1}));
    EXPECT_EQ(m.vertexData[3 * 4 + 1], 5.0); // Lightwave z became y
}

TEST(LwoReaderTest, ReadsOldDetailPolygonsAndSkipsCurvesAndStrayIndices)
{
    // A quad of surface 2 (negative: one detail polygon follows), the detail triangle of
    // surface 1, then a triangle naming point 4 of 4, which is dropped.
    const std::string old = U16(4) + U16(0) + U16(1) + U16(2) + U16(3) + U16(0xFFFE) + U16(1) +
                            U16(3) + U16(0) + U16(1) + U16(2) + U16(1) + U16(3) + U16(0) + U16(1) +
                            U16(4) + U16(1);
    LwoScene scene;
    std::vector<MeshPtr> meshes;
    ASSERT_TRUE(Read(Form("LWOB", Chunk("SRFS", S0("a") + S0("b")) + Chunk("PNTS", kSquare) +
                                      Chunk("POLS", old) + Chunk("CRVS", U16(0))),
                     scene, &meshes))
        << scene.error;
    EXPECT_EQ(TrianglesPerWord3(*meshes.at(0)),
              (std::map<std::uint32_t, std::size_t>{{1, 1}, {2, 2}}));
    ASSERT_EQ(scene.warnings.size(), 2u);
    EXPECT_NE(scene.warnings[0].find("dropped 1 polygons"), std::string::npos);
    EXPECT_NE(scene.warnings[1].find("skipped 1 'CRVS'"), std::string::npos);
}

TEST(LwoReaderTest, FansBigPolygonsOnceEarClippingHasCostEnough)
{
    // 70 concave stars of 1023 corners: ear clipping each costs about 1023^2 steps, and
    // after 64 of them the rest are fanned instead of stalling the import.
    std::vector<float> star;
    for (int i = 0; i < 1023; ++i) {
        const double a = 2 * M_PI * i / 1023, r = i % 2 ? 0.3 : 1.0;
        star.insert(star.end(), {float(r * std::cos(a)), 0, float(r * std::sin(a))});
    }
    std::string polygon = U16(1023), pols = "FACE";
    for (unsigned i = 0; i < 1023; ++i)
        polygon += U16(i);
    for (int i = 0; i < 70; ++i)
        pols += polygon;
    LwoScene scene;
    std::vector<MeshPtr> meshes;
    ASSERT_TRUE(
        Read(Form("LWO2", Chunk("PNTS", F32s(star)) + Chunk("POLS", pols)), scene, &meshes));
    EXPECT_EQ(meshes.at(0)->faceCount, 70u * 1021u);
    ASSERT_EQ(scene.warnings.size(), 1u);
    EXPECT_NE(scene.warnings[0].find("fanned 6 polygons"), std::string::npos) << scene.warnings[0];
}

TEST(LwoReaderTest, RefusesMalformedFilesNamingOffsetAndChunk)
{
    const std::string points = Chunk("PNTS", kSquare); // 56 bytes at offset 12
    const std::string good = Form("LWO2", points);
    const struct {
        std::string bytes;
        std::size_t offset;
        const char* message;
    } cases[] = {
        {"", 0, "too short"},
        {std::string(16, 'x'), 0, "does not start with an IFF FORM"},
        {Form("LXOB", ""), 8, "'LXOB'"},
        {Form("AIFF", ""), 8, "FORM type 'AIFF'"},
        {std::string(good).replace(4, 4, U32(0xFFFFFFFF)), 4, "does not fit the file"},
        {std::string(good).replace(16, 4, U32(0x7FFFFFF0)), 12, "chunk 'PNTS': size 2147483632"},
        {Form("LWO2", Chunk("PNTS", F32s({1, 2}))), 12, "12-byte points"},
        {Form("LWO2", points + Chunk("POLS", "FACE" + U16(1023) + U16(0))), 80, "runs past the"},
        {Form("LWO2", points + Chunk("POLS", "FACE" + U16(3) + U16(0) + U16(1) + "\xFF")), 80,
         "polygon 0 runs past the end of the chunk"},
        {Form("LWO2", "TAGS" + U32(4) + "abcd"), 20, "no terminating NUL"},
        {Form("LWOB", points + Chunk("POLS", U16(200) + U16(0))), 76, "200 points runs past"},
        {Form("LWO2", Chunk("PNTS", F32s({0, INFINITY, 0}))), 20, "non-finite"},
    };
    for (const auto& bad : cases) {
        LwoScene scene;
        EXPECT_FALSE(Read(bad.bytes, scene, nullptr)) << bad.message;
        EXPECT_EQ(scene.errorOffset, bad.offset) << scene.error;
        EXPECT_NE(scene.error.find(bad.message), std::string::npos) << scene.error;
    }
}

} // namespace
} // namespace polyvant::formats::test
