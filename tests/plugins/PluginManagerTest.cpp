#include <HeadlessHost.h>
#include <PluginLibrary.h>
#include <PluginManager.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace polyvant {
namespace {

using test::LinkFixture;
using test::TempDir;

std::vector<std::string> ClassNames(const PluginManager& manager)
{
    std::vector<std::string> names;
    for (int i = 0; i < manager.ClassCount(); ++i)
        names.push_back(manager.GetClass(i)->ClassName());
    return names;
}

const PluginLoadReport* ReportFor(const PluginManager& manager, const std::string& name)
{
    for (const PluginLoadReport& report : manager.Reports()) {
        if (report.path.size() >= name.size() &&
            report.path.compare(report.path.size() - name.size(), name.size(), name) == 0)
            return &report;
    }
    return nullptr;
}

class PluginManagerTest : public testing::Test {
protected:
    TempDir dir;
    HeadlessHost host;
    PluginManager manager;
};

TEST_F(PluginManagerTest, TakesLibrariesInByteOrderAndTheFirstOfAClassIdWins)
{
    LinkFixture(dir, "fixture_import.so", "b.so");    // id 1
    LinkFixture(dir, "fixture_duplicate.so", "B.so"); // id 1 again, then 0x11 twice
    LinkFixture(dir, "fixture_export.so", "a.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);

    // "B" (0x42) < "a" (0x61) < "b" (0x62).
    EXPECT_EQ(ClassNames(manager),
              (std::vector<std::string>{"Duplicate Import (*.fxi)", "Second Import (*.fxs)",
                                        "Fixture Export (*.fxe)"}));
    // The library that lost its only class passed the checks and stays loaded.
    EXPECT_EQ(manager.libraryList->Count(), 3);
    EXPECT_EQ(manager.Notes().size(), 2u);
    EXPECT_EQ(std::string(manager.GetClassLibrary(2)->GetPath()), dir / "a.so");
}

TEST_F(PluginManagerTest, JoinsAPathWithoutTrailingSlashWithOne)
{
    LinkFixture(dir, "fixture_import.so", "import.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    PluginManager withSlash;
    withSlash.ScanDirectory((dir.Path() + "/").c_str(), 3);

    ASSERT_EQ(manager.Reports().size(), 1u);
    EXPECT_EQ(manager.Reports()[0].path, dir / "import.so");
    EXPECT_EQ(withSlash.Reports()[0].path, dir / "import.so");
    EXPECT_EQ(ClassNames(manager), ClassNames(withSlash));
}

TEST_F(PluginManagerTest, SkipsUnusableLibrariesAndSaysWhy)
{
    const char* const fixtures[][2] = {
        {"fixture_version2.so", "interface version 2"},
        {"fixture_no_classes.so", "no classes"},
        {"fixture_missing_entry.so", "LibClassDescription"},
        {"fixture_not_elf.so", "not an ELF file"},
        {"fixture_truncated.so", "truncated"},
    };
    for (const auto& fixture : fixtures)
        LinkFixture(dir, fixture[0], fixture[0]);
    LinkFixture(dir, "fixture_import.so", "fixture_import.so");
    test::WriteFile(dir / "notes.txt", "not a plug-in");
    test::WriteFile(dir / "libsomething.so.1", "not matched");
    manager.SetHostServices(host.Services());
    manager.ScanDirectory(dir.Path().c_str(), 3);

    EXPECT_EQ(manager.Reports().size(), 6u);
    for (const auto& fixture : fixtures) {
        const PluginLoadReport* report = ReportFor(manager, fixture[0]);
        ASSERT_NE(report, nullptr) << fixture[0];
        EXPECT_FALSE(report->kept) << fixture[0];
        EXPECT_NE(report->reason.find(fixture[1]), std::string::npos) << report->reason;
    }
    EXPECT_TRUE(ReportFor(manager, "fixture_import.so")->kept);
    EXPECT_EQ(manager.libraryList->Count(), 1);
    EXPECT_EQ(ClassNames(manager), std::vector<std::string>{"Fixture Import (*.fxi)"});
}

TEST_F(PluginManagerTest, SkipsNullDescriptorsAndClassesWithoutAName)
{
    LinkFixture(dir, "fixture_bad_descriptors.so", "bad.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    EXPECT_EQ(ClassNames(manager), std::vector<std::string>{"Named Import (*.fxn)"});
    EXPECT_EQ(manager.Notes().size(), 3u);
}

TEST_F(PluginManagerTest, ReadsABoundedNumberOfClassesFromABogusCount)
{
    LinkFixture(dir, "fixture_huge_count.so", "huge.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    EXPECT_EQ(ClassNames(manager), std::vector<std::string>{"Only Import (*.fxh)"});
    ASSERT_FALSE(manager.Notes().empty());
    EXPECT_NE(manager.Notes()[0].find("4294967295"), std::string::npos);
}

TEST_F(PluginManagerTest, KeepsAClassOfAnotherKindInTheClassList)
{
    LinkFixture(dir, "fixture_other_kind.so", "other.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    ASSERT_EQ(manager.ClassCount(), 1);
    EXPECT_EQ(manager.GetClass(0)->SuperClassID(), 0x2000u);
}

TEST_F(PluginManagerTest, HandsTheServicesTableToLibrariesThatAskForIt)
{
    LinkFixture(dir, "fixture_import.so", "import.so");
    manager.SetHostServices(host.Services());
    manager.ScanDirectory(dir.Path().c_str(), 3);
    ASSERT_EQ(manager.ClassCount(), 1);
    auto* importer = static_cast<Importer*>(manager.GetClass(0)->Create());
    EXPECT_EQ(importer->ImportFile((dir / "absent.fxi").c_str()), nullptr);
    importer->Release();
    ASSERT_EQ(host.Count(PV_ERROR), 1);
    EXPECT_NE(host.Messages()[0].text.find("absent.fxi"), std::string::npos);
}

// A forked worker wakes only the library it calls; the others keep what they had.
TEST_F(PluginManagerTest, HandsTheTableToOneLibraryOnRequest)
{
    LinkFixture(dir, "fixture_import.so", "import.so");
    LinkFixture(dir, "fixture_export.so", "export.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    ASSERT_EQ(manager.ClassCount(), 2);
    const int importClass = manager.GetClass(0)->SuperClassID() == kImportSuperClassId ? 0 : 1;
    manager.SetHostServices(host.Services(), nullptr);
    manager.SetHostServices(host.Services(), manager.GetClassLibrary(1 - importClass));
    auto* importer = static_cast<Importer*>(manager.GetClass(importClass)->Create());
    testing::internal::CaptureStderr();
    EXPECT_EQ(importer->ImportFile((dir / "absent.fxi").c_str()), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open"), std::string::npos);
    EXPECT_TRUE(host.Messages().empty());

    manager.SetHostServices(host.Services(), manager.GetClassLibrary(importClass));
    EXPECT_EQ(importer->ImportFile((dir / "absent.fxi").c_str()), nullptr);
    importer->Release();
    EXPECT_EQ(host.Count(PV_ERROR), 1);
}

TEST_F(PluginManagerTest, HandsNoTableWhenTheHostHasNone)
{
    LinkFixture(dir, "fixture_import.so", "import.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    auto* importer = static_cast<Importer*>(manager.GetClass(0)->Create());
    testing::internal::CaptureStderr();
    EXPECT_EQ(importer->ImportFile((dir / "absent.fxi").c_str()), nullptr);
    const std::string printed = testing::internal::GetCapturedStderr();
    importer->Release();
    EXPECT_NE(printed.find("error: Fixture Import: cannot open"), std::string::npos) << printed;
    EXPECT_TRUE(host.Messages().empty());
}

TEST_F(PluginManagerTest, ReportsADirectoryItCannotRead)
{
    manager.ScanDirectory((dir / "absent").c_str(), 3);
    EXPECT_EQ(manager.ClassCount(), 0);
    ASSERT_EQ(manager.Reports().size(), 1u);
    EXPECT_FALSE(manager.Reports()[0].kept);
    EXPECT_NE(manager.Reports()[0].reason.find("cannot read"), std::string::npos);
}

// A converter keeps only the libraries of the classes its files need.
TEST_F(PluginManagerTest, UnloadsTheLibrariesOfOtherClassesAndKeepsTheIndices)
{
    LinkFixture(dir, "fixture_import.so", "import.so");
    LinkFixture(dir, "fixture_export.so", "export.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    ASSERT_EQ(manager.ClassCount(), 2);
    const int importClass = manager.GetClass(0)->SuperClassID() == kImportSuperClassId ? 0 : 1;
    const std::string exportPath = manager.GetClassLibrary(1 - importClass)->GetPath();

    manager.UnloadLibrariesExcept({-1, importClass, 2, importClass});
    EXPECT_EQ(manager.ClassCount(), 2);
    EXPECT_EQ(manager.GetClass(1 - importClass), nullptr);
    EXPECT_EQ(manager.GetClassLibrary(1 - importClass), nullptr);
    EXPECT_EQ(manager.libraryList->Count(), 1);
    void* handle = dlopen(exportPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(handle, nullptr) << "the export fixture is still mapped";
    if (handle)
        dlclose(handle);

    ASSERT_NE(manager.GetClassLibrary(importClass), nullptr);
    auto* importer = static_cast<Importer*>(manager.GetClass(importClass)->Create());
    testing::internal::CaptureStderr();
    EXPECT_EQ(importer->ImportFile((dir / "absent.fxi").c_str()), nullptr);
    testing::internal::GetCapturedStderr();
    importer->Release();

    manager.UnloadLibrariesExcept({});
    EXPECT_EQ(manager.libraryList->Count(), 0);
    EXPECT_EQ(manager.GetClass(importClass), nullptr);
}

TEST_F(PluginManagerTest, AnswersNullOutsideTheClassRange)
{
    LinkFixture(dir, "fixture_export.so", "export.so");
    manager.ScanDirectory(dir.Path().c_str(), 3);
    ASSERT_EQ(manager.ClassCount(), 1);
    EXPECT_EQ(manager.GetClass(-1), nullptr);
    EXPECT_EQ(manager.GetClass(1), nullptr);
    EXPECT_EQ(manager.GetClassLibrary(1), nullptr);
    EXPECT_NE(manager.GetClassLibrary(0), nullptr);
}

} // namespace
} // namespace polyvant
