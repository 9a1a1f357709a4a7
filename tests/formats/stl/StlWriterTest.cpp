#include "stl/StlWriter.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/AtomicFileWriter.h"
#include "common/PluginSupport.h"
#include "stl/StlReader.h"

namespace polyvant::formats::stl {
namespace {

using test::HostRecorder;
using Meshes = std::vector<std::unique_ptr<Mesh3d>>;

std::vector<const Mesh3d*> Pointers(const Meshes& meshes)
{
    std::vector<const Mesh3d*> list;
    for (const auto& m : meshes)
        list.push_back(m.get());
    return list;
}

// A flat mesh from positions and triangles, as an importer of another format makes it.
std::unique_ptr<Mesh3d> MakeMesh(const char* name, const std::vector<double>& xyz,
                                 const std::vector<std::uint32_t>& triangles)
{
    auto mesh = std::make_unique<Mesh3d>(name, Mesh3d::kFlat);
    mesh->vertexCount = static_cast<std::uint32_t>(xyz.size() / 3);
    mesh->vertexData = static_cast<double*>(std::malloc(xyz.size() * sizeof(double)));
    std::memcpy(mesh->vertexData, xyz.data(), xyz.size() * sizeof(double));
    mesh->faceCount = static_cast<std::uint32_t>(triangles.size() / 3);
    mesh->faceData =
        static_cast<std::uint32_t*>(std::malloc(4 * mesh->faceCount * sizeof(std::uint32_t)));
    for (std::uint32_t f = 0; f < mesh->faceCount; ++f) {
        for (int k = 0; k < 3; ++k)
            mesh->faceData[4 * f + k] = triangles[3 * f + k];
        mesh->faceData[4 * f + 3] = 0;
    }
    return mesh;
}

class StlWriterTest : public testing::Test {
protected:
    Meshes ReadPath(const std::string& path)
    {
        const std::string bytes = test::ReadBytes(path);
        Meshes meshes;
        ReadStl(bytes.data(), bytes.size(), path, meshes);
        return meshes;
    }
    // The error message of a failed write, or "" once the file is committed.
    std::string Write(const Meshes& meshes, const std::string& path, bool ascii)
    {
        AtomicFileWriter out;
        std::string error;
        if (!out.Open(path.c_str(), error))
            return error;
        try {
            if (ascii)
                WriteStlAscii(Pointers(meshes), out, path);
            else
                WriteStlBinary(Pointers(meshes), out, path);
        } catch (const FormatError& e) {
            return e.what();
        }
        return out.Commit(error) ? "" : error;
    }

    HostRecorder host;
    test::TempDir dir;
};

const char* const kBinarySamples[] = {"3DSMaxExport.STL", "Spider_binary.stl", "Wuson.stl",
                                      "teapot.stl", "unit_sphere.STL"};
const char* const kAsciiSamples[] = {"ADIS16480.STL", "Spider_ascii.stl", "multibody.stl",
                                     "sphereWithHole.stl", "triangle_with_two_solids.stl"};

TEST_F(StlWriterTest, EverySampleReadsBackIdenticallyFromAscii)
{
    for (const char* const* list : {kBinarySamples, kAsciiSamples}) {
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(list[i]);
            const Meshes original = ReadPath(test::TestData(std::string("stl/") + list[i]));
            // Same base name, so that unnamed solids get the same name back.
            const std::string copy = dir.File(list[i]);
            ASSERT_EQ(Write(original, copy, true), "");
            EXPECT_EQ(test::ReadBytes(copy).rfind("solid ", 0), 0u);
            const Meshes again = ReadPath(copy);
            test::ExpectSameMeshes(Pointers(original), Pointers(again));
        }
    }
}

// The corners of every mesh in order, each the nearest float: what one binary solid holds.
std::vector<double> FloatCorners(const Meshes& meshes)
{
    std::vector<double> corners;
    for (const auto& m : meshes)
        for (double v : test::CornerPositions(*m))
            corners.push_back(static_cast<float>(v));
    return corners;
}

// Big meshes are formatted on two threads, chunk by chunk: the facets must still come in
// order, and a bad face in a chunk of the other thread must still refuse the export.
TEST_F(StlWriterTest, BigMeshesReadBackInOrder)
{
    std::vector<double> xyz;
    std::vector<std::uint32_t> triangles;
    for (std::uint32_t i = 0; i < 150000; ++i) {
        xyz.insert(xyz.end(), {i * 0.5, i % 7 * 0.25, 1.0 / (i + 1)});
        if (i >= 2)
            triangles.insert(triangles.end(), {i - 2, i - 1, i});
    }
    for (bool ascii : {true, false}) {
        SCOPED_TRACE(ascii ? "ASCII" : "binary");
        Meshes original;
        original.push_back(MakeMesh("first", xyz, triangles));
        original.push_back(
            MakeMesh("second", std::vector<double>(xyz.begin(), xyz.begin() + 300),
                     std::vector<std::uint32_t>(triangles.begin(), triangles.begin() + 294)));
        const std::string copy = dir.File("big.stl");
        ASSERT_EQ(Write(original, copy, ascii), "");
        const Meshes again = ReadPath(copy);
        if (ascii) {
            ASSERT_EQ(again.size(), 2u);
            for (std::size_t m = 0; m < 2; ++m)
                EXPECT_EQ(test::CornerPositions(*again[m]), test::CornerPositions(*original[m]));
        } else {
            // One solid, every corner the nearest float.
            EXPECT_EQ(test::ReadBytes(copy).size(), 84 + 50 * std::size_t(149998 + 98));
            ASSERT_EQ(again.size(), 1u);
            EXPECT_EQ(test::CornerPositions(*again[0]), FloatCorners(original));
        }

        // In a chunk of the second thread, whose chunks are the odd ones: 8192 facets a
        // chunk of text, 16384 a chunk of binary records.
        original[0]->faceData[4 * 30000 + 1] = 150000;
        EXPECT_NE(Write(original, dir.File("bad.stl"), ascii)
                      .find("mesh 'first': face 30000 names vertex 150000 but the mesh has 150000"),
                  std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir.File("bad.stl")));
    }
}

