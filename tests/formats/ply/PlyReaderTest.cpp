#include "ply/PlyReader.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/PluginSupport.h"

namespace polyvant::formats::ply {
namespace {

using test::HostRecorder;
using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

// Appends `value` as a T in the given byte order.
template <typename T>
void Put(std::string& out, T value, bool bigEndian = false)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if (bigEndian)
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i)
            std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    out.append(bytes, sizeof(T));
}

const char kAsciiSquare[] = "ply\n"
                            "format ascii 1.0\n"
                            "element vertex 4\n"
                            "property float x\n"
                            "property float y\n"
                            "property float z\n"
                            "element face 2\n"
                            "property list uchar int vertex_indices\n"
                            "end_header\n"
                            "0 0 0\n"
                            "1 0 0\n"
                            "1 1 0\n"
                            "0 1 0\n"
                            "3 0 1 2\n"
                            "3 0 2 3\n";

// The same square in binary, with the face layout of most writers.
std::string BinarySquare(bool bigEndian)
{
    std::string bytes = std::string("ply\nformat ") +
                        (bigEndian ? "binary_big_endian" : "binary_little_endian") +
                        " 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
                        "property float z\nelement face 2\n"
                        "property list uchar int vertex_indices\nend_header\n";
    const float xyz[] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    for (float v : xyz)
        Put(bytes, v, bigEndian);
    for (const auto& face : {std::vector<int>{0, 1, 2}, std::vector<int>{0, 2, 3}}) {
        Put<std::uint8_t>(bytes, 3);
        for (int index : face)
            Put<std::int32_t>(bytes, index, bigEndian);
    }
    return bytes;
}

