#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

#include "DxfTestSupport.h"
#include "FormatTestSupport.h"

namespace polyvant::formats::test {
namespace {

// --- The shared sample files ------------------------------------------------------

// Expected figures were worked out with a separate script over the group codes
// (3DFACE corners with repeated corners dropped, polyface faces by absolute index,
// entities of the ENTITIES section plus the block wuson.dxf places once).
struct SampleFile {
    const char* path;
    std::size_t triangles;
    const char* layer; // the one layer with faces, or null when there are none
    double lo[3];
    double hi[3];
};

void PrintTo(const SampleFile& f, std::ostream* os)
{
    *os << f.path;
}

class DxfSampleFile : public testing::TestWithParam<SampleFile> {};

TEST_P(DxfSampleFile, GivesTheTrianglesAndBoundsItHolds)
{
    const SampleFile& f = GetParam();
    const DxfRead r = ReadDxfText(ReadBytes(TestData(f.path)));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), f.triangles);
    if (!f.layer) {
        EXPECT_TRUE(r.meshes.empty());
        return;
    }
    ASSERT_EQ(r.meshes.size(), 1u);
    const Mesh3d& mesh = *r.meshes[0];
    ExpectValidMesh(mesh);
    EXPECT_STREQ(mesh.name, f.layer);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(mesh.min[k], f.lo[k], 1e-9) << "axis " << k;
        EXPECT_NEAR(mesh.max[k], f.hi[k], 1e-9) << "axis " << k;
    }
}

// Where Assimp 5.2 (`assimp info`) differs, and why ours is right:
// - its face counts for 3dface, Minimal_DXF_AC1006, lineTest and POLI-ALL210_12 include
//   LINE/LWPOLYLINE/TEXT segments; the 3DFACE triangles alone are ours. 3dface.dxf
//   also has two 3DFACEs in a block that nothing inserts: not drawn.
// - PinkEggFromLW: Assimp 576 = 288 x 2, it splits the 48 triangles that repeat their
//   first corner into a triangle and a zero-area one; 240 quads x 2 + 48 = 528.
// - issue_2229: Assimp gives 1362 triangles plus 140 "points" and 17 "lines"; it
//   misreads the 300 negative (invisible-edge) indices. Taken as absolute values, as
//   the DXF reference says, every edge of all four meshes is shared by exactly two
//   faces (closed surfaces): 1060 triangles + 230 quads = 1520.
// - rifle and wuson agree (572 and 3732). Assimp turns Z-up into Y-up: its boxes are
//   ours as (x, z, -y).
INSTANTIATE_TEST_SUITE_P(
    SharedSamples, DxfSampleFile,
    testing::Values(
        SampleFile{"dxf/3dface.dxf",
                   51,
                   "0",
                   {689.842987262401, 243.8626981418201, 0},
                   {4845.759054263072, 3857.680764809167, 0}},
        SampleFile{"dxf/Minimal_DXF_AC1006.dxf", 3, "1", {-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5}},
        SampleFile{"dxf/lineTest.dxf", 3, "1", {-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5}},
        SampleFile{"dxf/POLI-ALL210_12.DXF", 2, "0", {-6, -11, 0}, {18, 13, 0}},
        SampleFile{"dxf/PinkEggFromLW.dxf", 528, "0", {-2.15, -2.1, -2.5}, {2.15, 2.1, 2.6}},
        SampleFile{"dxf/issue_2229.dxf", 1520, "0", {-600, -420, 0}, {600, 0, 116}},
        SampleFile{"dxf/rifle.dxf",
                   572,
                   "m_rifle",
                   {-3.52259, -21.5369, -44.979},
                   {3.52262, 20.2329, 71.3027}},
        SampleFile{"dxf/wuson.dxf",
                   3732,
                   "Meshes",
                   {-0.459976, -0.000566, -1.622242},
                   {0.459976, 1.515251, 1.622242}},
        SampleFile{"dxf/points.dxf", 0, nullptr, {}, {}}));

TEST(DxfSamples, WusonPolyfaceKeepsItsSharedVertices)
{
    const DxfRead r = ReadDxfText(ReadBytes(TestData("dxf/wuson.dxf")));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    EXPECT_EQ(r.meshes[0]->vertexCount, 3205u); // as the POLYLINE declares
    EXPECT_EQ(DistinctPositions(*r.meshes[0]), 2117u);
    EXPECT_TRUE(r.warnings.empty());
}

// --- 3DFACE, SOLID, TRACE --------------------------------------------------------

