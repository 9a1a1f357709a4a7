#include <fstream>

#include "../3ds/PluginHarness.h"
#include "LwoTestSupport.h"

namespace polyvant::formats::test {
namespace {

constexpr char kClassName[] = "Lightwave (*.lwo)";

TEST(LwoPluginTest, ImportsExportsAndReimportsThroughTheBoundary)
{
    PluginHarness plugin("format_lwo.so");
    EXPECT_EQ(plugin.Entry<PvLibVersionFn>("LibVersion")(), 3u);
    ClassDescriptor* in = plugin.Find(kClassName, kImportSuperClassId);
    ClassDescriptor* out = plugin.Find(kClassName, kExportSuperClassId);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(in->ClassID(), out->ClassID());

    TempDir dir;
    auto* importer = static_cast<Importer*>(in->Create());
    ObjectList* list = importer->ImportFile(SamplePath("lwo/lwo2_hierarchy.lwo").c_str());
    ASSERT_NE(list, nullptr) << plugin.Messages(PV_ERROR);
    ASSERT_EQ(list->Count(), 4);
    auto* exporter = static_cast<Exporter*>(out->Create());
    plugin.savePath = dir.File("copy.lwo");
    EXPECT_EQ(exporter->Export(list), 1) << plugin.Messages(PV_ERROR);
    exporter->Release();

    auto* again = static_cast<Importer*>(in->Create());
    ObjectList* copy = again->ImportFile(plugin.savePath.c_str());
    ASSERT_NE(copy, nullptr) << plugin.Messages(PV_ERROR);
    ASSERT_EQ(copy->Count(), 4);
    for (int i = 0; i < 4; ++i) {
        const auto* a = static_cast<const Mesh3d*>(list->Get(i));
        const auto* b = static_cast<const Mesh3d*>(copy->Get(i));
        EXPECT_STREQ(a->name, b->name);
        EXPECT_EQ(a->faceCount, b->faceCount);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(a->min[c], b->min[c]);
            EXPECT_EQ(a->max[c], b->max[c]);
        }
    }
    again->Release();
    importer->Release();
    EXPECT_EQ(plugin.Messages(PV_ERROR), "");
}

TEST(LwoPluginTest, ReportsABrokenFileWithPathOffsetAndChunk)
{
    PluginHarness plugin("format_lwo.so");
    TempDir dir;
    auto bytes = ReadBytes(SamplePath("lwo/lwob_sphere_with_mat_gloss_10pc.lwo"));
    bytes[4] = 0x7F; // FORM size far past the file
    const std::string path = dir.File("broken.lwo");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto* importer = static_cast<Importer*>(plugin.Find(kClassName, kImportSuperClassId)->Create());
    EXPECT_EQ(importer->ImportFile(path.c_str()), nullptr);
    importer->Release();
    EXPECT_NE(plugin.Messages(PV_ERROR).find(path + ": offset 4: FORM size"), std::string::npos)
        << plugin.Messages(PV_ERROR);
}

} // namespace
} // namespace polyvant::formats::test
