#include "stl/StlReader.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/PluginSupport.h"

namespace polyvant::formats::stl {
namespace {

using test::HostRecorder;
using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

// A binary STL built byte by byte: `header` (padded to 80 bytes), the count, then the
// triangles' corners (9 floats each, normal and attribute bytes zero).
std::string BinaryStl(const std::vector<float>& corners, std::uint32_t count,
                      const std::string& header = "test")
{
    std::string bytes(header);
    bytes.resize(80, '\0');
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    for (std::size_t t = 0; t + 9 <= corners.size(); t += 9) {
        bytes.append(12, '\0');
        bytes.append(reinterpret_cast<const char*>(&corners[t]), 36);
        bytes.append(2, '\0');
    }
    return bytes;
}

const std::vector<float> kTwoTriangles = {0,      0, 0, 1, 0, 0, 1, 1, 0,
                                          /**/ 0, 0, 0, 1, 1, 0, 0, 1, 0};

const char kAsciiSquare[] = "solid square\n"
                            "  facet normal 0 0 1\n"
                            "    outer loop\n"
                            "      vertex 0 0 0\n"
                            "      vertex 1 0 0\n"
                            "      vertex 1 1 0\n"
                            "    endloop\n"
                            "  endfacet\n"
                            "  facet normal 0 0 1\n"
                            "    outer loop\n"
                            "      vertex 0 0 0\n"
                            "      vertex 1 1 0\n"
                            "      vertex 0 1 0\n"
                            "    endloop\n"
                            "  endfacet\n"
                            "endsolid square\n";

class StlReaderTest : public testing::Test {
protected:
    // Reads `bytes` from a buffer of exactly their size (so ASan catches overreads);
    // the error message, or "" on success.
    std::string Read(const std::string& bytes, Meshes& meshes, const std::string& path = "m.stl")
    {
        return test::ReadExactly(bytes, meshes, [&](const char* data, std::size_t size) {
            ReadStl(data, size, path, meshes);
        });
    }
    Meshes ReadOk(const std::string& bytes)
    {
        Meshes meshes;
        EXPECT_EQ(Read(bytes, meshes), "");
        return meshes;
    }
    std::string ReadError(const std::string& bytes)
    {
        Meshes meshes;
        return Read(bytes, meshes);
    }

    HostRecorder host;
};

struct SampleFile {
    const char* file;
    std::size_t meshes, vertices, triangles;
    const char* firstName;
};

// Expected values counted independently from the files (a short script: binary records
// or ASCII facets per solid, distinct corner positions with -0 taken as 0). Assimp 5.2
// (`assimp info`) agrees on every face count and on the meshes of triangle*,
// multibody, Wuson and teapot. It reports more vertices elsewhere (3DSMaxExport 5633,
// ADIS16480 15670, unit_sphere 3840) because it keeps corners with different facet
// normals apart; distinct positions are what the files describe. For Spider it shows 3
// meshes because its post-processing moves degenerate facets into point and line
// meshes; the file has one solid of 1368 facets, which is what we read.
const SampleFile kSamples[] = {
    {"3DSMaxExport.STL", 1, 1042, 2000, "3DSMaxExport"},
    {"ADIS16480.STL", 1, 3672, 7436, "ci - ADIS16480-1"},
    {"Spider_ascii.stl", 1, 722, 1368, "NoName_1"},
    {"Spider_binary.stl", 1, 722, 1368, "Spider_binary"},
    {"Wuson.stl", 1, 2117, 3732, "Wuson"},
    {"multibody.stl", 2, 20, 32, "bodyB"},
    {"sphereWithHole.stl", 1, 146, 285, "tinysphere_withhole"},
    {"stl_empty_bin.stl", 0, 0, 0, ""},
    {"teapot.stl", 1, 480, 894, "teapot"},
    {"triangle.stl", 1, 3, 1, "testTriangle"},
    {"triangle_with_empty_solid.stl", 1, 3, 1, "testTriangle"},
    {"triangle_with_two_solids.stl", 2, 6, 2, "testTriangle_1"},
    {"unit_sphere.STL", 1, 642, 1280, "unit_sphere"},
};

TEST_F(StlReaderTest, SampleFilesGiveTheirSolidsTrianglesAndDistinctPositions)
{
    for (const SampleFile& s : kSamples) {
        SCOPED_TRACE(s.file);
        Meshes meshes;
        ASSERT_EQ(Read(test::ReadBytes(test::TestData(std::string("stl/") + s.file)), meshes,
                       std::string("/data/") + s.file),
                  "");
        ASSERT_EQ(meshes.size(), s.meshes);
        std::size_t vertices = 0, triangles = 0;
        for (const auto& m : meshes) {
            vertices += m->vertexCount, triangles += m->faceCount;
            EXPECT_EQ(test::DistinctPositions(*m), m->vertexCount) << "a position twice";
        }
        EXPECT_EQ(vertices, s.vertices);
        EXPECT_EQ(triangles, s.triangles);
        if (s.meshes) {
            EXPECT_STREQ(meshes[0]->name, s.firstName);
        }
    }
}

TEST_F(StlReaderTest, WusonHasTheBoundsOfItsCorners)
{
    Meshes meshes = ReadOk(test::ReadBytes(test::TestData("stl/Wuson.stl")));
    ASSERT_EQ(meshes.size(), 1u);
    const float lo[] = {-0.459976f, -0.000566f, -1.622242f};
    const float hi[] = {0.459976f, 1.515251f, 1.622242f};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(meshes[0]->min[k], lo[k]);
        EXPECT_EQ(meshes[0]->max[k], hi[k]);
    }
}

TEST_F(StlReaderTest, BinaryFileBeginningWithSolidIsReadAsBinary)
{
    Meshes meshes = ReadOk(BinaryStl(kTwoTriangles, 2, "solid exported by a CAD program"));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u);
    EXPECT_EQ(meshes[0]->vertexCount, 4u);
    EXPECT_EQ(DetectStlKind(kAsciiSquare, std::strlen(kAsciiSquare)), StlKind::kAscii);
}

