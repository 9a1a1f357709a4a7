// What every format library must do at the boundary, run over each shipped library:
// entry points and classes, import and export through the host services, round trips,
// and exports that fail or are cancelled without touching the target.
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "FormatTestSupport.h"

namespace polyvant::formats::test {
namespace {

struct FormatCase {
    const char* library;   // file in the plug-in folder
    const char* className; // import and export classes share it
    const char* sample;    // under the shared sample files
    const char* extension;
    bool namesSurvive; // the format stores object names
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.library;
}

class PluginContract : public testing::TestWithParam<FormatCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.Loaded()) << lib.Error();
        lib.SetHost(host);
        importClass = lib.FindClass(GetParam().className, kImportSuperClassId);
        exportClass = lib.FindClass(GetParam().className, kExportSuperClassId);
        ASSERT_NE(importClass, nullptr);
        ASSERT_NE(exportClass, nullptr);
    }
    ImporterPtr NewImporter() { return ImporterPtr(static_cast<Importer*>(importClass->Create())); }
    ExporterPtr NewExporter() { return ExporterPtr(static_cast<Exporter*>(exportClass->Create())); }
    std::string Target(const char* stem = "out") const
    {
        return dir.File(std::string(stem) + "." + GetParam().extension);
    }

    HostRecorder host;
    PluginLib lib{GetParam().library};
    TempDir dir;
    ClassDescriptor* importClass = nullptr;
    ClassDescriptor* exportClass = nullptr;
};

TEST_P(PluginContract, OffersVersionThreeAndTwoClassesWithDistinctIds)
{
    auto version = reinterpret_cast<PvLibVersionFn>(lib.Symbol("LibVersion"));
    auto name = reinterpret_cast<PvLibNameFn>(lib.Symbol("LibName"));
    auto describe = reinterpret_cast<PvLibClassDescriptionFn>(lib.Symbol("LibClassDescription"));
    ASSERT_TRUE(version && name && describe);
    EXPECT_EQ(version(), 3u);
    EXPECT_NE(name(), nullptr);
    EXPECT_NE(importClass->ClassID(), exportClass->ClassID());
    EXPECT_EQ(describe(1000), nullptr);
}

TEST_P(PluginContract, ImportsTheSampleAndOwnsTheResultUntilRelease)
{
    ImporterPtr importer = NewImporter();
    const std::string path = TestData(GetParam().sample);
    ObjectList* list = importer->ImportFile(path.c_str());
    ASSERT_NE(list, nullptr) << host.AllText();
    ASSERT_GT(list->count, 0);
    for (const Mesh3d* mesh : Meshes(list))
        ExpectValidMesh(*mesh);
    EXPECT_STREQ(importer->GetFileName(), path.c_str());
    EXPECT_TRUE(host.Texts(PV_ERROR).empty()) << host.AllText();
}

TEST_P(PluginContract, MissingOrUnreadableFilesFailWithAMessageNamingThem)
{
    ImporterPtr importer = NewImporter();
    for (const std::string& path : {dir.File("missing"), dir.Path()}) {
        host.Clear();
        EXPECT_EQ(importer->ImportFile(path.c_str()), nullptr);
        const auto errors = host.Texts(PV_ERROR);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind(path + ": ", 0), 0u) << errors[0];
    }
    EXPECT_EQ(importer->GetFileName(), nullptr);
}

TEST_P(PluginContract, InteractiveImportAsksForTheFileThroughTheHost)
{
    ImporterPtr importer = NewImporter();
    host.openAnswer = "";
    EXPECT_EQ(importer->ImportInteractive(), nullptr);
    EXPECT_EQ(host.lastAskedPatterns, GetParam().className);
    EXPECT_TRUE(host.messages.empty()) << host.AllText(); // cancelling is no error
    host.openAnswer = TestData(GetParam().sample);
    EXPECT_NE(importer->ImportInteractive(), nullptr) << host.AllText();
}

TEST_P(PluginContract, ExportThenImportGivesTheSameMeshes)
{
    ImporterPtr importer = NewImporter();
    ObjectList* first = importer->ImportFile(TestData(GetParam().sample).c_str());
    ASSERT_NE(first, nullptr);
    ExporterPtr exporter = NewExporter();
    host.saveAnswer = Target();
    ASSERT_EQ(exporter->Export(first), 1) << host.AllText();
    EXPECT_EQ(dir.List().size(), 1u);
    ObjectList* second = importer->ImportFile(Target().c_str());
    ASSERT_NE(second, nullptr) << host.AllText();
    auto a = Meshes(first), b = Meshes(second);
    if (GetParam().namesSurvive) {
        ExpectSameMeshes(a, b);
    } else {
        ASSERT_EQ(a.size(), 1u);
        ASSERT_EQ(b.size(), 1u);
        EXPECT_EQ(CornerPositions(*a[0]), CornerPositions(*b[0]));
    }
}

