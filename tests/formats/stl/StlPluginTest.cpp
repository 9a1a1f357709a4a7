#include <cstdint>
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

// (What every library does at the boundary is in the plug-in contract tests.)
TEST_F(StlPluginTest, TruncatedFileGivesNullAndOneErrorWithTheOffset)
{
    const std::string truncated = dir.File("cut.stl");
    test::WriteBytes(truncated, test::ReadBytes(test::TestData("stl/Wuson.stl")).substr(0, 5000));
    EXPECT_EQ(NewImporter()->ImportFile(truncated.c_str()), nullptr);
    const auto errors = host.Texts(PV_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(truncated + ": offset 80: header declares 3732 triangles", 0), 0u)
        << errors[0];
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

} // namespace
} // namespace polyvant::formats::stl
