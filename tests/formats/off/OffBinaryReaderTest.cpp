#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/PluginSupport.h"
#include "off/OffReader.h"

namespace polyvant::formats::off {
namespace {

using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

// Big-endian 32-bit values after a text header, as the binary OFF layout has them.
struct BinaryOff {
    std::string bytes;

    explicit BinaryOff(const std::string& header) : bytes(header) {}
    BinaryOff& Int(std::int64_t v)
    {
        const auto u = static_cast<std::uint32_t>(v);
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += static_cast<char>((u >> shift) & 0xFF);
        return *this;
    }
    BinaryOff& Float(float f)
    {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        return Int(u);
    }
    BinaryOff& Floats(std::initializer_list<float> values)
    {
        for (float f : values)
            Float(f);
        return *this;
    }
};

// The unit square: 4 vertices, one quad with an RGBA face colour and one triangle
// without; `extra` floats after each vertex's x y z.
BinaryOff Square(const std::string& header, std::initializer_list<float> extra = {})
{
    BinaryOff off(header);
    off.Int(4).Int(2).Int(0);
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& c : corners) {
        off.Floats({c[0], c[1], 0});
        for (float f : extra)
            off.Float(f);
    }
    off.Int(4).Int(0).Int(1).Int(2).Int(3).Int(4).Floats({1, 0, 0, 1});
    off.Int(3).Int(0).Int(2).Int(3).Int(0);
    return off;
}

class OffBinaryReaderTest : public testing::Test {
protected:
    // Reads from a buffer of exactly the file's size; the error, or "" on success.
    std::string Read(const std::string& bytes, Meshes& meshes)
    {
        return test::ReadExactly(bytes, meshes, [&](const char* data, std::size_t size) {
            ReadOff(data, size, "m.off", "m", meshes, nullptr);
        });
    }
    Meshes ReadOk(const std::string& bytes)
    {
        Meshes meshes;
        EXPECT_EQ(Read(bytes, meshes), "");
        return meshes;
    }

    test::HostRecorder host;
};

TEST_F(OffBinaryReaderTest, EveryVertexLayoutGivesTheSameSquare)
{
    const Meshes text = ReadOk("OFF\n4 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n3 0 2 3\n");
    ASSERT_EQ(text.size(), 1u);
    ASSERT_EQ(text[0]->faceCount, 3u);
    const std::string layouts[] = {
        Square("OFF BINARY\n").bytes,
        Square("CNOFF BINARY  # normals and colours\n", {0, 0, 1, 1, 1, 1, 1}).bytes,
        Square("STOFF BINARY\n", {0.5f, 0.5f}).bytes,
        Square("4OFF BINARY\n", {1}).bytes,
        // n: the number of dimensions comes first.
        BinaryOff("nOFF BINARY\n").Int(3).bytes + Square("").bytes,
    };
    for (const std::string& bytes : layouts) {
        SCOPED_TRACE(bytes.substr(0, bytes.find('\n')));
        const Meshes binary = ReadOk(bytes);
        ASSERT_EQ(binary.size(), 1u);
        test::ExpectSameMeshes({text[0].get()}, {binary[0].get()});
    }
    EXPECT_TRUE(host.messages.empty()) << host.AllText();

    // Homogeneous coordinates are divided out.
    BinaryOff scaled("4OFF BINARY\n");
    scaled.Int(3).Int(1).Int(0).Floats({0, 0, 0, 1, 4, 0, 0, 2, 0, 1, 0, 0.5f});
    scaled.Int(3).Int(0).Int(1).Int(2).Int(0);
    const Meshes divided = ReadOk(scaled.bytes);
    ASSERT_EQ(divided.size(), 1u);
    EXPECT_EQ(divided[0]->vertexData[3], 2.0);
    EXPECT_EQ(divided[0]->vertexData[7], 2.0);
}

TEST_F(OffBinaryReaderTest, BadFacesAreSkippedAndACutFileKeepsWhatWasRead)
{
    BinaryOff off = Square("OFF BINARY\n");
    off.bytes.replace(off.bytes.find("OFF BINARY\n") + 11 + 4, 4, BinaryOff("").Int(5).bytes);
    off.Int(3).Int(0).Int(1).Int(4).Int(0); // index 4 of 4 vertices
    off.Int(2).Int(0).Int(1).Int(0);        // too few corners
    off.Int(3).Int(0).Int(1).Int(-1).Int(0);
    Meshes meshes = ReadOk(off.bytes);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 3u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_EQ(host.Texts(PV_WARNING)[0].rfind("m.off: offset ", 0), 0u);
    EXPECT_NE(host.Texts(PV_WARNING)[0].find("vertex index 4 with 4 vertices; skipped 3 faces"),
              std::string::npos)
        << host.Texts(PV_WARNING)[0];

    // Cut within the second face: the first is kept, with a warning.
    host.Clear();
    const std::string whole = Square("OFF BINARY\n").bytes;
    meshes = ReadOk(whole.substr(0, whole.size() - 8));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->faceCount, 2u);
    ASSERT_EQ(host.Texts(PV_WARNING).size(), 1u);
    EXPECT_NE(host.Texts(PV_WARNING)[0].find("the file ends within face 2 of 2"), std::string::npos)
        << host.Texts(PV_WARNING)[0];
}