double NormalZ(const Mesh3d& m, std::uint32_t face)
{
    const std::uint32_t* f = m.faceData + 4 * face;
    const double* a = m.vertexData + 3 * f[0];
    const double* b = m.vertexData + 3 * f[1];
    const double* c = m.vertexData + 3 * f[2];
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

TEST(DxfFlatFaces, DropARepeatedCornerWhicheverOneIsRepeated)
{
    const DxfRead r = ReadDxfText(Drawing(Face("L", {0, 0, 0, 1, 0, 0, 1, 1, 0, 1, 1, 0}) +
                                          Face("L", {0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 1, 0}) +
                                          Face("L", {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 0}) +
                                          Face("L", {0, 0, 0, 1, 0, 0, 1, 1, 0})));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 4u);
}

TEST(DxfFlatFaces, SolidCornersAreOutlinedOneTwoFourThree)
{
    // Corners 3 and 4 of a SOLID are swapped against the outline; read in file order
    // the square would fold into a bow tie with one triangle facing down.
    const std::string solid = Pairs({{0, "SOLID"},
                                     {8, "S"},
                                     {10, "0"},
                                     {20, "0"},
                                     {30, "0"},
                                     {11, "1"},
                                     {21, "0"},
                                     {31, "0"},
                                     {12, "0"},
                                     {22, "1"},
                                     {32, "0"},
                                     {13, "1"},
                                     {23, "1"},
                                     {33, "0"}});
    const DxfRead r = ReadDxfText(Drawing(solid));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.Triangles(), 2u);
    EXPECT_GT(NormalZ(*r.meshes[0], 0), 0);
    EXPECT_GT(NormalZ(*r.meshes[0], 1), 0);
}

TEST(DxfFlatFaces, TraceUsesItsExtrusionDirection)
{
    // Extrusion (0, 0, -1): the arbitrary-axis rule makes the OCS X axis world -X.
    const std::string trace = Pairs({{0, "TRACE"},
                                     {8, "T"},
                                     {10, "2"},
                                     {20, "0"},
                                     {30, "0"},
                                     {11, "3"},
                                     {21, "0"},
                                     {31, "0"},
                                     {12, "2"},
                                     {22, "1"},
                                     {32, "0"},
                                     {210, "0"},
                                     {220, "0"},
                                     {230, "-1"}});
    const DxfRead r = ReadDxfText(Drawing(trace));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    EXPECT_DOUBLE_EQ(r.meshes[0]->min[0], -3);
    EXPECT_DOUBLE_EQ(r.meshes[0]->max[0], -2);
}

TEST(DxfFlatFaces, ThickSolidsAndTracesBecomeClosedPrisms)
{
    // A SOLID's corners (x y each, at z 0), extruded by `thickness` along `extrusionZ`.
    const auto solid = [](std::initializer_list<std::pair<int, int>> corners,
                          const std::string& thickness, const std::string& extrusionZ = "1") {
        std::string text = Pairs({{0, "SOLID"}, {8, "S"}, {39, thickness}});
        int k = 0;
        for (const auto& [x, y] : corners) {
            text +=
                Pairs({{10 + k, std::to_string(x)}, {20 + k, std::to_string(y)}, {30 + k, "0"}});
            ++k;
        }
        return text + Pairs({{210, "0"}, {220, "0"}, {230, extrusionZ}});
    };
    struct Case {
        std::string entity;
        std::size_t triangles;
        double zLow, zHigh;
    };
    const Case cases[] = {
        // Bottom and top of 2 triangles each, 4 walls of 2.
        {solid({{0, 0}, {1, 0}, {0, 1}, {1, 1}}, "2"), 12, 0, 2},
        // Three corners: 1 + 1 + 3 walls of 2; a negative thickness goes down.
        {solid({{0, 0}, {1, 0}, {0, 1}}, "-0.5"), 8, -0.5, 0},
        // Facing down: the thickness follows the extrusion direction.
        {solid({{0, 0}, {1, 0}, {0, 1}}, "3", "-1"), 8, -3, 0},
        // Two distinct corners: one wall.
        {solid({{0, 0}, {1, 0}, {1, 0}, {1, 0}}, "1"), 2, 0, 1},
    };
    for (const Case& c : cases) {
        const DxfRead r = ReadDxfText(Drawing(c.entity));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(r.warnings.empty());
        EXPECT_EQ(r.Triangles(), c.triangles) << c.entity;
        ASSERT_EQ(r.meshes.size(), 1u);
        EXPECT_DOUBLE_EQ(r.meshes[0]->min[2], c.zLow);
        EXPECT_DOUBLE_EQ(r.meshes[0]->max[2], c.zHigh);
        if (c.triangles == 12) { // closed: every edge has two faces
            const Mesh3d& m = *r.meshes[0];
            std::map<std::pair<std::uint32_t, std::uint32_t>, int> edges;
            for (std::uint32_t f = 0; f < m.faceCount; ++f)
                for (int k = 0; k < 3; ++k) {
                    const std::uint32_t a = m.faceData[4 * f + k],
                                        b = m.faceData[4 * f + (k + 1) % 3];
                    ++edges[{std::min(a, b), std::max(a, b)}];
                }
            for (const auto& [edge, faces] : edges)
                EXPECT_EQ(faces, 2) << edge.first << "-" << edge.second;
        }
    }

    const DxfRead bad = ReadDxfText(Drawing(solid({{0, 0}, {1, 0}, {0, 1}}, "thick")));
    ASSERT_TRUE(bad.ok) << bad.error;
    EXPECT_EQ(bad.Triangles(), 0u);
    ASSERT_EQ(bad.warnings.size(), 1u);
    EXPECT_NE(bad.warnings[0].find("group 39 value 'thick'"), std::string::npos) << bad.warnings[0];
}

