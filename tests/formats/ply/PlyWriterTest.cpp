#include "ply/PlyWriter.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "common/AtomicFileWriter.h"
#include "common/PluginSupport.h"
#include "ply/PlyReader.h"

namespace polyvant::formats::ply {
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

std::unique_ptr<Mesh3d> MakeMesh(const char* name, const std::vector<double>& xyz,
                                 const std::vector<std::uint32_t>& triangles)
{
    auto mesh = std::make_unique<Mesh3d>(name, Mesh3d::kFlat);
    mesh->vertexCount = static_cast<std::uint32_t>(xyz.size() / 3);
    mesh->vertexData = static_cast<double*>(std::malloc(xyz.size() * sizeof(double)));
    std::memcpy(mesh->vertexData, xyz.data(), xyz.size() * sizeof(double));
    mesh->faceCount = static_cast<std::uint32_t>(triangles.size() / 3);
    if (mesh->faceCount)
        mesh->faceData =
            static_cast<std::uint32_t*>(std::malloc(16 * std::size_t(mesh->faceCount)));
    for (std::uint32_t f = 0; f < mesh->faceCount; ++f) {
        for (int k = 0; k < 3; ++k)
            mesh->faceData[4 * f + k] = triangles[3 * f + k];
        mesh->faceData[4 * f + 3] = 7;
    }
    return mesh;
}

constexpr PlyOutput kEncodings[] = {PlyOutput::kAscii, PlyOutput::kBinaryLittleEndian};

class PlyWriterTest : public testing::Test {
protected:
    Meshes ReadPath(const std::string& path)
    {
        const std::string bytes = test::ReadBytes(path);
        Meshes meshes;
        ReadPly(bytes.data(), bytes.size(), path, meshes);
        return meshes;
    }
    std::string Write(const Meshes& meshes, const std::string& path, PlyOutput encoding)
    {
        AtomicFileWriter out;
        std::string error;
        if (!out.Open(path.c_str(), error))
            return error;
        try {
            WritePly(Pointers(meshes), out, path, encoding);
        } catch (const FormatError& e) {
            return e.what();
        }
        return out.Commit(error) ? "" : error;
    }

    HostRecorder host;
    test::TempDir dir;
};

TEST_F(PlyWriterTest, EverySampleReadsBackIdenticallyInBothEncodings)
{
    for (const char* file :
         {"Wuson.ply", "cube.ply", "cube_binary.ply", "cube_uv.ply", "cycloidal.ply",
          "featuretype.ply", "float-color.ply", "fuze.ply", "multi.ply", "octagonal_pocket.ply",
          "points_bin.ply", "pond.0.ply", "suzanne.ply"}) {
        const Meshes original = ReadPath(test::TestData(std::string("ply/") + file));
        ASSERT_EQ(original.size(), 1u) << file;
        for (PlyOutput encoding : kEncodings) {
            SCOPED_TRACE(std::string(file) +
                         (encoding == PlyOutput::kAscii ? " ascii" : " binary"));
            const std::string copy = dir.File(file); // same base name, same mesh name
            ASSERT_EQ(Write(original, copy, encoding), "");
            test::ExpectSameMeshes(Pointers(original), Pointers(ReadPath(copy)));
        }
    }
}

TEST_F(PlyWriterTest, CoordinatesThatAreNotFloatsAreWrittenAsDoubles)
{
    Meshes exact;
    exact.push_back(MakeMesh("m", {0.5, -0.0, 1e-3f, 1, 2, 3, 4, 5, 6}, {0, 1, 2}));
    Meshes precise;
    precise.push_back(MakeMesh("m", {0.1, 1.0 / 3.0, -1e-300, 1, 2, 3, 4, 5, 6}, {0, 1, 2}));
    for (PlyOutput encoding : kEncodings) {
        for (const Meshes* meshes : {&exact, &precise}) {
            ASSERT_EQ(Write(*meshes, dir.File("m.ply"), encoding), "");
            const std::string bytes = test::ReadBytes(dir.File("m.ply"));
            const bool asFloat = meshes == &exact;
            EXPECT_NE(bytes.find(asFloat ? "property float x\n" : "property double x\n"),
                      std::string::npos);
            const Meshes again = ReadPath(dir.File("m.ply"));
            ASSERT_EQ(again.size(), 1u);
            EXPECT_EQ(0, std::memcmp(again[0]->vertexData, (*meshes)[0]->vertexData, 9 * 8));
        }
    }
}

TEST_F(PlyWriterTest, SeveralMeshesBecomeOneWithOffsetIndices)
{
    Meshes meshes;
    meshes.push_back(MakeMesh("a", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}));
    meshes.push_back(MakeMesh("points", {5, 5, 5}, {}));
    meshes.push_back(MakeMesh("b", {0, 0, 1, 1, 0, 1, 0, 1, 1}, {2, 1, 0}));
    for (PlyOutput encoding : kEncodings) {
        ASSERT_EQ(Write(meshes, dir.File("all.ply"), encoding), "");
        const Meshes again = ReadPath(dir.File("all.ply"));
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0]->vertexCount, 7u);
        ASSERT_EQ(again[0]->faceCount, 2u);
        EXPECT_EQ(std::vector<std::uint32_t>(again[0]->faceData + 4, again[0]->faceData + 7),
                  (std::vector<std::uint32_t>{6, 5, 4}));
    }
}

