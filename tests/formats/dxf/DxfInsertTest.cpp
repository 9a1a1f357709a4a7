#include <gtest/gtest.h>

#include "DxfTestSupport.h"
#include "FormatTestSupport.h"

namespace polyvant::formats::test {
namespace {

std::string Block(const std::string& name, const std::string& body, double bx = 0, double by = 0,
                  double bz = 0)
{
    return Pairs({{0, "BLOCK"},
                  {8, "0"},
                  {2, name},
                  {70, "0"},
                  {10, std::to_string(bx)},
                  {20, std::to_string(by)},
                  {30, std::to_string(bz)}}) +
           body + Pairs({{0, "ENDBLK"}});
}

struct Placement {
    double at[3] = {0, 0, 0};
    double scale[3] = {1, 1, 1};
    double rotation = 0;
    int columns = 1, rows = 1;
    double spacing[2] = {0, 0};
};

std::string InsertOf(const std::string& block, const std::string& layer, const Placement& p = {})
{
    return Pairs({{0, "INSERT"},
                  {8, layer},
                  {2, block},
                  {10, std::to_string(p.at[0])},
                  {20, std::to_string(p.at[1])},
                  {30, std::to_string(p.at[2])},
                  {41, std::to_string(p.scale[0])},
                  {42, std::to_string(p.scale[1])},
                  {43, std::to_string(p.scale[2])},
                  {50, std::to_string(p.rotation)},
                  {70, std::to_string(p.columns)},
                  {71, std::to_string(p.rows)},
                  {44, std::to_string(p.spacing[0])},
                  {45, std::to_string(p.spacing[1])}});
}

const std::string kTriangle = Face("0", {1, 0, 0, 0, 1, 0, 0, 0, 0});

void ExpectVertex(const Mesh3d& m, std::uint32_t i, double x, double y, double z)
{
    ASSERT_LT(i, m.vertexCount);
    EXPECT_NEAR(m.vertexData[3 * i], x, 1e-9) << "vertex " << i;
    EXPECT_NEAR(m.vertexData[3 * i + 1], y, 1e-9) << "vertex " << i;
    EXPECT_NEAR(m.vertexData[3 * i + 2], z, 1e-9) << "vertex " << i;
}

TEST(DxfInsert, PlacesTheBlockScaledRotatedAndMovedFromItsBasePoint)
{
    Placement p;
    p.at[0] = 10;
    p.scale[0] = p.scale[1] = p.scale[2] = 2;
    p.rotation = 90;
    // Base point (1, 0, 0): the corner (1, 0, 0) lands on the insertion point.
    const DxfRead r =
        ReadDxfText(Drawing(InsertOf("TRI", "Placed", p), Block("TRI", kTriangle, 1, 0, 0)));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    const Mesh3d& m = *r.meshes[0];
    ASSERT_EQ(m.vertexCount, 3u);
    ExpectVertex(m, 0, 10, 0, 0);
    ExpectVertex(m, 1, 8, -2, 0); // (0,1,0) - base = (-1,1,0); x2, turned 90 degrees
    ExpectVertex(m, 2, 10, -2, 0);
}

TEST(DxfInsert, LayerZeroEntitiesTakeTheInsertsLayerOthersKeepTheirOwn)
{
    const std::string body = kTriangle + Face("Fixed", {0, 0, 1, 1, 0, 1, 0, 1, 1});
    const DxfRead r = ReadDxfText(Drawing(InsertOf("B", "Outer"), Block("B", body)));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_NE(r.Layer("Outer"), nullptr);
    ASSERT_NE(r.Layer("Fixed"), nullptr);
    EXPECT_EQ(r.Layer("Outer")->faceCount, 1u);
    EXPECT_EQ(r.Layer("Fixed")->faceCount, 1u);
    EXPECT_EQ(r.Layer("0"), nullptr);
}

TEST(DxfInsert, NestedBlocksComposeTheirPlacementsAndPassTheLayerDown)
{
    Placement up;
    up.at[2] = 5;
    Placement right;
    right.at[0] = 3;
    const std::string blocks =
        Block("INNER", kTriangle) + Block("OUTER", InsertOf("INNER", "0", up));
    const DxfRead r = ReadDxfText(Drawing(InsertOf("OUTER", "Top", right), blocks));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    EXPECT_STREQ(r.meshes[0]->name, "Top");
    ExpectVertex(*r.meshes[0], 0, 4, 0, 5);
}

TEST(DxfInsert, ArraysPlaceOneCopyPerCell)
{
    Placement p;
    p.columns = 3;
    p.rows = 2;
    p.spacing[0] = 10;
    p.spacing[1] = 20;
    const DxfRead r = ReadDxfText(Drawing(InsertOf("TRI", "A", p), Block("TRI", kTriangle)));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.Triangles(), 6u);
    EXPECT_DOUBLE_EQ(r.meshes[0]->max[0], 21);
    EXPECT_DOUBLE_EQ(r.meshes[0]->max[1], 21);
}

TEST(DxfInsert, AnUndefinedBlockIsSkippedWithAWarning)
{
    const DxfRead r =
        ReadDxfText(Drawing(InsertOf("NOWHERE", "A") + Face("A", {0, 0, 0, 1, 0, 0, 0, 1, 0})));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 1u);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("NOWHERE"), std::string::npos);
}