// --- Layers and the file's text ------------------------------------------------------

TEST(DxfLayers, EachLayerBecomesOneMeshInOrderOfFirstUse)
{
    const DxfRead r = ReadDxfText(Drawing(Face("Roof", {0, 0, 1, 1, 0, 1, 1, 1, 1}) +
                                          Face("Walls", {0, 0, 0, 1, 0, 0, 1, 0, 1}) +
                                          Face("Roof", {0, 0, 1, 1, 1, 1, 0, 1, 1})));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 2u);
    EXPECT_STREQ(r.meshes[0]->name, "Roof");
    EXPECT_EQ(r.meshes[0]->faceCount, 2u);
    EXPECT_STREQ(r.meshes[1]->name, "Walls");
    EXPECT_EQ(r.meshes[1]->faceCount, 1u);
}

TEST(DxfText, CrLfEndsPaddedCodesByteOrderMarkAndTextAfterEofReadTheSame)
{
    std::string text = Drawing(Face("L", {0, 0, 0, 1, 0, 0, 1, 1, 0}));
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string padded;
    bool codeLine = true;
    for (std::size_t i = 0, start = 0; i < text.size(); ++i)
        if (text[i] == '\n') {
            padded += (codeLine ? "  " : "") + text.substr(start, i - start) +
                      (codeLine ? "" : "  ") + "\n";
            codeLine = !codeLine;
            start = i + 1;
        }
    for (const std::string& variant :
         {crlf, padded, text + "garbage after the end\n", "\xEF\xBB\xBF" + text}) {
        const DxfRead r = ReadDxfText(variant);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(r.Triangles(), 1u);
        EXPECT_STREQ(r.meshes[0]->name, "L");
        EXPECT_DOUBLE_EQ(r.meshes[0]->max[1], 1);
    }
}

TEST(DxfText, LayerNamesBecomeUtf8WhateverTheRelease)
{
    const auto header = [](const char* version) {
        return Section("HEADER",
                       Pairs({{9, "$ACADVER"}, {1, version}, {9, "$DIMSTYLE"}, {2, "STANDARD"}}));
    };
    const std::string faces = Drawing(Face("T\xFCr", {0, 0, 0, 1, 0, 0, 0, 1, 0}) +
                                      Face("\\U+00C4rger", {0, 0, 0, 1, 0, 0, 0, 1, 0}) +
                                      Face("\xC3\xB6l", {0, 0, 0, 1, 0, 0, 0, 1, 0}));
    const DxfRead old = ReadDxfText(header("AC1015") + faces);
    ASSERT_TRUE(old.ok) << old.error;
    ASSERT_EQ(old.meshes.size(), 3u);
    EXPECT_STREQ(old.meshes[0]->name, "T\xC3\xBCr");        // code page byte
    EXPECT_STREQ(old.meshes[1]->name, "\xC3\x84rger");      // escape
    EXPECT_STREQ(old.meshes[2]->name, "\xC3\x83\xC2\xB6l"); // two Latin-1 bytes
    const DxfRead recent = ReadDxfText(header("AC1027") + faces);
    ASSERT_TRUE(recent.ok) << recent.error;
    EXPECT_STREQ(recent.meshes[1]->name, "\xC3\x84rger");
    EXPECT_STREQ(recent.meshes[2]->name, "\xC3\xB6l"); // already UTF-8
}