TEST_F(StlWriterTest, BinarySamplesReadBackIdenticallyFromBinary)
{
    for (const char* file : kBinarySamples) {
        SCOPED_TRACE(file);
        const Meshes original = ReadPath(test::TestData(std::string("stl/") + file));
        const std::string copy = dir.File(file);
        ASSERT_EQ(Write(original, copy, false), "");
        const std::string bytes = test::ReadBytes(copy);
        EXPECT_EQ(bytes.size(), 84 + 50 * std::size_t(original[0]->faceCount));
        EXPECT_NE(bytes.rfind("solid", 0), 0u) << "a binary header must not look like text";
        const Meshes again = ReadPath(copy);
        test::ExpectSameMeshes(Pointers(original), Pointers(again));
    }
}

TEST_F(StlWriterTest, BinaryExportKeepsEveryCornerAsTheNearestFloat)
{
    // ASCII samples hold decimal values that floats cannot all represent, and binary
    // STL holds only one solid: every corner comes back rounded, in order.
    for (const char* file : kAsciiSamples) {
        SCOPED_TRACE(file);
        const Meshes original = ReadPath(test::TestData(std::string("stl/") + file));
        ASSERT_EQ(Write(original, dir.File("out.stl"), false), "");
        const Meshes again = ReadPath(dir.File("out.stl"));
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(test::CornerPositions(*again[0]), FloatCorners(original));
    }
}

TEST_F(StlWriterTest, RefusesMeshesItCannotWriteNamingMeshAndPlace)
{
    const std::string target = dir.File("m.stl");
    Meshes badIndex;
    badIndex.push_back(MakeMesh("part", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3}));
    Meshes notFinite;
    notFinite.push_back(MakeMesh("part", {0, 0, 0, 1, NAN, 0, 0, 1, 0}, {0, 1, 2}));
    for (bool ascii : {false, true}) {
        EXPECT_EQ(Write(badIndex, target, ascii),
                  target + ": mesh 'part': face 0 names vertex 3 but the mesh has 3");
        EXPECT_EQ(Write(notFinite, target, ascii),
                  target + ": mesh 'part': vertex 1 is not a finite position");
    }
}

TEST_F(StlWriterTest, AsciiSolidNamesStayOnTheirLine)
{
    Meshes meshes;
    meshes.push_back(MakeMesh("two\nlines\r", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}));
    meshes.push_back(MakeMesh("", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 2, 1}));
    ASSERT_EQ(Write(meshes, dir.File("names.stl"), true), "");
    const Meshes again = ReadPath(dir.File("names.stl"));
    ASSERT_EQ(again.size(), 2u);
    EXPECT_STREQ(again[0]->name, "two lines");
    EXPECT_STREQ(again[1]->name, "mesh");
    // Winding kept: corners come back in the order they were written.
    EXPECT_EQ(test::CornerPositions(*again[1]), (std::vector<double>{0, 0, 0, 0, 1, 0, 1, 0, 0}));
}

} // namespace
} // namespace polyvant::formats::stl