class PlyReaderTest : public testing::Test {
protected:
    // Reads `bytes` from a buffer of exactly their size (so ASan catches overreads);
    // the error message, or "" on success.
    std::string Read(const std::string& bytes, Meshes& meshes, const std::string& path = "m.ply")
    {
        return test::ReadExactly(bytes, meshes, [&](const char* data, std::size_t size) {
            ReadPly(data, size, path, meshes);
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
    std::size_t vertices, triangles; // no mesh when vertices is 0
    double lo[3], hi[3];
};

// Counted independently from the files (a short script: the vertex element's records,
// n - 2 triangles per face of n corners, float values as floats). Assimp 5.2
// (`assimp info`) agrees on every triangle count. It reports fewer vertices for Wuson
// (11154) and featuretype (5084) because it merges vertices with equal attributes; the
// files declare and hold 11184 and 5096 vertices, which is what the mesh keeps. It
// reads nothing from points_bin and pond.0 (point clouds without faces), which give a
// mesh of vertices without faces here, and nothing from empty.ply (no vertices), which
// gives no mesh here either.
const SampleFile kSamples[] = {
    {"Wuson.ply",
     11184,
     3732,
     {-0.459976f, -0.000566f, -1.622242f},
     {0.459976f, 1.515251f, 1.622242f}},
    {"cube.ply", 8, 12, {0, 0, 0}, {1, 1, 1}},
    {"cube_binary.ply", 8, 12, {0, 0, 0}, {1, 1, 1}},
    {"cube_binary_header_with_RN_newline.ply", 8, 12, {0, 0, 0}, {1, 1, 1}},
    {"cube_uv.ply", 24, 12, {-1, -1.000001f, -1}, {1, 1, 1}},
    {"cycloidal.ply",
     21384,
     43368,
     {0.239546f, -0.33863f, 0.810647f},
     {2.114547f, 1.535957f, 1.917561f}},
    {"empty.ply", 0, 0, {}, {}},
    {"featuretype.ply", 5096, 3476, {-2.5, -1.25, 0}, {2.5, 1.25, 1.375}},
    {"float-color.ply", 3, 1, {0, 0, 0}, {200, 200, 0}},
    {"fuze.ply", 502, 1000, {-0.036391f, -0.036711f, 0.004016f}, {0.036221f, 0.036803f, 0.219144f}},
    {"multi.ply", 4, 2, {-1, -1, 0}, {1, 1, 0}},
    {"octagonal_pocket.ply",
     1658,
     3262,
     {-3.625572e-16f, -6.1463205e-33f, -6.599995e-20f},
     {0.2286f, 0.16471462f, 0.015875f}},
    {"points_bin.ply",
     5,
     0,
     {-0.0645f, 0.0359793f, 0.0404362f},
     {-0.06275f, 0.0367289f, 0.0425949f}},
    {"pond.0.ply", 70051, 0, {-1.50206f, 0.571367f, -2.63168f}, {1.97647f, 1.09156f, 0.509945f}},
    {"suzanne.ply",
     1966,
     968,
     {-1.367188f, 0.28356f, -0.895003f},
     {1.367188f, 2.25231f, 0.808122f}},
};

TEST_F(PlyReaderTest, SampleFilesGiveTheirVerticesTrianglesAndBounds)
{
    for (const SampleFile& s : kSamples) {
        SCOPED_TRACE(s.file);
        Meshes meshes;
        ASSERT_EQ(Read(test::ReadBytes(test::TestData(std::string("ply/") + s.file)), meshes,
                       std::string("/data/") + s.file),
                  "");
        if (s.vertices == 0) {
            EXPECT_TRUE(meshes.empty());
            continue;
        }
        ASSERT_EQ(meshes.size(), 1u);
        const Mesh3d& m = *meshes[0];
        EXPECT_EQ(m.vertexCount, s.vertices);
        EXPECT_EQ(m.faceCount, s.triangles);
        EXPECT_EQ(std::string(m.name) + ".ply", s.file);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(m.min[k], s.lo[k], 1e-6 * (1 + std::fabs(s.lo[k])));
            EXPECT_NEAR(m.max[k], s.hi[k], 1e-6 * (1 + std::fabs(s.hi[k])));
        }
    }
}

TEST_F(PlyReaderTest, AsciiAndBothBinaryByteOrdersGiveTheSameMesh)
{
    const Meshes ascii = ReadOk(kAsciiSquare);
    const Meshes little = ReadOk(BinarySquare(false));
    const Meshes big = ReadOk(BinarySquare(true));
    ASSERT_EQ(ascii.size(), 1u);
    test::ExpectSameMeshes({ascii[0].get()}, {little[0].get()});
    test::ExpectSameMeshes({ascii[0].get()}, {big[0].get()});
    const Meshes cube = ReadOk(test::ReadBytes(test::TestData("ply/cube_binary.ply")));
    const Meshes crlf =
        ReadOk(test::ReadBytes(test::TestData("ply/cube_binary_header_with_RN_newline.ply")));
    test::ExpectSameMeshes({cube[0].get()}, {crlf[0].get()});
}

TEST_F(PlyReaderTest, ReadsAnyNumericTypesAndSkipsWhatItDoesNotUse)
{
    // x uchar, y short, z double among a list and scalars to skip; faces with a ushort
    // count and int8 indices after a skipped list; an extra element before and after.
    for (bool big : {false, true}) {
        SCOPED_TRACE(big);
        std::string b = std::string("ply\nformat ") +
                        (big ? "binary_big_endian" : "binary_little_endian") +
                        " 1.0\ncomment anything\nelement material 1\nproperty list uint float "
                        "shade\nelement vertex 3\nproperty uchar x\nproperty list uchar "
                        "double extra\nproperty short y\nproperty ushort flags\nproperty "
                        "double z\nelement face 1\nproperty list uchar float texcoord\n"
                        "property list ushort char vertex_index\nproperty int tag\n"
                        "element edge 1\nproperty list uchar uint ends\nend_header\n";
        Put<std::uint32_t>(b, 2, big), Put<float>(b, 0.5f, big), Put<float>(b, 0.25f, big);
        const int xyz[3][3] = {{1, -2, 0}, {200, -300, 1}, {7, 30000, -1}};
        for (const auto& v : xyz) {
            Put<std::uint8_t>(b, static_cast<std::uint8_t>(v[0]));
            Put<std::uint8_t>(b, 1), Put<double>(b, 99.0, big);
            Put<std::int16_t>(b, static_cast<std::int16_t>(v[1]), big);
            Put<std::uint16_t>(b, 0xFFFF, big);
            Put<double>(b, v[2] + 0.5, big);
        }
        Put<std::uint8_t>(b, 2), Put<float>(b, 1.f, big), Put<float>(b, 2.f, big);
        Put<std::uint16_t>(b, 3, big);
        Put<std::int8_t>(b, 2), Put<std::int8_t>(b, 0), Put<std::int8_t>(b, 1);
        Put<std::int32_t>(b, -5, big);
        Put<std::uint8_t>(b, 2), Put<std::uint32_t>(b, 0, big), Put<std::uint32_t>(b, 1, big);
        Meshes meshes = ReadOk(b);
        ASSERT_EQ(meshes.size(), 1u);
        EXPECT_EQ(std::vector<double>(meshes[0]->vertexData, meshes[0]->vertexData + 9),
                  (std::vector<double>{1, -2, 0.5, 200, -300, 1.5, 7, 30000, -0.5}));
        ASSERT_EQ(meshes[0]->faceCount, 1u);
        EXPECT_EQ(meshes[0]->faceData[0], 2u);
        EXPECT_EQ(meshes[0]->faceData[1], 0u);
        EXPECT_EQ(meshes[0]->faceData[2], 1u);
        EXPECT_TRUE(host.messages.empty()) << host.AllText();
    }
}

TEST_F(PlyReaderTest, FacesBeforeVerticesAreReadAfterThem)
{
    const std::string ascii = "ply\nformat ascii 1.0\nelement face 1\nproperty list uchar uint "
                              "vertex_indices\nelement vertex 4\nproperty float x\nproperty "
                              "float y\nproperty float z\nend_header\n4 0 1 2 3\n"
                              "0 0 0\n1 0 0\n1 1 0\n0 1 0\n";
    std::string binary = "ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list "
                         "uchar uint vertex_indices\nelement vertex 4\nproperty float x\n"
                         "property float y\nproperty float z\nend_header\n";
    Put<std::uint8_t>(binary, 4);
    for (std::uint32_t i : {0u, 1u, 2u, 3u})
        Put(binary, i);
    for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 1.f, 1.f, 0.f, 0.f, 1.f, 0.f})
        Put(binary, v);
    const Meshes square = ReadOk(kAsciiSquare);
    test::ExpectSameMeshes({square[0].get()}, {ReadOk(ascii)[0].get()});
    test::ExpectSameMeshes({square[0].get()}, {ReadOk(binary)[0].get()});
}

