#include "raw/RawReader.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/PluginSupport.h"

namespace polyvant::formats::raw {
namespace {

using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

class RawReaderTest : public testing::Test {
protected:
    // Reads from a buffer of exactly the text's size; the error, or "" on success.
    std::string Read(const std::string& text, Meshes& meshes, const std::string& base = "m")
    {
        std::unique_ptr<char[]> copy(new char[text.size() + 1]);
        std::memcpy(copy.get(), text.data(), text.size());
        try {
            ReadRaw(copy.get(), text.size(), base + ".raw", base, meshes, nullptr);
        } catch (const FormatError& e) {
            return e.what();
        }
        for (const auto& mesh : meshes)
            test::ExpectValidMesh(*mesh);
        return "";
    }
    Meshes ReadOk(const std::string& text, const std::string& base = "m")
    {
        Meshes meshes;
        EXPECT_EQ(Read(text, meshes, base), "");
        return meshes;
    }

    test::HostRecorder host;
};

struct Expected {
    const char* name;
    std::uint32_t vertices, triangles;
};

// Counted independently (a short script: a line starting with a non-number names an
// object, 12 numbers = colour + triangle, equal positions counted once per object).
// Assimp 5.2 agrees on Wuson (2117 vertices, 3732 faces) and reads neither
// WithColor.raw nor WithTexture.raw (no scene); both are valid RAW files.
TEST_F(RawReaderTest, SampleFilesGiveTheirObjects)
{
    const std::vector<std::pair<const char*, std::vector<Expected>>> files = {
        {"Wuson", {{"Wuson", 2117, 3732}}},
        {"WithColor", {{"Hans_Peter", 6, 2}, {"Hans_Peter2", 6, 2}}},
        {"WithTexture", {{"WithTexture", 6, 3}, {"Hans_Peter3", 6, 2}, {"Hans_Peter4", 6, 2}}},
    };
    for (const auto& [file, objects] : files) {
        SCOPED_TRACE(file);
        Meshes meshes =
            ReadOk(test::ReadBytes(test::TestData(std::string("raw/") + file + ".raw")), file);
        ASSERT_EQ(meshes.size(), objects.size());
        for (std::size_t i = 0; i < objects.size(); ++i) {
            EXPECT_STREQ(meshes[i]->name, objects[i].name);
            EXPECT_EQ(meshes[i]->vertexCount, objects[i].vertices);
            EXPECT_EQ(meshes[i]->faceCount, objects[i].triangles);
        }
    }
}

TEST_F(RawReaderTest, ColourComesBeforeTheCoordinatesAndNumbersTheFaces)
{
    Meshes meshes = ReadOk("obj\n0.5 0.5 0.5 0 0 0 0 1 0 1 0 0\n0 0 0 0 1 0 1 0 0 wall.png\n"
                           "0.5 0.5 0.5 0 0 1 0 1 1 1 0 1\n1 1 1 0 0 2 0 1 2 1 0 2\n");
    ASSERT_EQ(meshes.size(), 1u);
    const Mesh3d& m = *meshes[0];
    ASSERT_EQ(m.faceCount, 4u);
    EXPECT_EQ(m.vertexCount, 9u); // the second line repeats the first triangle's corners
    EXPECT_EQ(m.max[2], 2.0);
    EXPECT_EQ(m.min[0], 0.0);
    EXPECT_EQ(m.faceData[3], 1u);
    EXPECT_EQ(m.faceData[7], 2u);
    EXPECT_EQ(m.faceData[11], 1u);
    EXPECT_EQ(m.faceData[15], 3u);
}

TEST_F(RawReaderTest, RefusesMalformedTriangleLinesNamingTheLine)
{
    const char* bad[] = {"1 2 3 4 5 6 7 8",         "1 2 3 4 5 6 7 8 9 10",
                         "1 2 3 4 5 6 7 8 9 10 11", "1 2 3 4 5 6 7 8 9 10 11 12 13",
                         "1 2 3 4 nan 6 7 8 9",     "1 2 3 4 5 6 7 8 1e309",
                         "1 2 3 4 5 6 7 8 1.5.5",   "1 2 3 inf 5 6 7 8 9 10 11 12"};
    for (const char* line : bad) {
        SCOPED_TRACE(line);
        Meshes meshes;
        const std::string error = Read(std::string("name\n\n") + line + "\n", meshes);
        EXPECT_EQ(error.rfind("m.raw: line 3: ", 0), 0u) << error;
    }
}

TEST_F(RawReaderTest, NamesMayStartWithDigitsOrLookLikeWords)
{
    Meshes meshes = ReadOk("3d part\n0 0 0 0 1 0 1 0 0\nE1 tank\r\n0 0 0 0 1 0 1 0 0\r\n");
    ASSERT_EQ(meshes.size(), 2u);
    EXPECT_STREQ(meshes[0]->name, "3d part");
    EXPECT_STREQ(meshes[1]->name, "E1 tank");
}

TEST_F(RawReaderTest, EqualPositionsShareAVertexIncludingSignedZero)
{
    Meshes meshes = ReadOk("0 0 0 1 0 0 0 1 0\n-0 0 0 0 1 0 1 1 0\n");
    EXPECT_EQ(meshes[0]->vertexCount, 4u);
}

TEST_F(RawReaderTest, DamagedCopiesGiveErrorsOrValidMeshes)
{
    for (const char* name : {"raw/WithTexture.raw", "raw/Wuson.raw"}) {
        const std::string file = test::ReadBytes(test::TestData(name));
        const std::size_t step = file.size() < 1000 ? 1 : file.size() / 300;
        for (std::size_t cut = 0; cut < file.size(); cut += step) {
            Meshes meshes;
            const std::string error = Read(file.substr(0, cut), meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.raw: line ", 0), 0u) << error;
            }
        }
        std::uint32_t seed = 99;
        for (int trial = 0; trial < 300; ++trial) {
            std::string copy = file;
            for (int k = 0; k < 4; ++k) {
                seed = seed * 1103515245 + 12345;
                copy[(seed >> 8) % copy.size()] = static_cast<char>(seed >> 24);
            }
            Meshes meshes;
            const std::string error = Read(copy, meshes);
            if (!error.empty()) {
                EXPECT_EQ(error.rfind("m.raw: line ", 0), 0u) << error;
            }
        }
    }
}

} // namespace
} // namespace polyvant::formats::raw