TEST_F(PlyWriterTest, RefusesMeshesItCannotWriteNamingMeshAndPlace)
{
    const std::string target = dir.File("m.ply");
    Meshes badIndex;
    badIndex.push_back(MakeMesh("part", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3}));
    Meshes notFinite;
    notFinite.push_back(MakeMesh("part", {0, 0, 0, 1, 0, 0, 0, INFINITY, 0}, {0, 1, 2}));
    for (PlyOutput encoding : kEncodings) {
        EXPECT_EQ(Write(badIndex, target, encoding),
                  target + ": mesh 'part': face 0 names vertex 3 but the mesh has 3");
        EXPECT_EQ(Write(notFinite, target, encoding),
                  target + ": mesh 'part': vertex 2 is not a finite position");
    }
}

// ---- through the plug-in library -------------------------------------------------

constexpr char kClass[] = "PLY (*.ply)";

class PlyPluginTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.Loaded()) << lib.Error();
        lib.SetHost(host);
    }
    test::ImporterPtr NewImporter()
    {
        ClassDescriptor* d = lib.FindClass(kClass, kImportSuperClassId);
        return test::ImporterPtr(d ? static_cast<Importer*>(d->Create()) : nullptr);
    }
    test::ExporterPtr NewExporter()
    {
        ClassDescriptor* d = lib.FindClass(kClass, kExportSuperClassId);
        return test::ExporterPtr(d ? static_cast<Exporter*>(d->Create()) : nullptr);
    }
    void ChooseEncoding(std::int64_t choice)
    {
        static std::int64_t chosen;
        chosen = choice;
        PvHostServices table = *host.Table();
        table.editOptions = [](void*, const char*, PvOption* options, std::uint32_t count) {
            EXPECT_EQ(count, 1u);
            EXPECT_STREQ(options[0].choices, "Binary little endian|ASCII");
            options[0].intValue = chosen;
            return 1;
        };
        auto set = reinterpret_cast<PvLibSetHostServicesFn>(lib.Symbol("LibSetHostServices"));
        set(&table);
        NewExporter()->Options();
        lib.SetHost(host);
    }

    HostRecorder host;
    test::PluginLib lib{"ply.so"};
    test::TempDir dir;
};

TEST_F(PlyPluginTest, ImportsAndExportsInTheChosenEncoding)
{
    auto importer = NewImporter();
    ASSERT_TRUE(importer);
    ObjectList* scene = importer->ImportFile(test::TestData("ply/suzanne.ply").c_str());
    ASSERT_NE(scene, nullptr) << host.AllText();
    EXPECT_EQ(test::TotalFaces(scene), 968u);

    host.saveAnswer = dir.File("suzanne.ply");
    ASSERT_EQ(NewExporter()->Export(scene), 1) << host.AllText();
    EXPECT_NE(test::ReadBytes(host.saveAnswer).find("format binary_little_endian 1.0\n"),
              std::string::npos);
    ChooseEncoding(1);
    ASSERT_EQ(NewExporter()->Export(scene), 1) << host.AllText();
    EXPECT_NE(test::ReadBytes(host.saveAnswer).find("format ascii 1.0\n"), std::string::npos);
    ChooseEncoding(0);

    auto again = NewImporter();
    ObjectList* back = again->ImportFile(host.saveAnswer.c_str());
    ASSERT_NE(back, nullptr);
    test::ExpectSameMeshes(test::Meshes(scene), test::Meshes(back));
}

TEST_F(PlyPluginTest, BadFileGivesNullAndOneErrorNamingFileAndLine)
{
    const std::string path = dir.File("bad.ply");
    test::WriteBytes(path, "ply\nformat ascii 1.0\nelement vertex 1000000000000\n"
                           "property float x\nproperty float y\nproperty float z\nend_header\n");
    EXPECT_EQ(NewImporter()->ImportFile(path.c_str()), nullptr);
    ASSERT_EQ(host.Texts(PV_ERROR).size(), 1u);
    EXPECT_EQ(host.Texts(PV_ERROR)[0].rfind(path + ": line 3: element 'vertex' declares", 0), 0u)
        << host.AllText();
}

} // namespace
} // namespace polyvant::formats::ply
