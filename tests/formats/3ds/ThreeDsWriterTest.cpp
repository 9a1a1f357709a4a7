#include "ThreeDsWriter.h"

#include <cmath>
#include <cstdlib>

#include "ThreeDsTestSupport.h"

namespace polyvant::formats::test {
namespace {

std::vector<MeshPtr> WriteAndRead(const std::vector<const Mesh3d*>& meshes, ThreeDsImage& image)
{
    EXPECT_TRUE(Build3dsImage(meshes, image)) << image.error;
    ThreeDsScene scene;
    std::vector<MeshPtr> back;
    EXPECT_TRUE(Read({image.bytes.begin(), image.bytes.end()}, scene, &back)) << scene.error;
    return back;
}

std::vector<const Mesh3d*> Pointers(const std::vector<MeshPtr>& meshes)
{
    std::vector<const Mesh3d*> p;
    for (const MeshPtr& m : meshes)
        p.push_back(m.get());
    return p;
}

class ThreeDsRoundTripTest : public testing::TestWithParam<const char*> {};

TEST_P(ThreeDsRoundTripTest, GivesTheSameMeshesMaterialGroupsAndAxes)
{
    ThreeDsScene scene;
    std::vector<MeshPtr> original;
    ASSERT_TRUE(Read(ReadBytes(TestData(GetParam())), scene, &original));
    ThreeDsImage image;
    const std::vector<MeshPtr> back = WriteAndRead(Pointers(original), image);
    EXPECT_TRUE(image.renames.empty());
    ExpectSameMeshes(Pointers(original), Pointers(back)); // floats read back exactly
    for (std::size_t m = 0; m < back.size(); ++m) {
        // The samples number their materials densely, so the numbers survive too.
        for (std::uint32_t i = 0; i < back[m]->faceCount; ++i)
            ASSERT_EQ(original[m]->faceData[4 * i + 3], back[m]->faceData[4 * i + 3]);
        for (int k = 0; k < 16; ++k)
            EXPECT_EQ(original[m]->transform[k], back[m]->transform[k]);
    }
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, ThreeDsRoundTripTest,
                         testing::Values("3ds/cart_wheel.3DS", "3ds/jeep1.3ds", "3ds/test1.3ds",
                                         "3ds/cubes_with_alpha.3DS", "3ds/RotatingCube.3DS"));

// A flat mesh as an importer hands it over.
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

// (n + 1)^2 vertices and 2 n^2 triangles; word 3 = row parity + 1.
MeshPtr Grid(const char* name, std::uint32_t n)
{
    std::vector<double> xyz;
    std::vector<std::uint32_t> faces;
    for (std::uint32_t y = 0; y <= n; ++y)
        for (std::uint32_t x = 0; x <= n; ++x)
            xyz.insert(xyz.end(), {double(x), double(y), 0.0});
    for (std::uint32_t y = 0; y < n; ++y)
        for (std::uint32_t x = 0; x < n; ++x) {
            const std::uint32_t a = y * (n + 1) + x, c = a + n + 2;
            faces.insert(faces.end(), {a, a + 1, c, y % 2 + 1, a, c, c - 1, y % 2 + 1});
        }
    return MakeMesh(name, xyz, faces);
}

TEST(ThreeDsWriterTest, SplitsBigMeshesIntoNumberedPartsWithinSixteenBits)
{
    const MeshPtr grid = Grid("big_landscape", 300); // 90601 vertices, 180000 triangles
    ThreeDsImage image;
    const std::vector<MeshPtr> parts = WriteAndRead({grid.get()}, image);
    ASSERT_EQ(parts.size(), 3u);
    std::vector<double> corners;
    std::vector<std::uint32_t> word3;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        EXPECT_EQ(parts[p]->name, "big_land_" + std::to_string(p + 1));
        EXPECT_LE(parts[p]->vertexCount, 65535u);
        EXPECT_LE(parts[p]->faceCount, 65535u);
        const std::vector<double> c = CornerPositions(*parts[p]);
        corners.insert(corners.end(), c.begin(), c.end());
        for (std::uint32_t i = 0; i < parts[p]->faceCount; ++i)
            word3.push_back(parts[p]->faceData[4 * i + 3]);
    }
    // Parts keep the face order, so the triangles line up one by one.
    EXPECT_EQ(corners, CornerPositions(*grid));
    for (std::uint32_t i = 0; i < grid->faceCount; ++i)
        ASSERT_EQ(word3[i], grid->faceData[4 * i + 3]);
    EXPECT_EQ(image.renames, std::vector<std::string>{
                                 "'big_landscape' -> 'big_land_1' ... 'big_land_3' (3 parts)"});
}

TEST(ThreeDsWriterTest, SplitsBigPointCloudsToo)
{
    const MeshPtr cloud = MakeMesh("cloud", std::vector<double>(3 * 70000, 1.5), {});
    ThreeDsImage image;
    const std::vector<MeshPtr> parts = WriteAndRead({cloud.get()}, image);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->vertexCount + parts[1]->vertexCount, 70000u);
    EXPECT_STREQ(parts[1]->name, "cloud_2");
}