TEST_F(OffBinaryReaderTest, WhatCannotBeReadIsRefusedNamingTheOffset)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        std::string bytes;
        std::string error;
    };
    const std::string header = "OFF BINARY\n"; // 11 bytes: the counts start at offset 11
    const Case cases[] = {
        {header, "m.off: offset 11: the file ends before the vertex count"},
        {"OFF BINARY", "m.off: line 1: the file ends after its header: no binary data"},
        {BinaryOff(header).Int(1000000).Int(1).Int(0).Floats({0, 0, 0}).bytes,
         "m.off: offset 11: the header declares 1000000 vertices and 1 faces, more than"},
        {BinaryOff(header).Int(-1).Int(0).Int(0).bytes, "m.off: offset 11: the header declares -1"},
        {BinaryOff(header).Int(1).Int(100).Int(0).Floats({0, 0, 0}).bytes,
         "m.off: offset 11: the header declares 1 vertices and 100 faces"},
        {BinaryOff(header).Int(1).Int(0).Int(0).Floats({0, nan, 0}).bytes,
         "m.off: offset 27: coordinate is not a finite number"},
        {BinaryOff(header).Int(1).Int(0).Int(0).Floats({0, 0, 1e31f}).bytes,
         "m.off: offset 31: coordinate is too large"},
        {BinaryOff("4OFF BINARY\n").Int(1).Int(0).Int(0).Floats({1, 0, 0, 0}).bytes,
         "m.off: offset 24: a vertex at infinity (w is 0)"},
        {BinaryOff("nOFF BINARY\n").Int(4).Int(0).Int(0).Int(0).bytes,
         "m.off: offset 12: only 3-dimensional OFF files are supported; this one gives 4"},
        {BinaryOff(header).Int(1).Int(1).Int(0).Floats({0, 0, 0}).Int(-3).Int(0).bytes,
         "m.off: offset 35: a face of -3 corners"},
        {BinaryOff(header).Int(1).Int(1).Int(0).Floats({0, 0, 0}).Int(0).Int(9).bytes,
         "m.off: offset 39: a face colour of 9 values; 0 to 4 are possible"},
    };
    for (const Case& c : cases) {
        Meshes meshes;
        const std::string error = Read(c.bytes, meshes);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error << "\n  expected: " << c.error;
    }
}

TEST_F(OffBinaryReaderTest, EveryTruncationGivesAnErrorOrAValidMesh)
{
    const std::string whole = Square("CNOFF BINARY\n", {0, 0, 1, 1, 1, 1, 1}).bytes;
    for (std::size_t n = 1; n < whole.size(); ++n) {
        Meshes meshes;
        const std::string error = Read(whole.substr(0, n), meshes);
        if (error.empty()) {
            EXPECT_LE(meshes.size(), 1u);
        }
    }
}

} // namespace
} // namespace polyvant::formats::off
