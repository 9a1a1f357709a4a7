#include <gtest/gtest.h>

#include "DxfTestSupport.h"
#include "FormatTestSupport.h"

namespace polyvant::formats::test {
namespace {

// A MESH record as the newer releases write it: header, vertices, face list, then the
// edges, creases and overrides, whose 90, 91 and 92 groups must not be taken for
// vertices or faces.
struct MeshEntity {
    std::string layer = "M";
    int level = 0;
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::vector<long>> faces;
    std::vector<long> extraItems; // raw face-list items after the faces
    int declaredVertices = -1;    // -1: the real count

    std::string Text() const
    {
        std::string text = Pairs({{0, "MESH"},
                                  {8, layer},
                                  {100, "AcDbSubDMesh"},
                                  {71, "2"},
                                  {72, "0"},
                                  {91, std::to_string(level)}});
        text += Pairs({{92, std::to_string(declaredVertices >= 0 ? declaredVertices
                                                                 : int(vertices.size()))}});
        for (const auto& v : vertices)
            text += Pairs({{10, std::to_string(v[0])},
                           {20, std::to_string(v[1])},
                           {30, std::to_string(v[2])}});
        std::size_t items = extraItems.size();
        for (const auto& f : faces)
            items += f.size() + 1;
        text += Pairs({{93, std::to_string(items)}});
        for (const auto& f : faces) {
            text += Pairs({{90, std::to_string(f.size())}});
            for (long i : f)
                text += Pairs({{90, std::to_string(i)}});
        }
        for (long i : extraItems)
            text += Pairs({{90, std::to_string(i)}});
        // One edge, one crease, one override naming sub-entity 7 with 2 properties.
        text += Pairs({{94, "1"}, {90, "0"}, {90, "1"}, {95, "1"}, {140, "0.5"}});
        text += Pairs({{90, "1"}, {91, "7"}, {92, "2"}, {90, "0"}, {90, "1"}});
        return text;
    }
};

MeshEntity Pentagon()
{
    MeshEntity m;
    m.vertices = {{0, 0, 0}, {2, 0, 0}, {3, 1, 0}, {1, 3, 0}, {-1, 1, 0}, {1, 1, 5}};
    m.faces = {{0, 1, 2, 3, 4}, {0, 1, 5}};
    return m;
}

TEST(DxfMeshEntity, FacesOfAnyCornerCountAreReadAndTheTrailingGroupsIgnored)
{
    const DxfRead r =
        ReadDxfText(Drawing(Face("F", {0, 0, 9, 1, 0, 9, 0, 1, 9}) + Pentagon().Text()));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.warnings.empty()) << r.warnings[0];
    const Mesh3d* m = r.Layer("M");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->vertexCount, 6u); // shared by both faces
    EXPECT_EQ(m->faceCount, 4u);   // the pentagon in 3 triangles, and one more
    for (std::uint32_t f = 0; f < m->faceCount; ++f)
        for (int k = 0; k < 3; ++k)
            EXPECT_LT(m->faceData[4 * f + k], 6u);
    EXPECT_DOUBLE_EQ(m->vertexData[5 * 3 + 2], 5.0);
    ASSERT_NE(r.Layer("F"), nullptr);
    EXPECT_EQ(r.Layer("F")->faceCount, 1u);
}

TEST(DxfMeshEntity, ProxyGraphicsBeforeTheMeshGroupsAreNotTakenForThem)
{
    // Common entity groups first: 92 counts the bytes of the proxy graphics in 310.
    std::string text = Pentagon().Text();
    text.insert(text.find("100\nAcDbSubDMesh"),
                Pairs({{100, "AcDbEntity"}, {92, "4"}, {310, "0A0B0C0D"}}));
    const DxfRead r = ReadDxfText(Drawing(text));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.warnings.empty()) << r.warnings[0];
    EXPECT_EQ(r.Triangles(), 4u);
}

TEST(DxfMeshEntity, AMeshInABlockIsPlacedByItsInsert)
{
    const std::string block =
        Pairs({{0, "BLOCK"}, {8, "0"}, {2, "B"}, {70, "0"}, {10, "0"}, {20, "0"}, {30, "0"}}) +
        Pentagon().Text() + Pairs({{0, "ENDBLK"}});
    const std::string insert =
        Pairs({{0, "INSERT"}, {8, "0"}, {2, "B"}, {10, "100"}, {20, "0"}, {30, "0"}});
    const DxfRead r = ReadDxfText(Drawing(insert, block));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.Triangles(), 4u);
    const Mesh3d& m = *r.meshes[0];
    for (std::uint32_t v = 0; v < m.vertexCount; ++v)
        EXPECT_GE(m.vertexData[3 * v], 99.0);
}