TEST_F(StlReaderTest, WeldsOnlyBitwiseEqualPositionsCountingBothZerosAsOne)
{
    const float nextAfterOne = std::nextafter(1.0f, 2.0f);
    Meshes meshes = ReadOk(BinaryStl(
        {0, 0, 0, 1, 0, 0, 1, 1, 0, /**/ -0.0f, 0, -0.0f, 1, 1, 0, nextAfterOne, 0, 0}, 2));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->vertexCount, 4u);
    const std::uint32_t* f = meshes[0]->faceData;
    EXPECT_EQ(f[4], f[0]); // -0 welded to 0
    EXPECT_EQ(f[5], f[2]);
    EXPECT_EQ(f[6], 3u); // one ulp away is another vertex
}

TEST_F(StlReaderTest, BinaryCountThatDisagreesWithTheSize)
{
    const std::string records = BinaryStl(kTwoTriangles, 2);
    // The count left out (0) while records follow: read them all and say so.
    Meshes meshes = ReadOk(BinaryStl(kTwoTriangles, 0));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_NE(host.Texts(PV_WARNING)[0].find("m.stl: offset 80: triangle count is 0"),
              std::string::npos);

    // Fewer declared than present, or bytes after the last record: read what the
    // count says and warn about the rest.
    host.Clear();
    meshes = ReadOk(BinaryStl(kTwoTriangles, 1));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 1u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_NE(host.Texts(PV_WARNING)[0].find("offset 134: 50 bytes after the last triangle"),
              std::string::npos)
        << host.Texts(PV_WARNING)[0];

    // Text that does not begin with "solid" is not taken for a short binary file.
    const std::string commented = "# made by hand\n" + std::string(kAsciiSquare);
    EXPECT_EQ(ReadError(commented),
              "m.stl: offset 0: not an STL file: it is text, but does not begin with 'solid'");

    // More declared than present is a truncated file; 2^32 - 1 records would need
    // 84 + 50 n bytes, which overflows 32 bits.
    for (std::uint32_t count : {3u, 0x7FFFFFFFu, 0xFFFFFFFFu, 85899346u}) {
        SCOPED_TRACE(count);
        const std::string error = ReadError(BinaryStl(kTwoTriangles, count));
        EXPECT_EQ(error.rfind("m.stl: offset 80: header declares " + std::to_string(count), 0), 0u)
            << error;
        EXPECT_NE(error.find("truncated"), std::string::npos);
    }
}