TEST_P(PluginContract, FailedOrCancelledExportsLeaveTheTargetAlone)
{
    WriteBytes(Target(), "precious");
    Mesh3d broken("broken", Mesh3d::kFlat);
    broken.vertexData = static_cast<double*>(std::calloc(9, sizeof(double)));
    broken.vertexCount = 3;
    broken.faceData = static_cast<std::uint32_t*>(std::calloc(4, sizeof(std::uint32_t)));
    broken.faceData[2] = 3; // one past the vertices
    broken.faceCount = 1;
    ObjectList list;
    list.Append(&broken);
    ExporterPtr exporter = NewExporter();
    host.saveAnswer = Target();
    EXPECT_EQ(exporter->Export(&list), 0);
    ASSERT_EQ(host.Texts(PV_ERROR).size(), 1u) << host.AllText();
    EXPECT_EQ(host.Texts(PV_ERROR)[0].rfind(Target() + ": ", 0), 0u);

    host.Clear();
    ObjectList empty;
    EXPECT_EQ(exporter->Export(&empty), 0);
    EXPECT_EQ(host.Texts(PV_ERROR).size(), 1u);

    host.saveAnswer = ""; // the user cancelled the prompt
    broken.faceData[2] = 2;
    EXPECT_EQ(exporter->Export(&list), 0);

    EXPECT_EQ(ReadBytes(Target()), "precious");
    EXPECT_EQ(dir.List().size(), 1u); // no temporary file left
}

TEST_P(PluginContract, ExportCancelledThroughProgressKeepsTheOldFile)
{
    WriteBytes(Target(), "precious");
    Mesh3d big("big", Mesh3d::kFlat);
    const std::uint32_t n = 600000;
    big.vertexData = static_cast<double*>(std::calloc(3 * std::size_t(n), sizeof(double)));
    big.vertexCount = n;
    for (std::uint32_t i = 0; i < n; ++i)
        big.vertexData[3 * i] = i;
    big.faceData = static_cast<std::uint32_t*>(std::calloc(4 * std::size_t(n - 2), 4));
    big.faceCount = n - 2;
    for (std::uint32_t i = 0; i + 2 < n; ++i) {
        big.faceData[4 * i] = i;
        big.faceData[4 * i + 1] = i + 1;
        big.faceData[4 * i + 2] = i + 2;
    }
    ObjectList list;
    list.Append(&big);
    host.cancelAfterProgressCalls = 0;
    host.saveAnswer = Target();
    EXPECT_EQ(NewExporter()->Export(&list), 0);
    EXPECT_GT(host.progressCalls, 0);
    EXPECT_TRUE(host.Texts(PV_ERROR).empty()) << host.AllText();
    EXPECT_EQ(ReadBytes(Target()), "precious");
    EXPECT_EQ(dir.List().size(), 1u);
}

TEST_P(PluginContract, HelpIsShownUnderTheClassName)
{
    NewImporter()->Help();
    NewExporter()->Help();
    ASSERT_EQ(host.Texts(-1).size(), 2u);
    EXPECT_EQ(host.Texts(-1)[0].rfind(std::string(GetParam().className) + "\n", 0), 0u);
}

// Other format libraries join with one line each.
INSTANTIATE_TEST_SUITE_P(
    ShippedFormats, PluginContract,
    testing::Values(FormatCase{"obj.so", "WaveFront (*.obj)", "obj/spider.obj", "obj", true},
                    FormatCase{"raw.so", "RAW ASCII (*.raw)", "raw/WithTexture.raw", "raw", true},
                    FormatCase{"off.so", "OFF (*.off)", "off/inspired_mesh_quads_Smooth.off", "off",
                               false},
                    FormatCase{"stl.so", "STL (*.stl)", "stl/Wuson.stl", "stl", false},
                    FormatCase{"ply.so", "PLY (*.ply)", "ply/suzanne.ply", "ply", false}));

} // namespace
} // namespace polyvant::formats::test