TEST(DxfMeshEntity, DamagedFaceListsLoseOnlyTheirBadFacesWithWarnings)
{
    struct Case {
        const char* what;
        std::vector<std::vector<long>> faces;
        std::vector<long> extraItems;
        int declaredVertices, level;
        std::size_t triangles;
        std::vector<const char*> warnings;
    };
    const Case cases[] = {
        {"an index past the vertices", {{0, 1, 6}, {0, 1, 5}}, {}, -1, 0, 1, {"1 MESH face(s)"}},
        {"a negative index", {{0, -1, 5}, {0, 1, 5}}, {}, -1, 0, 1, {"1 MESH face(s)"}},
        {"a corner count past the list", {{0, 1, 5}}, {5, 0, 1}, -1, 0, 1, {"1 MESH face(s)"}},
        {"a corner count of 0", {{0, 1, 5}}, {0, 3, 0, 1, 2}, -1, 0, 1, {"1 MESH face(s)"}},
        {"too few corners", {{0, 1}, {0, 0, 1}, {0, 1, 5}}, {}, -1, 0, 1, {}},
        {"a wrong vertex count", {{0, 1, 5}}, {}, 9, 0, 1, {"declares 9 vertices but holds 6"}},
        {"a smoothing level", {{0, 1, 5}}, {}, -1, 2, 1, {"smoothed 2 level(s)"}},
    };
    for (const Case& c : cases) {
        MeshEntity m = Pentagon();
        m.faces = c.faces;
        m.extraItems = c.extraItems;
        m.declaredVertices = c.declaredVertices;
        m.level = c.level;
        const DxfRead r = ReadDxfText(Drawing(m.Text()));
        ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
        EXPECT_EQ(r.Triangles(), c.triangles) << c.what;
        ASSERT_EQ(r.warnings.size(), c.warnings.size()) << c.what;
        for (std::size_t w = 0; w < c.warnings.size(); ++w) {
            EXPECT_EQ(r.warnings[w].rfind("line 5: ", 0), 0u) << c.what << ": " << r.warnings[w];
            EXPECT_NE(r.warnings[w].find(c.warnings[w]), std::string::npos)
                << c.what << ": " << r.warnings[w];
        }
    }
}

TEST(DxfMeshEntity, AnUnusableNumberSkipsTheMeshAndAMissingCoordinateIsZero)
{
    std::string text = Pentagon().Text();
    text.replace(text.find("10\n2.000000"), 11, "10\n2.0x0000");
    DxfRead r = ReadDxfText(Drawing(text + Face("F", {0, 0, 0, 1, 0, 0, 0, 1, 0})));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Layer("M"), nullptr);
    EXPECT_EQ(r.Triangles(), 1u);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("entity skipped"), std::string::npos) << r.warnings[0];

    // A vertex whose 30 group is left out: the next 10 starts the next vertex.
    text = Pentagon().Text();
    text.erase(text.find("30\n0.000000\n10\n2.000000"), 12);
    r = ReadDxfText(Drawing(text));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_NE(r.Layer("M"), nullptr);
    EXPECT_EQ(r.Layer("M")->vertexCount, 6u);
    EXPECT_EQ(r.Triangles(), 4u);
}

TEST(DxfMeshEntity, SolidsAndSurfacesStoredAsAcisAreNamedOnceAKind)
{
    const std::string solid = Pairs({{0, "3DSOLID"},
                                     {8, "S"},
                                     {100, "AcDbModelerGeometry"},
                                     {70, "1"},
                                     {1, "opaque modeler data"}});
    const std::string surface = Pairs({{0, "PLANESURFACE"}, {8, "S"}, {70, "1"}});
    const DxfRead r = ReadDxfText(Drawing(solid + Face("F", {0, 0, 0, 1, 0, 0, 0, 1, 0}) + surface +
                                          solid + Pairs({{0, "LINE"}, {8, "L"}})));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 1u);
    ASSERT_EQ(r.warnings.size(), 2u);
    EXPECT_EQ(r.warnings[0], "line 5: 2 3DSOLID entities skipped: solids and surfaces stored as "
                             "ACIS data are not read");
    EXPECT_NE(r.warnings[1].find("1 PLANESURFACE entity skipped"), std::string::npos)
        << r.warnings[1];
}

} // namespace
} // namespace polyvant::formats::test