TEST_F(StlReaderTest, EveryTruncationOfABinaryFileIsRefusedWithAnOffset)
{
    const std::string whole = BinaryStl(kTwoTriangles, 2);
    for (std::size_t n = 1; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        const std::string error = ReadError(whole.substr(0, n));
        EXPECT_EQ(error.rfind("m.stl: offset ", 0), 0u) << error;
    }
    EXPECT_EQ(ReadError(""), "m.stl: offset 0: the file is empty");
}

TEST_F(StlReaderTest, AnAsciiFileCutShortKeepsItsWholeFacetsOrIsRefusedWithALine)
{
    const std::string whole = kAsciiSquare;
    const std::size_t endsolid = whole.rfind("endsolid");
    // Shorter than "solid" it is no text STL at all (refused with an offset, above).
    for (std::size_t n = 5; n < endsolid + 8; ++n) {
        SCOPED_TRACE(n);
        host.Clear();
        std::size_t wholeFacets = 0;
        for (std::size_t at = whole.find("endfacet"); at != std::string::npos && at + 8 <= n;
             at = whole.find("endfacet", at + 1))
            ++wholeFacets;
        Meshes meshes;
        const std::string error = Read(whole.substr(0, n), meshes);
        if (wholeFacets == 0) {
            EXPECT_EQ(error.rfind("m.stl: line ", 0), 0u) << error;
            continue;
        }
        ASSERT_EQ(error, "");
        ASSERT_EQ(meshes.size(), 1u);
        EXPECT_EQ(meshes[0]->faceCount, wholeFacets);
        ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
        const std::string warning = host.Texts(PV_WARNING)[0];
        EXPECT_EQ(warning.rfind("m.stl: line ", 0), 0u) << warning;
        EXPECT_NE(warning.find(wholeFacets == 1 ? "the 1 triangle before it is kept"
                                                : "the 2 triangles before it are kept"),
                  std::string::npos)
            << warning;
    }
    // Cut inside the name after "endsolid": everything is there.
    Meshes meshes = ReadOk(whole.substr(0, endsolid + 10));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u);
}

TEST_F(StlReaderTest, DamagedCopiesOfRealFilesNeverCrash)
{
    // Deterministic byte flips over a binary and an ASCII sample: each copy must give
    // a valid mesh or an error naming the file, never a crash or an overread.
    for (const char* file : {"stl/Spider_binary.stl", "stl/sphereWithHole.stl"}) {
        const std::string original = test::ReadBytes(test::TestData(file));
        std::uint32_t seed = 12345;
        for (int copy = 0; copy < 60; ++copy) {
            std::string damaged = original;
            for (int flip = 0; flip < 8; ++flip) {
                seed = seed * 1664525u + 1013904223u;
                const std::size_t at = copy < 20 ? seed % 200 : seed % damaged.size();
                damaged[at] = static_cast<char>(damaged[at] ^ (1u << (seed >> 29)));
            }
            Meshes meshes;
            const std::string error = Read(damaged, meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.stl: ", 0), 0u) << error;
            }
        }
    }
}

TEST_F(StlReaderTest, NonFiniteAndHugeCoordinatesAreRefusedWhereTheyStand)
{
    for (float bad : {NAN, INFINITY, -INFINITY, 3e38f}) {
        SCOPED_TRACE(bad);
        std::vector<float> corners = kTwoTriangles;
        corners[13] = bad; // second triangle, corner 1, y
        const std::string error = ReadError(BinaryStl(corners, 2));
        EXPECT_EQ(error.rfind("m.stl: offset " + std::to_string(84 + 50 + 12 + 4 * 4) + ": ", 0),
                  0u)
            << error;
    }
    for (const char* bad : {"nan", "inf", "-inf", "1e309", "2e30", "1.5x", "--1"}) {
        SCOPED_TRACE(bad);
        std::string text = kAsciiSquare;
        text.replace(text.find("vertex 1 1 0"), 12, std::string("vertex 1 ") + bad + " 0");
        EXPECT_EQ(ReadError(text).rfind("m.stl: line 6: ", 0), 0u) << ReadError(text);
    }
}

