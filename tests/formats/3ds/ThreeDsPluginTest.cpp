#include <fstream>

#include "PluginHarness.h"
#include "ThreeDsTestSupport.h"

namespace polyvant::formats::test {
namespace {

constexpr char kImportName[] = "3D Studio (*.3ds, *.prj)";
constexpr char kExportName[] = "3D Studio (*.3ds)";

TEST(ThreeDsPluginTest, OffersTheExtensionTableClassAndAnExportClass)
{
    PluginHarness plugin("format_3ds.so");
    ASSERT_NE(plugin.Entry<PvLibVersionFn>("LibVersion"), nullptr);
    EXPECT_EQ(plugin.Entry<PvLibVersionFn>("LibVersion")(), 3u);
    ASSERT_NE(plugin.Entry<PvLibNameFn>("LibName"), nullptr);
    ClassDescriptor* in = plugin.Find(kImportName, kImportSuperClassId);
    ClassDescriptor* out = plugin.Find(kExportName, kExportSuperClassId);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(in->ClassID(), out->ClassID());
}

TEST(ThreeDsPluginTest, ImportsExportsAndReimportsThroughTheBoundary)
{
    PluginHarness plugin("format_3ds.so");
    TempDir dir;
    auto* importer =
        static_cast<Importer*>(plugin.Find(kImportName, kImportSuperClassId)->Create());
    ASSERT_NE(importer, nullptr);
    plugin.openPath = SamplePath("3ds/jeep1.3ds");
    ObjectList* list = importer->ImportInteractive();
    ASSERT_NE(list, nullptr) << plugin.Messages(PV_ERROR);
    EXPECT_EQ(list->Count(), 7);
    EXPECT_STREQ(importer->GetFileName(), plugin.openPath.c_str());

    auto* exporter =
        static_cast<Exporter*>(plugin.Find(kExportName, kExportSuperClassId)->Create());
    plugin.savePath = dir.File("copy.3ds");
    EXPECT_EQ(exporter->Export(list), 1) << plugin.Messages(PV_ERROR);
    exporter->Release();

    auto* again = static_cast<Importer*>(plugin.Find(kImportName, kImportSuperClassId)->Create());
    ObjectList* copy = again->ImportFile(plugin.savePath.c_str());
    ASSERT_NE(copy, nullptr) << plugin.Messages(PV_ERROR);
    ASSERT_EQ(copy->Count(), 7);
    for (int i = 0; i < 7; ++i) {
        const auto* a = static_cast<const Mesh3d*>(list->Get(i));
        const auto* b = static_cast<const Mesh3d*>(copy->Get(i));
        EXPECT_STREQ(a->name, b->name);
        EXPECT_EQ(a->faceCount, b->faceCount);
        EXPECT_EQ(a->vertexCount, b->vertexCount);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(a->min[c], b->min[c]);
            EXPECT_EQ(a->max[c], b->max[c]);
        }
    }
    again->Release();
    importer->Release();
    EXPECT_EQ(plugin.Messages(PV_ERROR), "");
}

TEST(ThreeDsPluginTest, ReportsABrokenFileWithPathAndOffsetAndReturnsNothing)
{
    PluginHarness plugin("format_3ds.so");
    TempDir dir;
    auto bytes = ReadBytes(SamplePath("3ds/fels.3ds"));
    bytes.resize(bytes.size() / 2);
    const std::string path = dir.File("half.3ds");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto* importer =
        static_cast<Importer*>(plugin.Find(kImportName, kImportSuperClassId)->Create());
    EXPECT_EQ(importer->ImportFile(path.c_str()), nullptr);
    EXPECT_EQ(importer->ImportFile(dir.File("missing.3ds").c_str()), nullptr);
    importer->Release();
    const std::string errors = plugin.Messages(PV_ERROR);
    EXPECT_NE(errors.find(path + ": offset 0: chunk 0x4D4D (main)"), std::string::npos) << errors;
    EXPECT_NE(errors.find("missing.3ds"), std::string::npos) << errors;
}

TEST(ThreeDsPluginTest, ExportNeverLeavesAHalfFileWhenItRefuses)
{
    PluginHarness plugin("format_3ds.so");
    TempDir dir;
    const std::string path = dir.File("keep.3ds");
    std::ofstream(path) << "previous contents";
    std::unique_ptr<Mesh3d> bad(MakeMesh("bad", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 9, 0}));
    ObjectList list;
    list.Append(bad.get());
    auto* exporter =
        static_cast<Exporter*>(plugin.Find(kExportName, kExportSuperClassId)->Create());
    plugin.savePath = path;
    EXPECT_EQ(exporter->Export(&list), 0);
    exporter->Release();
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "previous contents");
    EXPECT_NE(plugin.Messages(PV_ERROR).find("'bad'"), std::string::npos);
}

} // namespace
} // namespace polyvant::formats::test
