#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "FormatTestSupport.h"

namespace polyvant::formats::stl {
namespace {

using test::HostRecorder;

constexpr char kClass[] = "STL (*.stl)";

class StlPluginTest : public testing::Test {
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
    // Chooses the export format through Options with a host that picks `choice`.
    void ChooseFormat(std::int64_t choice)
    {
        static std::int64_t chosen;
        chosen = choice;
        PvHostServices table = *host.Table();
        table.editOptions = [](void*, const char*, PvOption* options, std::uint32_t count) {
            EXPECT_EQ(count, 1u);
            EXPECT_STREQ(options[0].name, "format");
            EXPECT_STREQ(options[0].choices, "Binary|ASCII");
            options[0].intValue = chosen;
            return 1;
        };
        auto set = reinterpret_cast<PvLibSetHostServicesFn>(lib.Symbol("LibSetHostServices"));
        set(&table);
        NewExporter()->Options();
        lib.SetHost(host);
    }

    HostRecorder host;
    test::PluginLib lib{"stl.so"};
    test::TempDir dir;
};

TEST_F(StlPluginTest, OffersOneImportAndOneExportClass)
{
    auto count = reinterpret_cast<PvLibNumberClassesFn>(lib.Symbol("LibNumberClasses"));
    auto version = reinterpret_cast<PvLibVersionFn>(lib.Symbol("LibVersion"));
    ASSERT_TRUE(count && version);
    EXPECT_EQ(count(), 2u);
    EXPECT_EQ(version(), kPluginInterfaceVersion);
    ClassDescriptor* in = lib.FindClass(kClass, kImportSuperClassId);
    ClassDescriptor* out = lib.FindClass(kClass, kExportSuperClassId);
    ASSERT_TRUE(in && out);
    EXPECT_NE(in->ClassID(), out->ClassID());
}

TEST_F(StlPluginTest, ImportsAFileAndOwnsWhatItReturns)
{
    auto importer = NewImporter();
    ASSERT_TRUE(importer);
    const std::string path = test::TestData("stl/Wuson.stl");
    ObjectList* list = importer->ImportFile(path.c_str());
    ASSERT_NE(list, nullptr) << host.AllText();
    EXPECT_EQ(list->Count(), 1);
    EXPECT_EQ(test::TotalFaces(list), 3732u);
    EXPECT_STREQ(importer->GetFileName(), path.c_str());

    host.openAnswer = test::TestData("stl/triangle_with_two_solids.stl");
    ObjectList* second = importer->ImportInteractive();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Count(), 2);
    EXPECT_EQ(host.lastAskedPatterns, kClass);
}

TEST_F(StlPluginTest, BadFilesGiveNullAndOneErrorNamingTheFile)
{
    const std::string truncated = dir.File("cut.stl");
    test::WriteBytes(truncated, test::ReadBytes(test::TestData("stl/Wuson.stl")).substr(0, 5000));
    for (const std::string& path : {truncated, dir.File("missing.stl"), dir.Path()}) {
        SCOPED_TRACE(path);
        host.Clear();
        auto importer = NewImporter();
        EXPECT_EQ(importer->ImportFile(path.c_str()), nullptr);
        const auto errors = host.Texts(PV_ERROR);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind(path + ": ", 0), 0u) << errors[0];
        if (path == truncated) {
            EXPECT_EQ(errors[0].rfind(path + ": offset 80: header declares 3732 triangles", 0), 0u);
        }
    }
}

TEST_F(StlPluginTest, ExportWritesBinaryByDefaultAndAsciiWhenChosen)
{
    auto importer = NewImporter();
    ObjectList* scene = importer->ImportFile(test::TestData("stl/multibody.stl").c_str());
    ASSERT_NE(scene, nullptr);

    host.saveAnswer = dir.File("binary.stl");
    EXPECT_EQ(NewExporter()->Export(scene), 1) << host.AllText();
    EXPECT_EQ(test::ReadBytes(host.saveAnswer).size(), 84u + 50u * 32u);

    ChooseFormat(1);
    host.saveAnswer = dir.File("text.stl");
    EXPECT_EQ(NewExporter()->Export(scene), 1) << host.AllText();
    EXPECT_EQ(test::ReadBytes(host.saveAnswer).rfind("solid bodyB\n", 0), 0u);
    ChooseFormat(0);

    auto again = NewImporter();
    ObjectList* back = again->ImportFile(dir.File("text.stl").c_str());
    ASSERT_NE(back, nullptr);
    test::ExpectSameMeshes(test::Meshes(scene), test::Meshes(back));
}

TEST_F(StlPluginTest, CancelledExportLeavesNoFile)
{
    // Enough triangles for the exporter to report progress, which answers "cancel".
    auto* mesh = new Mesh3d("strip", Mesh3d::kFlat);
    const std::uint32_t n = 200000;
    mesh->vertexCount = n + 2;
    mesh->vertexData = static_cast<double*>(std::malloc(3 * sizeof(double) * (n + 2)));
    for (std::uint32_t i = 0; i < n + 2; ++i) {
        mesh->vertexData[3 * i] = i / 2;
        mesh->vertexData[3 * i + 1] = i % 2;
        mesh->vertexData[3 * i + 2] = 0;
    }
    mesh->faceCount = n;
    mesh->faceData = static_cast<std::uint32_t*>(std::malloc(16 * std::size_t(n)));
    for (std::uint32_t f = 0; f < n; ++f) {
        mesh->faceData[4 * f] = f;
        mesh->faceData[4 * f + 1] = f + 1;
        mesh->faceData[4 * f + 2] = f + 2;
        mesh->faceData[4 * f + 3] = 0;
    }
    ObjectList scene(DeleteSceneObject);
    scene.Append(mesh);

    host.saveAnswer = dir.File("cancelled.stl");
    host.cancelAfterProgressCalls = 0;
    EXPECT_EQ(NewExporter()->Export(&scene), 0);
    EXPECT_TRUE(dir.List().empty());
    EXPECT_NE(host.AllText().find("cancelled"), std::string::npos) << host.AllText();
}

} // namespace
} // namespace polyvant::formats::stl
