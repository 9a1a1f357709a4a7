#include "common/Triangulate.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"

namespace polyvant::formats {
namespace {

struct Polygon {
    std::vector<double> xyz;
    std::vector<std::uint32_t> corners;
};

Polygon InPlaneZ(const std::vector<std::pair<double, double>>& points, double z = 0)
{
    Polygon p;
    for (auto [x, y] : points) {
        p.corners.push_back(static_cast<std::uint32_t>(p.xyz.size() / 3));
        p.xyz.insert(p.xyz.end(), {x, y, z});
    }
    return p;
}

double Signed(const Polygon& p, std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    const double* A = &p.xyz[3 * a];
    const double* B = &p.xyz[3 * b];
    const double* C = &p.xyz[3 * c];
    return 0.5 * ((B[0] - A[0]) * (C[1] - A[1]) - (B[1] - A[1]) * (C[0] - A[0]));
}

double PolygonArea(const Polygon& p)
{
    double area = 0;
    for (std::size_t i = 0; i < p.corners.size(); ++i) {
        const double* a = &p.xyz[3 * p.corners[i]];
        const double* b = &p.xyz[3 * p.corners[(i + 1) % p.corners.size()]];
        area += 0.5 * (a[0] * b[1] - b[0] * a[1]);
    }
    return area;
}

// The triangles cover the polygon exactly once and none is folded over: their signed
// areas all share the polygon's sign and add up to its area.
void ExpectCoversWithoutFolding(const Polygon& p)
{
    std::vector<std::uint32_t> tris;
    TriangulatePolygon(p.xyz.data(), p.corners.data(), p.corners.size(), tris);
    ASSERT_EQ(tris.size(), 3 * (p.corners.size() - 2));
    const double area = PolygonArea(p);
    double sum = 0;
    for (std::size_t t = 0; t < tris.size(); t += 3) {
        const double s = Signed(p, tris[t], tris[t + 1], tris[t + 2]);
        EXPECT_GE(s * (area > 0 ? 1 : -1), -1e-12) << "triangle " << t / 3 << " is folded";
        sum += s;
    }
    EXPECT_NEAR(sum, area, 1e-9 * std::fabs(area));
}

TEST(TriangulatePolygon, FansAConvexPolygonFromItsFirstCorner)
{
    Polygon quad = InPlaneZ({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    std::vector<std::uint32_t> tris;
    TriangulatePolygon(quad.xyz.data(), quad.corners.data(), 4, tris);
    EXPECT_EQ(tris, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
}

TEST(TriangulatePolygon, CoversConcavePolygonsInEitherWinding)
{
    const std::vector<std::vector<std::pair<double, double>>> shapes = {
        {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}},                 // L
        {{0, 0}, {4, 0}, {4, 3}, {2, 1}, {0, 3}},                         // notch at corner 3
        {{2, 1}, {0, 3}, {0, 0}, {4, 0}, {4, 3}},                         // notch at corner 0
        {{0, 0}, {3, 0}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}}, // U
    };
    for (const auto& shape : shapes) {
        ExpectCoversWithoutFolding(InPlaneZ(shape));
        auto reversed = shape;
        std::reverse(reversed.begin(), reversed.end());
        ExpectCoversWithoutFolding(InPlaneZ(reversed));
    }
}

TEST(TriangulatePolygon, KeepsTheWindingOfAPolygonFacingAnyAxis)
{
    // An L in the x = 5 plane, seen from -x: triangles keep the polygon's normal.
    const std::vector<std::pair<double, double>> l = {{0, 0}, {2, 0}, {2, 1},
                                                      {1, 1}, {1, 2}, {0, 2}};
    Polygon p;
    for (auto [a, b] : l) {
        p.corners.push_back(static_cast<std::uint32_t>(p.xyz.size() / 3));
        p.xyz.insert(p.xyz.end(), {5.0, b, a}); // (y, z) = (b, a): clockwise seen from +x
    }
    std::vector<std::uint32_t> tris;
    TriangulatePolygon(p.xyz.data(), p.corners.data(), p.corners.size(), tris);
    ASSERT_EQ(tris.size(), 12u);
    for (std::size_t t = 0; t < tris.size(); t += 3) {
        const double* A = &p.xyz[3 * tris[t]];
        const double* B = &p.xyz[3 * tris[t + 1]];
        const double* C = &p.xyz[3 * tris[t + 2]];
        const double nx = (B[1] - A[1]) * (C[2] - A[2]) - (B[2] - A[2]) * (C[1] - A[1]);
        EXPECT_LT(nx, 0) << "triangle " << t / 3;
    }
}

TEST(TriangulatePolygon, GivesNMinusTwoTrianglesForDegenerateOrTinyInput)
{
    Polygon line = InPlaneZ({{0, 0}, {1, 0}, {2, 0}, {3, 0}});
    std::vector<std::uint32_t> tris;
    TriangulatePolygon(line.xyz.data(), line.corners.data(), 4, tris);
    EXPECT_EQ(tris.size(), 6u);
    tris.clear();
    TriangulatePolygon(line.xyz.data(), line.corners.data(), 2, tris);
    EXPECT_TRUE(tris.empty());
}

TEST(TriangulatePolygon, FinishesAHundredThousandCornerConcaveFace)
{
    std::vector<std::pair<double, double>> star;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        const double r = i % 2 ? 1.0 : 0.5, a = 2 * M_PI * i / n;
        star.emplace_back(r * std::cos(a), r * std::sin(a));
    }
    Polygon p = InPlaneZ(star);
    std::vector<std::uint32_t> tris;
    TriangulatePolygon(p.xyz.data(), p.corners.data(), p.corners.size(), tris);
    EXPECT_EQ(tris.size(), 3u * (n - 2));
}

TEST(TriangulatePolygon, SpentImportWorkFansFurtherConcavePolygonsAndCountsThem)
{
    const Polygon l = InPlaneZ({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}});
    const Polygon square = InPlaneZ({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    std::vector<std::uint32_t> clipped, fanned;
    TriangulatePolygon(l.xyz.data(), l.corners.data(), 6, clipped);
    {
        TriangulationScope scope(0);
        TriangulatePolygon(l.xyz.data(), l.corners.data(), 6, fanned);
        std::vector<std::uint32_t> convex;
        TriangulatePolygon(square.xyz.data(), square.corners.data(), 4, convex);
        EXPECT_EQ(scope.Fanned(), 1u); // a convex polygon costs nothing
    }
    EXPECT_EQ(fanned, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 5}));
    EXPECT_NE(clipped, fanned);
    {
        TriangulationScope scope(std::size_t(1) << 20);
        std::vector<std::uint32_t> again;
        TriangulatePolygon(l.xyz.data(), l.corners.data(), 6, again);
        EXPECT_EQ(again, clipped);
        EXPECT_EQ(scope.Fanned(), 0u);
    }
}

// Imports two concave stars of `corners` corners each, whatever the file holds.
class TwoStarsImporter final : public ImporterBase {
public:
    explicit TwoStarsImporter(int corners) noexcept : ImporterBase("Stars", ""), n(corners) {}
    ~TwoStarsImporter() override = default;

protected:
    void Read(const char*, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MeshBuilder mesh("stars");
        std::vector<std::uint32_t> corners;
        for (int i = 0; i < n; ++i) {
            const double r = i % 2 ? 1.0 : 0.5, a = 2 * M_PI * i / n;
            corners.push_back(mesh.AddVertex(r * std::cos(a), r * std::sin(a), 0));
        }
        mesh.AddPolygon(corners.data(), corners.size());
        mesh.AddPolygon(corners.data(), corners.size());
        meshes.emplace_back(mesh.Finish());
    }

private:
    int n;
};

TEST(TriangulatePolygon, AnImportMayClipInProportionToItsFile)
{
    test::TempDir dir;
    const std::string small = dir.File("small.x"), large = dir.File("large.x");
    test::WriteBytes(small, std::string(1000, ' '));
    test::WriteBytes(large, std::string(8 << 20, ' '));
    for (const auto& [file, fanned] : {std::pair{small, true}, std::pair{large, false}}) {
        SCOPED_TRACE(file);
        test::HostRecorder host;
        TwoStarsImporter importer(6000);
        ObjectList* list = importer.ImportFile(file.c_str());
        ASSERT_NE(list, nullptr) << host.AllText();
        EXPECT_EQ(test::TotalFaces(list), 2u * (6000 - 2));
        const std::string warning = "1 large concave polygons were split as fans";
        EXPECT_EQ(host.AllText().find(warning) != std::string::npos, fanned) << host.AllText();
    }
}

} // namespace
} // namespace polyvant::formats
