#include "LwoWriter.h"

#include <cmath>
#include <cstdlib>
#include <map>

#include "LwoTestSupport.h"

namespace polyvant::formats::test {
namespace {

std::vector<MeshPtr> WriteAndRead(const std::vector<const Mesh3d*>& meshes)
{
    LwoImage image;
    EXPECT_TRUE(BuildLwoImage(meshes, image)) << image.error;
    LwoScene scene;
    std::vector<MeshPtr> back;
    EXPECT_TRUE(Read({image.bytes.begin(), image.bytes.end()}, scene, &back)) << scene.error;
    EXPECT_TRUE(scene.warnings.empty());
    return back;
}

std::vector<const Mesh3d*> Pointers(const std::vector<MeshPtr>& meshes)
{
    std::vector<const Mesh3d*> p;
    for (const MeshPtr& m : meshes)
        p.push_back(m.get());
    return p;
}

// Surfaces come back renumbered densely in order: the grouping must be the same.
void ExpectSameGroups(const Mesh3d& a, const Mesh3d& b)
{
    std::map<std::uint32_t, std::uint32_t> renumber;
    for (std::uint32_t i = 0; i < a.faceCount; ++i) {
        const auto [it, added] = renumber.emplace(a.faceData[4 * i + 3], b.faceData[4 * i + 3]);
        ASSERT_EQ(it->second, b.faceData[4 * i + 3]) << "face " << i;
    }
}

class LwoRoundTripTest : public testing::TestWithParam<const char*> {};

TEST_P(LwoRoundTripTest, GivesTheSameTrianglesLayersAndSurfaceGroups)
{
    LwoScene scene;
    std::vector<MeshPtr> original;
    ASSERT_TRUE(Read(ReadBytes(TestData(GetParam())), scene, &original));
    const std::vector<MeshPtr> back = WriteAndRead(Pointers(original));
    ExpectSameMeshes(Pointers(original), Pointers(back)); // floats read back exactly
    for (std::size_t m = 0; m < back.size(); ++m)
        ExpectSameGroups(*original[m], *back[m]);
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, LwoRoundTripTest,
                         testing::Values("lwo/lwo2_UglyVertexColors.lwo", "lwo/lwo2_hierarchy.lwo",
                                         "lwo/lwo2_concave_polygon.lwo",
                                         "lwo/lwob_sphere_with_mat_gloss_10pc.lwo",
                                         "lwo/lwo2_Subdivision.lwo"));

MeshPtr MakeMesh(const char* name, const std::vector<double>& xyz,
                 const std::vector<std::uint32_t>& faces)
{
    MeshPtr mesh(new Mesh3d(name, Mesh3d::kFlat));
    mesh->vertexCount = std::uint32_t(xyz.size() / 3);
    mesh->faceCount = std::uint32_t(faces.size() / 4);
    mesh->vertexData = static_cast<double*>(std::malloc(xyz.size() * sizeof(double) + 1));
    mesh->faceData = static_cast<std::uint32_t*>(std::malloc(faces.size() * 4 + 1));
    std::copy(xyz.begin(), xyz.end(), mesh->vertexData);
    std::copy(faces.begin(), faces.end(), mesh->faceData);
    return mesh;
}

TEST(LwoWriterTest, WritesFourByteIndicesForBigMeshes)
{
    // 70 000 points: indices from 0xFF00 on need the 4-byte form.
    std::vector<double> xyz;
    std::vector<std::uint32_t> faces;
    for (std::uint32_t i = 0; i < 70000; ++i)
        xyz.insert(xyz.end(), {double(i), double(i % 7), -double(i % 3)});
    for (std::uint32_t i = 0; i + 2 < 70000; i += 3)
        faces.insert(faces.end(), {i, i + 1, i + 2, i % 5});
    const MeshPtr big = MakeMesh("big", xyz, faces);
    const std::vector<MeshPtr> back = WriteAndRead({big.get()});
    ExpectSameMeshes({big.get()}, Pointers(back));
    ExpectSameGroups(*big, *back.at(0));
}

TEST(LwoWriterTest, RefusesMeshesItCannotWriteFaithfully)
{
    const MeshPtr bad[] = {MakeMesh("index", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3, 0}),
                           MakeMesh("nan", {0, 0, 0, 1, 0, 0, 0, NAN, 0}, {0, 1, 2, 0}),
                           MakeMesh("huge", {0, 0, 0, 1e39, 0, 0, 0, 1, 0}, {0, 1, 2, 0})};
    for (const MeshPtr& mesh : bad) {
        LwoImage image;
        EXPECT_FALSE(BuildLwoImage({mesh.get()}, image));
        EXPECT_NE(image.error.find(std::string("'") + mesh->name + "'"), std::string::npos);
    }
}

// The library as the host sees it: one class name for import and export, a round trip
// through the boundary, errors with path and offset.
TEST(LwoPluginTest, ImportsExportsAndReportsThroughTheBoundary)
{
    PluginLib lib("lwo.so");
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    HostRecorder host;
    lib.SetHost(host);
    ClassDescriptor* in = lib.FindClass("Lightwave (*.lwo)", kImportSuperClassId);
    ClassDescriptor* out = lib.FindClass("Lightwave (*.lwo)", kExportSuperClassId);
    ASSERT_TRUE(in && out);
    EXPECT_NE(in->ClassID(), out->ClassID());
    TempDir dir;
    ImporterPtr importer(static_cast<Importer*>(in->Create()));
    ObjectList* list = importer->ImportFile(TestData("lwo/lwo2_hierarchy.lwo").c_str());
    ASSERT_NE(list, nullptr) << host.AllText();
    ExporterPtr exporter(static_cast<Exporter*>(out->Create()));
    host.saveAnswer = dir.File("copy.lwo");
    EXPECT_EQ(exporter->Export(list), 1) << host.AllText();
    ImporterPtr again(static_cast<Importer*>(in->Create()));
    ObjectList* copy = again->ImportFile(host.saveAnswer.c_str());
    ASSERT_NE(copy, nullptr) << host.AllText();
    ExpectSameMeshes(Meshes(list), Meshes(copy));
    EXPECT_TRUE(host.Texts(PV_ERROR).empty());

    std::string bytes = ReadBytes(TestData("lwo/lwob_sphere_with_mat_gloss_10pc.lwo"));
    bytes[4] = 0x7F; // FORM size far past the file
    WriteBytes(dir.File("broken.lwo"), bytes);
    EXPECT_EQ(importer->ImportFile(dir.File("broken.lwo").c_str()), nullptr);
    EXPECT_NE(host.AllText().find(dir.File("broken.lwo") + ": offset 4: FORM size"),
              std::string::npos)
        << host.AllText();
}

} // namespace
} // namespace polyvant::formats::test