TEST(ThreeDsWriterTest, CutsLongNamesToTenCharactersAndListsOnlyThose)
{
    const MeshPtr a = Grid("exactly_10", 1), b = Grid("much_longer_name", 1), c = Grid("", 1);
    ThreeDsImage image;
    const std::vector<MeshPtr> back = WriteAndRead({a.get(), b.get(), c.get()}, image);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_STREQ(back[0]->name, "exactly_10");
    EXPECT_STREQ(back[1]->name, "much_longe");
    EXPECT_STREQ(back[2]->name, "Object");
    EXPECT_EQ(image.renames,
              (std::vector<std::string>{"'much_longer_name' -> 'much_longe'", "'' -> 'Object'"}));
}

TEST(ThreeDsWriterTest, RefusesMeshesItCannotWriteFaithfully)
{
    const MeshPtr bad[] = {MakeMesh("index", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3, 0}),
                           MakeMesh("nan", {0, 0, 0, 1, 0, 0, 0, NAN, 0}, {0, 1, 2, 0}),
                           MakeMesh("huge", {0, 0, 0, 1e39, 0, 0, 0, 1, 0}, {0, 1, 2, 0})};
    for (const MeshPtr& mesh : bad) {
        ThreeDsImage image;
        EXPECT_FALSE(Build3dsImage({mesh.get()}, image));
        EXPECT_NE(image.error.find(std::string("'") + mesh->name + "'"), std::string::npos);
    }
}

// The library as the host sees it: the extension table's class name, import, export
// and re-import through the boundary, errors with path and offset, no half files.
TEST(ThreeDsPluginTest, ImportsExportsAndReportsThroughTheBoundary)
{
    PluginLib lib("3ds.so");
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    HostRecorder host;
    lib.SetHost(host);
    ClassDescriptor* in = lib.FindClass("3D Studio (*.3ds, *.prj)", kImportSuperClassId);
    ClassDescriptor* out = lib.FindClass("3D Studio (*.3ds)", kExportSuperClassId);
    ASSERT_TRUE(in && out);
    TempDir dir;
    ImporterPtr importer(static_cast<Importer*>(in->Create()));
    ObjectList* list = importer->ImportFile(TestData("3ds/jeep1.3ds").c_str());
    ASSERT_NE(list, nullptr) << host.AllText();
    ExporterPtr exporter(static_cast<Exporter*>(out->Create()));
    host.saveAnswer = dir.File("copy.3ds");
    EXPECT_EQ(exporter->Export(list), 1) << host.AllText();
    ImporterPtr again(static_cast<Importer*>(in->Create()));
    host.openAnswer = host.saveAnswer;
    ObjectList* copy = again->ImportInteractive();
    ASSERT_NE(copy, nullptr) << host.AllText();
    ExpectSameMeshes(Meshes(list), Meshes(copy));
    EXPECT_TRUE(host.Texts(PV_ERROR).empty());

    WriteBytes(dir.File("half.3ds"), ReadBytes(TestData("3ds/fels.3ds")).substr(0, 5000));
    EXPECT_EQ(importer->ImportFile(dir.File("half.3ds").c_str()), nullptr);
    EXPECT_NE(host.AllText().find(dir.File("half.3ds") + ": offset 0: chunk 0x4D4D (main)"),
              std::string::npos)
        << host.AllText();

    WriteBytes(dir.File("keep.3ds"), "previous contents");
    const MeshPtr bad = MakeMesh("bad", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 9, 0});
    ObjectList badList;
    badList.Append(bad.get());
    host.saveAnswer = dir.File("keep.3ds");
    EXPECT_EQ(exporter->Export(&badList), 0);
    EXPECT_EQ(ReadBytes(dir.File("keep.3ds")), "previous contents");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"copy.3ds", "half.3ds", "keep.3ds"}));
}

} // namespace
} // namespace polyvant::formats::test