TEST(DxfText, UnusableNumbersSkipTheEntityAndNameTheLine)
{
    for (const char* bad : {"abc", "nan", "inf", "1e309", "1e31", ""}) {
        const std::string text =
            Drawing(Face("L", {0, 0, 0, 1, 0, 0, 1, 1, 0}) + Pairs({{0, "3DFACE"},
                                                                    {8, "L"},
                                                                    {10, bad},
                                                                    {20, "0"},
                                                                    {30, "0"},
                                                                    {11, "1"},
                                                                    {21, "0"},
                                                                    {31, "0"},
                                                                    {12, "1"},
                                                                    {22, "1"},
                                                                    {32, "0"}}));
        const DxfRead r = ReadDxfText(text);
        ASSERT_TRUE(r.ok) << bad << ": " << r.error;
        EXPECT_EQ(r.Triangles(), 1u) << bad;
        ASSERT_EQ(r.warnings.size(), 1u) << bad;
        // The bad value sits on line 32 (section start, one face, then it).
        EXPECT_NE(r.warnings[0].find("line 32:"), std::string::npos) << r.warnings[0];
    }
}

TEST(DxfText, BrokenFilesAreRefusedWithWhereAndWhy)
{
    const struct {
        std::string text;
        const char* expected;
    } cases[] = {
        {"", "empty"},
        {std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + "rest", "binary DXF"},
        {"0\nSECTION\nhello\nENTITIES\n", "line 3: not a DXF group code"},
        {"0\nSECTION\n2\n", "line 3: group code 2 has no value"},
        {"0\nSECTION\n99999\nx\n", "line 3: not a DXF group code"},
    };
    for (const auto& c : cases) {
        const DxfRead r = ReadDxfText(c.text);
        EXPECT_FALSE(r.ok) << c.expected;
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
        EXPECT_TRUE(r.meshes.empty());
    }
}

// --- POLYLINE meshes -----------------------------------------------------------------

std::string Vertex(double x, double y, double z, int flags)
{
    return Pairs({{0, "VERTEX"},
                  {8, "M"},
                  {10, std::to_string(x)},
                  {20, std::to_string(y)},
                  {30, std::to_string(z)},
                  {70, std::to_string(flags)}});
}

std::string FaceRecord(std::initializer_list<int> indices)
{
    std::string text =
        Pairs({{0, "VERTEX"}, {8, "M"}, {10, "0"}, {20, "0"}, {30, "0"}, {70, "128"}});
    int code = 71;
    for (int i : indices)
        text += Pairs({{code++, std::to_string(i)}});
    return text;
}

std::string Polyface(int vertices, int faces, const std::string& body)
{
    return Pairs({{0, "POLYLINE"},
                  {8, "M"},
                  {66, "1"},
                  {70, "64"},
                  {71, std::to_string(vertices)},
                  {72, std::to_string(faces)}}) +
           body + Pairs({{0, "SEQEND"}});
}

std::string UnitSquareVertices()
{
    return Vertex(0, 0, 0, 192) + Vertex(1, 0, 0, 192) + Vertex(1, 1, 0, 192) +
           Vertex(0, 1, 0, 192);
}

TEST(DxfPolyface, IndicesAreOneBasedAndNegativeOnesOnlyHideEdges)
{
    const DxfRead r = ReadDxfText(Drawing(
        Polyface(4, 2, UnitSquareVertices() + FaceRecord({1, -2, 3}) + FaceRecord({-1, 3, 4, 0}))));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    const Mesh3d& m = *r.meshes[0];
    ASSERT_EQ(m.faceCount, 2u);
    EXPECT_EQ(m.vertexCount, 4u);
    const std::uint32_t expected[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (int f = 0; f < 2; ++f)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(m.faceData[4 * f + k], expected[f][k]);
    EXPECT_TRUE(r.warnings.empty());
}

TEST(DxfPolyface, FacesNamingAMissingVertexAreDroppedWithAWarning)
{
    const DxfRead r =
        ReadDxfText(Drawing(Polyface(4, 3,
                                     UnitSquareVertices() + FaceRecord({1, 2, 5}) +
                                         FaceRecord({1, 2, -2147483647}) + FaceRecord({1, 2, 3}))));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 1u);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_NE(r.warnings[0].find("2 polyface face(s)"), std::string::npos) << r.warnings[0];
}