TEST_F(PlyReaderTest, PolygonsAreTriangulatedAndShortFacesSkippedWithAWarning)
{
    std::string text = kAsciiSquare;
    text.replace(text.find("element face 2"), 14, "element face 4");
    text += "5 0 1 2 3 0\n2 0 1\n";
    Meshes meshes = ReadOk(text);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u + 3u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_EQ(host.Texts(PV_WARNING)[0], "m.ply: 1 face with fewer than 3 corners skipped");

    // A face of 100 000 corners is split in bounded time.
    std::string huge = kAsciiSquare;
    huge.replace(huge.find("element face 2"), 14, "element face 3");
    huge += "100000";
    for (int i = 0; i < 100000; ++i)
        huge += i % 4 == 0 ? " 0" : i % 4 == 1 ? " 1" : i % 4 == 2 ? " 2" : " 3";
    meshes = ReadOk(huge + "\n");
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u + 99998u);
}

TEST_F(PlyReaderTest, UnknownHeaderLinesAreShownOnceAndCounted)
{
    std::string text = kAsciiSquare;
    text.insert(text.find("element vertex"), "Created by hand\nstray\nmore\n");
    ASSERT_EQ(ReadOk(text).size(), 1u);
    EXPECT_EQ(host.Texts(PV_WARNING),
              (std::vector<std::string>{"m.ply: line 3: unknown header line ignored ('Created by "
                                        "hand')",
                                        "m.ply: line 12: 2 more unknown header lines ignored"}));

    // A damaged "end_header" makes every line of the body a header line: one warning,
    // not one a line.
    host.Clear();
    std::string damaged = kAsciiSquare;
    damaged.replace(damaged.find("end_header"), 10, "end_hexder");
    for (int i = 0; i < 20000; ++i)
        damaged += "0 1 0\n";
    EXPECT_NE(ReadError(damaged).find("file ends inside the header"), std::string::npos);
    EXPECT_EQ(host.Texts(PV_WARNING).size(), 1u);
}