TEST_F(StlReaderTest, AsciiLayoutVariationsAreRead)
{
    std::string crlf;
    for (char c : std::string(kAsciiSquare))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string upper = kAsciiSquare;
    for (char& c : upper)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    std::string tabs = kAsciiSquare;
    for (char& c : tabs)
        c = c == ' ' ? '\t' : c;
    std::string noFinalNewline = kAsciiSquare;
    noFinalNewline.pop_back();
    const std::string garbageNormal =
        std::string(kAsciiSquare)
            .replace(std::string(kAsciiSquare).find("normal 0 0 1"), 12, "normal -nan nan 1e999");
    for (const std::string& text : {crlf, upper, tabs, noFinalNewline, garbageNormal}) {
        Meshes meshes = ReadOk(text);
        ASSERT_EQ(meshes.size(), 1u);
        EXPECT_EQ(meshes[0]->vertexCount, 4u);
        EXPECT_EQ(meshes[0]->faceCount, 2u);
    }
}

TEST_F(StlReaderTest, SolidsAreNamedOrTakeTheFileName)
{
    Meshes meshes;
    ASSERT_EQ(Read("solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                   "vertex 0 1 0\nendloop\nendfacet\nendsolid\n"
                   "solid  two words \nendsolid\n"
                   "solid third\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                   "vertex 0 1 0\nendloop\nendfacet\nendsolid third\n",
                   meshes, "dir.x/part.v2.stl"),
              "");
    ASSERT_EQ(meshes.size(), 2u); // the empty solid gives no object
    EXPECT_STREQ(meshes[0]->name, "part.v2");
    EXPECT_STREQ(meshes[1]->name, "third");
}

TEST_F(StlReaderTest, PolygonFacetsAreTriangulatedAndShortOnesSkipped)
{
    std::string quad = kAsciiSquare;
    quad.insert(quad.find("      vertex 1 1 0\n") + 19, "      vertex 0.5 2 0\n");
    Meshes meshes = ReadOk(quad);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 3u);
    EXPECT_TRUE(host.Texts(PV_WARNING).empty());

    // Line segments written as facets, far outside the square: skipped with one warning,
    // and their points neither become vertices nor widen the bounds.
    const std::string segment = "  facet normal 0 0 0\n    outer loop\n      vertex 9 9 9\n"
                                "      vertex -9 -9 -9\n    endloop\n  endfacet\n";
    std::string mixed = kAsciiSquare;
    mixed.insert(mixed.find("  facet"), segment);
    mixed.insert(mixed.find("endsolid"), segment + "  facet\n outer loop\n endloop\n endfacet\n");
    meshes = ReadOk(mixed);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u);
    EXPECT_EQ(meshes[0]->vertexCount, 4u);
    for (std::uint32_t v = 0; v < 3 * meshes[0]->vertexCount; ++v)
        EXPECT_LE(std::fabs(meshes[0]->vertexData[v]), 1.0);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_EQ(host.Texts(PV_WARNING)[0],
              "m.stl: line 2: facet has 2 corners; skipped 3 facets with fewer than 3 corners, "
              "kept the rest");

    // Nothing but segments: nothing to show, and the file says why.
    host.Clear();
    meshes = ReadOk("solid lines\n" + segment + "endsolid lines\n");
    EXPECT_TRUE(meshes.empty());
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_NE(host.Texts(PV_WARNING)[0].find("skipped 1 facet with"), std::string::npos);
}

TEST_F(StlReaderTest, MalformedAsciiStructureNamesTheLine)
{
    struct Case {
        std::string text;
        std::string error;
    };
    const std::string s = kAsciiSquare;
    const Case cases[] = {
        {"solid x\n", "m.stl: line 2: file ends before 'endsolid'"},
        {"solid x\nfacet normal 0 0 1\nvertex 0 0 0\n", "m.stl: line 3: expected 'outer'"},
        {"solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0\nendloop\n",
         "m.stl: line 5: expected a number"},
        {"solid x\nfacets\n", "m.stl: line 2: expected 'facet' or 'endsolid', found 'facets'"},
        {"hello\n", ""}, // not STL at all: binary, too short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string error = ReadError(c.text);
        const std::string expected =
            c.error.empty() ? "m.stl: offset 6: file ends inside the 84-byte header" : c.error;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
    }
    // After complete solids, junk is dropped with a warning and the solids are kept.
    Meshes meshes = ReadOk(s + "\x01\x02garbage");
    EXPECT_EQ(meshes.size(), 1u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_EQ(host.Texts(PV_WARNING)[0].rfind("m.stl: line 17: text after the last solid", 0), 0u);
}

} // namespace
} // namespace polyvant::formats::stl
