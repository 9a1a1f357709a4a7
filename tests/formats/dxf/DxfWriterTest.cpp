#include "dxf/DxfWriter.h"

#include <cmath>
#include <gtest/gtest.h>

#include "DxfTestSupport.h"
#include "FormatTestSupport.h"
#include "common/MeshBuilder.h"

namespace polyvant::formats::test {
namespace {

std::unique_ptr<Mesh3d> MakeMesh(const char* name, double offset)
{
    MeshBuilder b(name);
    // Values that print long or small: the text must read back exactly.
    const double v[][3] = {
        {0.1 + offset, -1e-7, 3}, {-123456.789, 2.0 / 3.0, 1e10}, {offset, 1, 0}, {5, 5, -0.0001}};
    for (const auto& p : v)
        b.AddVertex(p[0], p[1], p[2]);
    b.AddTriangle(0, 1, 2);
    b.AddTriangle(2, 1, 3);
    b.AddTriangle(3, 0, 2);
    return std::unique_ptr<Mesh3d>(b.Finish());
}

std::string Write(const std::vector<const Mesh3d*>& meshes, std::vector<std::string>& warnings)
{
    std::string text, error;
    const bool ok = dxf::WriteDxf(
        meshes,
        [&](std::string_view bytes) {
            text.append(bytes);
            return true;
        },
        warnings, error);
    EXPECT_TRUE(ok) << error;
    return text;
}

TEST(DxfWriter, ReadsBackAsTheSameTrianglesOnOneLayerPerMesh)
{
    const auto a = MakeMesh("Body", 0), b = MakeMesh("Wheel-2", 7);
    std::vector<std::string> warnings;
    const DxfRead r = ReadDxfText(Write({a.get(), b.get()}, warnings));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(r.warnings.empty());
    ASSERT_EQ(r.meshes.size(), 2u);
    EXPECT_STREQ(r.meshes[0]->name, "Body");
    EXPECT_STREQ(r.meshes[1]->name, "Wheel-2");
    EXPECT_EQ(CornerPositions(*r.meshes[0]), CornerPositions(*a));
    EXPECT_EQ(CornerPositions(*r.meshes[1]), CornerPositions(*b));
}

TEST(DxfWriter, MakesLayerNamesValidAndUniqueAndListsTheRenames)
{
    const auto a = MakeMesh("my part", 0), b = MakeMesh("My_Part", 1), c = MakeMesh("", 2);
    const auto d = MakeMesh("a-very-long-object-name-beyond-the-limit", 3);
    std::vector<std::string> warnings;
    const DxfRead r = ReadDxfText(Write({a.get(), b.get(), c.get(), d.get()}, warnings));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 4u);
    EXPECT_STREQ(r.meshes[0]->name, "my_part");
    EXPECT_STREQ(r.meshes[1]->name, "My_Part_2");
    EXPECT_STREQ(r.meshes[2]->name, "MESH");
    EXPECT_EQ(std::string(r.meshes[3]->name).size(), 31u);
    EXPECT_EQ(warnings.size(), 4u);
}

TEST(DxfWriter, LeavesOutFacesWithBadIndicesOrCoordinates)
{
    auto mesh = MakeMesh("M", 0);
    mesh->faceData[4 * 0 + 1] = 99;             // past the vertices
    mesh->vertexData[3 * 3 + 2] = std::nan(""); // used by the last two faces
    std::vector<std::string> warnings;
    const DxfRead r = ReadDxfText(Write({mesh.get()}, warnings));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Triangles(), 0u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("3 face(s)"), std::string::npos) << warnings[0];
}

TEST(DxfWriter, StopsWhenTheSinkFails)
{
    const auto mesh = MakeMesh("M", 0);
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(dxf::WriteDxf(
        {mesh.get()}, [](std::string_view) { return false; }, warnings, error));
    EXPECT_FALSE(error.empty());
}

// --- Through the plug-in library ----------------------------------------------------------

class DxfPlugin : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.Loaded()) << lib.Error();
        lib.SetHost(host);
    }
    ImporterPtr NewImporter()
    {
        ClassDescriptor* d = lib.FindClass("AutoCad (*.dxf)", kImportSuperClassId);
        return ImporterPtr(d ? static_cast<Importer*>(d->Create()) : nullptr);
    }
    ExporterPtr NewExporter()
    {
        ClassDescriptor* d = lib.FindClass("AutoCad (*.dxf)", kExportSuperClassId);
        return ExporterPtr(d ? static_cast<Exporter*>(d->Create()) : nullptr);
    }

    HostRecorder host;
    PluginLib lib{"dxf.so"};
    TempDir dir;
};

TEST_F(DxfPlugin, ExportThenImportGivesTheWusonBack)
{
    auto importer = NewImporter();
    ASSERT_TRUE(importer);
    ObjectList* original = importer->ImportFile(TestData("dxf/wuson.dxf").c_str());
    ASSERT_NE(original, nullptr) << host.AllText();
    auto exporter = NewExporter();
    ASSERT_TRUE(exporter);
    host.saveAnswer = dir.File("out.dxf");
    EXPECT_EQ(exporter->Export(original), 1) << host.AllText();

    auto again = NewImporter();
    ObjectList* copy = again->ImportFile(host.saveAnswer.c_str());
    ASSERT_NE(copy, nullptr) << host.AllText();
    const auto before = Meshes(original), after = Meshes(copy);
    ASSERT_EQ(after.size(), 1u);
    ExpectValidMesh(*after[0]);
    EXPECT_STREQ(after[0]->name, "Meshes");
    EXPECT_EQ(CornerPositions(*after[0]), CornerPositions(*before[0]));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.dxf"}); // no temporary left
}

TEST_F(DxfPlugin, ABrokenFileGivesOneErrorNamingFileAndLine)
{
    const std::string path = dir.File("broken.dxf");
    WriteBytes(path, "0\nSECTION\n2\nENTITIES\nnot a code\n3DFACE\n");
    auto importer = NewImporter();
    EXPECT_EQ(importer->ImportFile(path.c_str()), nullptr);
    const auto errors = host.Texts(PV_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(path + ": line ", 0), 0u) << errors[0];
}

} // namespace
} // namespace polyvant::formats::test
