#include "iob/IobWriter.h"

#include <cmath>
#include <gtest/gtest.h>

#include "FormatTestSupport.h"
#include "IobTestSupport.h"
#include "common/MappedFile.h"
#include "common/MeshBuilder.h"
#include "dxf/DxfReader.h"

namespace polyvant::formats::test {
namespace {

std::string Write(const std::vector<const Mesh3d*>& meshes, std::vector<std::string>& warnings,
                  std::string& error, bool& ok)
{
    std::string bytes;
    ok = iob::WriteIob(
        meshes,
        [&](std::string_view b) {
            bytes.append(b);
            return true;
        },
        warnings, error);
    return bytes;
}

// An n x n grid of quads in two triangles each, with awkward coordinates.
std::unique_ptr<Mesh3d> Grid(const char* name, int n, double scale)
{
    MeshBuilder b(name);
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            b.AddVertex(scale * j / 3.0, -scale * i / 7.0, std::sin(i + j) * scale);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const std::uint32_t a = i * (n + 1) + j, c = a + n + 1;
            b.AddTriangle(a, a + 1, c + 1);
            b.AddTriangle(a, c + 1, c);
        }
    return std::unique_ptr<Mesh3d>(b.Finish());
}

// Same faces, corners in the same order, positions within half a fixed-point step.
void ExpectSameWithinFixedPoint(const Mesh3d& written, const Mesh3d& read)
{
    ASSERT_EQ(read.faceCount, written.faceCount);
    const std::vector<double> a = CornerPositions(written), b = CornerPositions(read);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_NEAR(a[i], b[i], 0.5 / 65536 + 1e-12) << "corner value " << i;
}

TEST(IobWriter, ReadsBackAsTheSameTrianglesInTheSameWinding)
{
    const auto a = Grid("Terrain", 12, 100), b = Grid("Small", 3, 0.001);
    std::vector<std::string> warnings;
    std::string error;
    bool ok = false;
    const std::string bytes = Write({a.get(), b.get()}, warnings, error, ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(bytes.find("PNT2"), std::string::npos);
    const IobRead r = ReadIobBytes(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.warnings.empty());
    ASSERT_EQ(r.meshes.size(), 2u);
    EXPECT_STREQ(r.meshes[0]->name, "Terrain");
    ExpectSameWithinFixedPoint(*a, *r.meshes[0]);
    ExpectSameWithinFixedPoint(*b, *r.meshes[1]);
}

TEST(IobWriter, WritesTheWorldAsTheObjectFrame)
{
    // Readers differ on whether points are relative to POSI/AXIS; with the world's own
    // frame both readings give the same geometry.
    const auto mesh = Grid("Offset", 2, 500);
    std::vector<std::string> warnings;
    std::string error;
    bool ok = false;
    const std::string bytes = Write({mesh.get()}, warnings, error, ok);
    ASSERT_TRUE(ok) << error;
    const std::size_t posi = bytes.find("POSI"), axis = bytes.find("AXIS");
    ASSERT_NE(posi, std::string::npos);
    ASSERT_NE(axis, std::string::npos);
    EXPECT_EQ(bytes.substr(posi + 4, 16), Be32(12) + std::string(12, '\0'));
    EXPECT_EQ(bytes.substr(axis + 4, 40), Be32(36) + Fract(1) + Fract(0) + Fract(0) + Fract(0) +
                                              Fract(1) + Fract(0) + Fract(0) + Fract(0) + Fract(1));
}

TEST(IobWriter, MeshesPastTheShortListsUseTheLongOnes)
{
    const auto big = Grid("Big", 190, 10); // 36481 points, 72200 faces, ~108k edges
    std::vector<std::string> warnings;
    std::string error;
    bool ok = false;
    const std::string bytes = Write({big.get()}, warnings, error, ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_NE(bytes.find("PNT2"), std::string::npos);
    EXPECT_NE(bytes.find("FAC2"), std::string::npos);
    const IobRead r = ReadIobBytes(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.meshes.size(), 1u);
    ExpectSameWithinFixedPoint(*big, *r.meshes[0]);
}

TEST(IobWriter, CutsLongNamesAndLeavesOutFacesItCannotStore)
{
    auto mesh = Grid("A name longer than eighteen", 2, 1);
    mesh->faceData[1] = mesh->faceData[0]; // a repeated corner: no triangle of edges
    std::vector<std::string> warnings;
    std::string error;
    bool ok = false;
    const IobRead r = ReadIobBytes(Write({mesh.get()}, warnings, error, ok));
    ASSERT_TRUE(ok) << error;
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_STREQ(r.meshes[0]->name, "A name longer than");
    EXPECT_EQ(r.meshes[0]->faceCount, mesh->faceCount - 1);
    EXPECT_EQ(warnings.size(), 2u);
}

TEST(IobWriter, RefusesCoordinatesFixedPointCannotHold)
{
    for (double bad : {32768.0, -40000.0, 1e300, std::nan(""), double(INFINITY)}) {
        auto mesh = Grid("M", 1, 1);
        mesh->vertexData[4] = bad;
        std::vector<std::string> warnings;
        std::string error;
        bool ok = true;
        Write({mesh.get()}, warnings, error, ok);
        EXPECT_FALSE(ok) << bad;
        EXPECT_NE(error.find("'M'"), std::string::npos) << error;
    }
}

// --- Through the plug-in library ----------------------------------------------------------

class IobPlugin : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.Loaded()) << lib.Error();
        lib.SetHost(host);
    }
    ImporterPtr NewImporter()
    {
        ClassDescriptor* d = lib.FindClass("Imagine (*.obj, *.iob)", kImportSuperClassId);
        return ImporterPtr(d ? static_cast<Importer*>(d->Create()) : nullptr);
    }
    ExporterPtr NewExporter()
    {
        ClassDescriptor* d = lib.FindClass("Imagine (*.iob)", kExportSuperClassId);
        return ExporterPtr(d ? static_cast<Exporter*>(d->Create()) : nullptr);
    }