TEST(DxfPolyface, HugeDeclaredCountsAreRefused)
{
    for (const auto& [vertices, faces] :
         {std::pair{2000000000, 1}, std::pair{1, 2000000000}, std::pair{-1, 1}}) {
        const DxfRead r = ReadDxfText(
            Drawing(Polyface(vertices, faces, UnitSquareVertices() + FaceRecord({1, 2, 3}))));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("line 5: "), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("mesh"), std::string::npos) << r.error;
    }
}

std::string PolygonMesh(int m, int n, int flags, const std::vector<std::array<double, 3>>& grid)
{
    std::string text = Pairs({{0, "POLYLINE"},
                              {8, "G"},
                              {70, std::to_string(16 | flags)},
                              {71, std::to_string(m)},
                              {72, std::to_string(n)}});
    for (const auto& v : grid)
        text += Vertex(v[0], v[1], v[2], 64);
    return text + Pairs({{0, "SEQEND"}});
}

// An m x n grid of distinct points (row i, column j at (j, i, 0), lifted per index).
std::vector<std::array<double, 3>> Grid(int m, int n)
{
    std::vector<std::array<double, 3>> grid;
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            grid.push_back({double(j), double(i), 0.01 * (i * n + j)});
    return grid;
}

TEST(DxfPolygonMesh, OpenAndClosedGridsGiveTheirQuads)
{
    const struct {
        int flags;
        std::size_t quads;
    } cases[] = {{0, 2 * 3}, {32, 2 * 4}, {1, 3 * 3}, {1 | 32, 3 * 4}};
    for (const auto& c : cases) {
        const DxfRead r = ReadDxfText(Drawing(PolygonMesh(3, 4, c.flags, Grid(3, 4))));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.Triangles(), 2 * c.quads) << "flags " << c.flags;
    }
}

TEST(DxfPolygonMesh, ASmoothedSurfaceDrawsItsFittedGridNotTheFrame)
{
    // M x N = 2 x 2 frame control points (flag 16), then the 3 x 3 fitted grid (flag 8)
    // sized by groups 73 and 74.
    std::string body = Pairs({{0, "POLYLINE"},
                              {8, "S"},
                              {70, "16"},
                              {71, "2"},
                              {72, "2"},
                              {73, "3"},
                              {74, "3"},
                              {75, "6"}});
    for (const auto& v : Grid(2, 2))
        body += Vertex(v[0] * 2, v[1] * 2, 9, 64 | 16);
    for (const auto& v : Grid(3, 3))
        body += Vertex(v[0], v[1], v[2], 64 | 8);
    const DxfRead r = ReadDxfText(Drawing(body + Pairs({{0, "SEQEND"}})));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    EXPECT_EQ(r.meshes[0]->vertexCount, 9u);
    EXPECT_EQ(r.meshes[0]->faceCount, 8u);
    EXPECT_LT(r.meshes[0]->max[2], 1); // no control point at z = 9
}

TEST(DxfPolygonMesh, AnotherEntityEndsAPolylineWithoutSeqendAndTheWarningNamesIt)
{
    std::string mesh = PolygonMesh(3, 4, 0, Grid(3, 4));
    mesh.resize(mesh.size() - Pairs({{0, "SEQEND"}}).size());
    const std::string line =
        Pairs({{0, "LINE"}, {8, "L"}, {10, "0"}, {20, "0"}, {30, "0"}, {11, "1"}, {21, "1"}});
    const std::string face = Face("F", {0, 0, 5, 1, 0, 5, 0, 1, 5});
    const DxfRead r = ReadDxfText(Drawing(mesh + line + face));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 2u * 6u + 1u);
    ASSERT_EQ(r.warnings.size(), 1u);
    // Line 5: the POLYLINE, right after the section's two pairs.
    EXPECT_NE(r.warnings[0].find("line 5: POLYLINE ended without SEQEND"), std::string::npos)
        << r.warnings[0];
}

TEST(DxfPolygonMesh, AGridWithTheWrongNumberOfVerticesIsSkipped)
{
    const DxfRead r = ReadDxfText(Drawing(PolygonMesh(3, 4, 0, Grid(3, 3))));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 0u);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("3 x 4"), std::string::npos) << r.warnings[0];
}

TEST(DxfPolygonMesh, HugeGridsAreRefused)
{
    const DxfRead r = ReadDxfText(Drawing(PolygonMesh(65536, 65536, 0, Grid(2, 2))));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("more than the rest of the file"), std::string::npos) << r.error;
}

} // namespace
} // namespace polyvant::formats::test