TEST(DxfInsert, BlocksThatInsertThemselvesAreRefused)
{
    const std::string self = Block("SELF", kTriangle + InsertOf("SELF", "0"));
    const std::string cycle =
        Block("A", kTriangle + InsertOf("B", "0")) + Block("B", kTriangle + InsertOf("A", "0"));
    for (const auto& [blocks, first] :
         {std::pair{self, std::string("SELF")}, std::pair{cycle, std::string("A")}}) {
        const DxfRead r = ReadDxfText(Drawing(InsertOf(first, "L"), blocks));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("inserted inside itself"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("line "), std::string::npos) << r.error;
    }
}

TEST(DxfInsert, ExpansionBeyondTheInstanceCapIsRefused)
{
    // Each level places the one below twice: 2^40 copies if nothing stopped it.
    std::string blocks = Block("L0", kTriangle);
    for (int i = 1; i <= 40; ++i) {
        const std::string below = "L" + std::to_string(i - 1);
        blocks += Block("L" + std::to_string(i), InsertOf(below, "0") + InsertOf(below, "0"));
    }
    Placement huge;
    huge.columns = 100000;
    huge.rows = 100000;
    const std::string cases[] = {Drawing(InsertOf("L40", "X"), blocks),
                                 Drawing(InsertOf("L0", "X", huge), blocks)};
    for (const std::string& text : cases) {
        const DxfRead r = ReadDxfText(text);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty());
        EXPECT_TRUE(r.meshes.empty());
    }
}

TEST(DxfInsert, TheTriangleCapStopsFewButHeavyCopies)
{
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += kTriangle;
    const std::string blocks = Block("HEAVY", many);
    Placement small, large;
    small.columns = small.rows = 50;  // 2500 copies x 100 = 250000 triangles
    large.columns = large.rows = 300; // 9 M triangles from a file of a few kB
    dxf::DxfLimits tight;
    tight.maxOutputTriangles = 10000;
    DxfRead r = ReadDxfText(Drawing(InsertOf("HEAVY", "X", small), blocks), tight);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("more than 10000 triangles"), std::string::npos) << r.error;
    r = ReadDxfText(Drawing(InsertOf("HEAVY", "X", large), blocks));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("triangles"), std::string::npos) << r.error;
    r = ReadDxfText(Drawing(InsertOf("HEAVY", "X", small), blocks)); // within the default
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 250000u);
}

} // namespace
} // namespace polyvant::formats::test