    HostRecorder host;
    PluginLib lib{"iob.so"};
    TempDir dir;
};

TEST_F(IobPlugin, AFileNamedObjIsReadWhateverItsExtension)
{
    const std::string path = dir.File("ship.obj");
    WriteBytes(path, Form(Chunk("OBJ ", Desc(SquareBody("Hull")) + Tobj())));
    auto importer = NewImporter();
    ASSERT_TRUE(importer);
    ObjectList* list = importer->ImportFile(path.c_str());
    ASSERT_NE(list, nullptr) << host.AllText();
    ASSERT_EQ(list->Count(), 1);
    EXPECT_STREQ(static_cast<Mesh3d*>(list->Get(0))->name, "Hull");
    EXPECT_STREQ(importer->GetFileName(), path.c_str());
}

TEST_F(IobPlugin, TheWusonSurvivesExportAndImport)
{
    MappedFile file;
    std::string error;
    ASSERT_TRUE(file.Open(TestData("dxf/wuson.dxf").c_str(), error)) << error;
    dxf::DxfResult wuson;
    ASSERT_TRUE(dxf::ReadDxf(file.Data(), file.Size(), wuson)) << wuson.error;
    std::unique_ptr<Mesh3d> original(wuson.meshes.at(0).Finish());
    ObjectList scene;
    scene.Append(original.get());

    auto exporter = NewExporter();
    ASSERT_TRUE(exporter);
    host.saveAnswer = dir.File("wuson.iob");
    ASSERT_EQ(exporter->Export(&scene), 1) << host.AllText();
    EXPECT_EQ(dir.List(), std::vector<std::string>{"wuson.iob"});

    auto importer = NewImporter();
    ObjectList* list = importer->ImportFile(host.saveAnswer.c_str());
    ASSERT_NE(list, nullptr) << host.AllText();
    const auto meshes = Meshes(list);
    ASSERT_EQ(meshes.size(), 1u);
    ExpectValidMesh(*meshes[0]);
    EXPECT_STREQ(meshes[0]->name, "Meshes");
    ExpectSameWithinFixedPoint(*original, *meshes[0]);
}

TEST_F(IobPlugin, AnExportSavedAsObjIsRefusedByWaveFrontAndReadByImagine)
{
    const auto mesh = Grid("Saved", 2, 1);
    ObjectList scene;
    scene.Append(mesh.get());
    host.saveAnswer = dir.File("saved.obj");
    auto exporter = NewExporter();
    ASSERT_EQ(exporter->Export(&scene), 1) << host.AllText();

    PluginLib wavefront("obj.so");
    ASSERT_TRUE(wavefront.Loaded()) << wavefront.Error();
    wavefront.SetHost(host);
    ClassDescriptor* d = wavefront.FindClass("WaveFront (*.obj)", kImportSuperClassId);
    ASSERT_NE(d, nullptr);
    ImporterPtr other(static_cast<Importer*>(d->Create()));
    EXPECT_EQ(other->ImportFile(host.saveAnswer.c_str()), nullptr);
    EXPECT_NE(host.AllText().find("\"Imagine (*.obj, *.iob)\""), std::string::npos)
        << host.AllText();

    auto importer = NewImporter();
    ObjectList* list = importer->ImportFile(host.saveAnswer.c_str());
    ASSERT_NE(list, nullptr) << host.AllText();
    ExpectSameWithinFixedPoint(*mesh, *Meshes(list)[0]);
}

TEST_F(IobPlugin, ABrokenFileGivesOneErrorNamingFileOffsetAndChunk)
{
    const std::string path = dir.File("broken.iob");
    WriteBytes(path, Form(Chunk("OBJ ", "") + "OBJ " + Be32(50)));
    auto importer = NewImporter();
    EXPECT_EQ(importer->ImportFile(path.c_str()), nullptr);
    const auto errors = host.Texts(PV_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(path + ": offset 20: chunk 'OBJ '", 0), 0u) << errors[0];
}

} // namespace
} // namespace polyvant::formats::test