TEST_F(PlyReaderTest, PointCloudsAndFacesWithoutIndicesGiveVerticesOnly)
{
    Meshes cloud = ReadOk("ply\nformat ascii 1.0\nelement vertex 2\nproperty double x\n"
                          "property double y\nproperty double z\nend_header\n1 2 3\n4 5 6\n");
    ASSERT_EQ(cloud.size(), 1u);
    EXPECT_EQ(cloud[0]->vertexCount, 2u);
    EXPECT_EQ(cloud[0]->faceCount, 0u);
    EXPECT_EQ(cloud[0]->faceData, nullptr);

    const std::string head = "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                             "property float y\nproperty float z\nelement face 1\n";
    const std::string square = "0 0 0\n1 0 0\n1 1 0\n0 1 0\n";
    Meshes noIndices = ReadOk(head +
                              "property list uchar float weights\nproperty uchar flags\n"
                              "end_header\n" +
                              square + "2 0.5 0.5 7\n");
    ASSERT_EQ(noIndices.size(), 1u);
    EXPECT_EQ(noIndices[0]->faceCount, 0u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_EQ(host.Texts(PV_WARNING)[0].rfind("m.ply: line 7: element 'face' has no list", 0), 0u);

    // A face element's only integer list is its corners, whatever its name.
    host.Clear();
    Meshes renamed =
        ReadOk(head + "property list uint8 uint32 index\nend_header\n" + square + "4 0 1 2 3\n");
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_EQ(renamed[0]->faceCount, 2u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_NE(host.Texts(PV_WARNING)[0].find("names its corner list 'index'"), std::string::npos)
        << host.Texts(PV_WARNING)[0];
}

TEST_F(PlyReaderTest, HeaderFaultsNameTheirLine)
{
    const std::string vertex = "element vertex 1\nproperty float x\nproperty float y\n"
                               "property float z\n";
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"", "m.ply: line 1: not a PLY file"},
        {"plyx\n", "m.ply: line 1: not a PLY file"},
        {"ply\nformat ascii 1.0\n" + vertex, "m.ply: line 6: file ends inside the header"},
        {"ply\n" + vertex + "end_header\n0 0 0\n", "m.ply: line 6: the header has no 'format'"},
        {"ply\nformat binary_middle_endian 1.0\n", "m.ply: line 2: unknown format"},
        {"ply\nformat ascii 2.0\n", "m.ply: line 2: unsupported PLY version"},
        {"ply\nformat ascii 1.0\nproperty float x\n", "m.ply: line 3: 'property' before any"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float128 x\n",
         "m.ply: line 4: unknown type 'float128'"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty list float int x\n",
         "m.ply: line 4: list count type 'float'"},
        {"ply\nformat ascii 1.0\nelement vertex -1\n", "m.ply: line 3: element count '-1'"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
         "end_header\n0 0\n",
         "m.ply: line 3: element 'vertex' has no property 'z'"},
        {"ply\nformat ascii 1.0\n" + vertex +
             "element face 1\nproperty list uchar float "
             "vertex_indices\nend_header\n0 0 0\n3 0 0 0\n",
         "m.ply: line 7: face property 'vertex_indices' is not a list of integers"},
        {"ply\nformat ascii 1.0\nend_header\n", "m.ply: line 3: the header declares no 'vertex'"},
        {"ply\nformat ascii 1.0\nwhatever\n", "m.ply: line 3: file ends inside the header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string error = ReadError(c.text);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

TEST_F(PlyReaderTest, CountsTheFileCannotHoldAreRefusedBeforeReading)
{
    // A 1 KB file claiming 10^12 faces, and counts of 2^32 - 1 and beyond, in both
    // encodings: refused from the header, naming the element's line.
    for (const char* format : {"ascii", "binary_little_endian"}) {
        for (const char* count :
             {"1000000000000", "4294967295", "4294967296", "9223372036854775807"}) {
            SCOPED_TRACE(std::string(format) + " " + count);
            std::string text = std::string("ply\nformat ") + format +
                               " 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                               "property float z\nelement face " +
                               count + "\nproperty list uchar int vertex_indices\nend_header\n";
            text.resize(1024, '0');
            const std::string error = ReadError(text);
            EXPECT_EQ(error.rfind("m.ply: line 7: element 'face' declares " + std::string(count) +
                                      " records",
                                  0),
                      0u)
                << error;
        }
    }
    EXPECT_EQ(ReadError("ply\nformat ascii 1.0\nelement vertex 18446744073709551615\n")
                  .rfind("m.ply: line 3: element count", 0),
              0u);
}

TEST_F(PlyReaderTest, ListLengthsPastTheDataAreRefused)
{
    // A count of 2^32 - 1 items of 8 bytes would overflow 32-bit arithmetic.
    std::string b = "ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty float x\n"
                    "property float y\nproperty float z\nproperty list uint double extra\n"
                    "end_header\n";
    const std::size_t at = b.size() + 12;
    for (float v : {0.f, 0.f, 0.f})
        Put(b, v);
    Put<std::uint32_t>(b, 0xFFFFFFFFu);
    b.append(32, '\0');
    EXPECT_EQ(ReadError(b), "m.ply: offset " + std::to_string(at) +
                                ": list of 4294967295 items runs past the end of the file");
    const std::string ascii = "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                              "property float y\nproperty float z\nproperty list int int e\n"
                              "end_header\n0 0 0 ";
    for (const char* count : {"4294967295", "-1", "99999999999999999999"}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(ReadError(ascii + count + " 1 2\n").rfind("m.ply: line 9: ", 0), 0u)
            << ReadError(ascii + count + " 1 2\n");
    }
}

TEST_F(PlyReaderTest, ShiftedValuesAreTracedToTheLineThatShiftedThem)
{
    struct Case {
        const char* from;
        const char* to;
        bool fails;       // an error, else a warning
        const char* hint; // "" : the error stands alone
    };
    const Case cases[] = {
        // A value missing from or added to a vertex: the faces read shifted, and a face
        // too short is skipped or values are left over.
        {"1 0 0\n", "1 0\n", false,
         "m.ply: line 11: this line holds 2 values where record 1 of element 'vertex' needs 3, "
         "so the values after it may be misread"},
        {"1 1 0\n", "1 1 0 7\n", false,
         "m.ply: line 12: this line holds 4 values where record 2 of element 'vertex' needs 3, "
         "so the values after it may be misread"},
        {"3 0 1 2\n", "4 0 1 2\n", false,
         "m.ply: line 14: this line holds 4 values where record 0 of element 'face' needs 5, "
         "so the values after it may be misread"},
        // The next face asks for 9 corners, more than are left.
        {"3 0 1 2\n", "3 0 1 2 9\n", true,
         "; line 14 holds 5 values where record 0 of element 'face' needs 4"},
        // The fault comes before the misfit line: nothing to add.
        {"0 0 0\n1 0 0\n", "0 x 0\n1 0\n", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        host.Clear();
        std::string text = kAsciiSquare;
        text.replace(text.find(c.from), std::strlen(c.from), c.to);
        const std::string error = ReadError(text);
        if (!c.fails) {
            EXPECT_EQ(error, "");
            ASSERT_FALSE(host.Texts(PV_WARNING).empty());
            EXPECT_EQ(host.Texts(PV_WARNING)[1], c.hint);
            continue;
        }
        ASSERT_FALSE(error.empty());
        const std::size_t semicolon = error.find("; line");
        if (*c.hint)
            EXPECT_EQ(error.substr(semicolon == std::string::npos ? 0 : semicolon), c.hint)
                << error;
        else
            EXPECT_EQ(semicolon, std::string::npos) << error;
    }

    // Records split over lines, or apart by blank lines, are still read: the layout is
    // only a hint for an error.
    std::string split = kAsciiSquare;
    split.replace(split.find("1 0 0\n"), 6, "1\n0 0\n\n");
    split.replace(split.find("3 0 2 3\n"), 8, "3 0\n  2 3\n");
    const Meshes meshes = ReadOk(split);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u);
}

TEST_F(PlyReaderTest, BadIndicesAndCoordinatesNameLineOrOffset)
{
    for (const char* index : {"4", "-1", "2147483648", "x"}) {
        SCOPED_TRACE(index);
        std::string text = kAsciiSquare;
        text.replace(text.rfind("3 0 2 3"), 7, std::string("3 0 2 ") + index);
        EXPECT_EQ(ReadError(text).rfind("m.ply: line 15: ", 0), 0u) << ReadError(text);
    }
    for (const char* value : {"nan", "inf", "-inf", "1e39", "2e30", "1.5.5"}) {
        SCOPED_TRACE(value);
        std::string text = kAsciiSquare;
        text.replace(text.find("1 1 0\n"), 5, std::string("1 ") + value + " 0");
        EXPECT_EQ(ReadError(text).rfind("m.ply: line 12: ", 0), 0u) << ReadError(text);
    }
    const std::string binary = BinarySquare(false);
    const std::size_t body = binary.find("end_header\n") + 11;
    for (std::int32_t index : {4, -1, 0x7FFFFFFF}) {
        std::string b = binary;
        std::memcpy(&b[body + 48 + 13 + 1 + 8], &index, 4); // face 1, corner 2
        EXPECT_EQ(ReadError(b).rfind("m.ply: offset " + std::to_string(body + 48 + 13 + 9), 0), 0u)
            << ReadError(b);
    }
    for (float value : {NAN, INFINITY, 1e31f}) {
        std::string b = binary;
        std::memcpy(&b[body + 28], &value, 4); // vertex 2, y
        EXPECT_EQ(ReadError(b).rfind("m.ply: offset " + std::to_string(body + 28) + ": coord", 0),
                  0u)
            << ReadError(b);
    }
}

TEST_F(PlyReaderTest, EveryTruncationGivesAnErrorOrAValidMesh)
{
    for (const std::string& whole :
         {std::string(kAsciiSquare), BinarySquare(false), BinarySquare(true),
          test::ReadBytes(test::TestData("ply/fuze.ply")).substr(0, 2000) +
              std::string(kAsciiSquare)}) {
        for (std::size_t n = 0; n < whole.size(); ++n) {
            Meshes meshes;
            const std::string error = Read(whole.substr(0, n), meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.ply: ", 0), 0u) << error;
            }
        }
    }
    // A cut among the vertices, or before the first face is whole, is an error. A cut after it
    // keeps the whole faces, with a warning.
    for (bool bigEndian : {false, true}) {
        const std::string binary = BinarySquare(bigEndian);
        const std::size_t faces = binary.size() - 2 * 13;
        for (std::size_t n = binary.find("end_header") + 11; n < binary.size(); ++n) {
            SCOPED_TRACE(n);
            host.Clear();
            Meshes meshes;
            const std::string error = Read(binary.substr(0, n), meshes);
            if (n < faces + 13) {
                EXPECT_EQ(error.rfind("m.ply: ", 0), 0u) << error;
                EXPECT_TRUE(error.find("truncated") != std::string::npos ||
                            error.find("file ends inside record") != std::string::npos ||
                            error.find("runs past the end of the file") != std::string::npos)
                    << error;
                continue;
            }
            ASSERT_EQ(error, "");
            ASSERT_EQ(meshes.size(), 1u);
            EXPECT_EQ(meshes[0]->faceCount, 1u);
            ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
            // Where the second face starts; its corner count may be there or not.
            const std::string warning = host.Texts(PV_WARNING)[0];
            EXPECT_EQ(warning.rfind("m.ply: offset " + std::to_string(faces + 13) + ": ", 0), 0u)
                << warning;
            const std::string kept = "; the 1 triangle before it is kept";
            EXPECT_EQ(warning.substr(warning.size() - std::min(warning.size(), kept.size())), kept)
                << warning;
        }
    }

    // The same in text; but a file whose values shifted before the cut is refused, with
    // the line that shifted them.
    std::string ascii = kAsciiSquare;
    host.Clear();
    Meshes meshes = ReadOk(ascii.substr(0, ascii.size() - 3));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 1u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u) << host.AllText();
    EXPECT_EQ(host.Texts(PV_WARNING)[0],
              "m.ply: line 15: file ends inside record 1 of element 'face'; the 1 triangle before "
              "it is kept");
    // A short face before the cut is reported as such, and the cut line is not taken
    // for shifted values.
    host.Clear();
    std::string shortFace = ascii;
    shortFace.replace(shortFace.find("element face 2"), 14, "element face 3");
    shortFace.insert(shortFace.find("3 0 1 2"), "2 0 1\n");
    meshes = ReadOk(shortFace.substr(0, shortFace.size() - 3));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 1u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 2u) << host.AllText();
    EXPECT_EQ(host.AllText().find("misread"), std::string::npos) << host.AllText();
    ascii.replace(ascii.find("3 0 1 2"), 7, "3 0 1 2 9");
    const std::string error = ReadError(ascii.substr(0, ascii.size() - 3));
    EXPECT_NE(error.find("; line 14 holds 5 values"), std::string::npos) << error;
}

TEST_F(PlyReaderTest, DamagedCopiesOfRealFilesNeverCrash)
{
    for (const char* file : {"ply/fuze.ply", "ply/cube_uv.ply", "ply/cycloidal.ply"}) {
        const std::string original = test::ReadBytes(test::TestData(file));
        std::uint32_t seed = 777;
        for (int copy = 0; copy < 40; ++copy) {
            std::string damaged = original;
            for (int flip = 0; flip < 6; ++flip) {
                seed = seed * 1664525u + 1013904223u;
                const std::size_t at = copy < 15 ? seed % 400 : seed % damaged.size();
                damaged[at] = static_cast<char>(damaged[at] ^ (1u << (seed >> 29)));
            }
            Meshes meshes;
            const std::string error = Read(damaged, meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.ply: ", 0), 0u) << error;
            }
        }
    }
}

} // namespace
} // namespace polyvant::formats::ply
