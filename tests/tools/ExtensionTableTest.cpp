#include "tools/common/ExtensionTable.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

#include "ToolRunner.h"

namespace polyvant::tooltest {
namespace {

namespace fs = std::filesystem;
using tools::ExtensionTable;
using tools::ExtensionTableReader;

bool HasEntry(const ExtensionTable& table, const std::string& extension, const std::string& name)
{
    for (std::size_t i = 0; i < table.extensions.size() && i < table.classes.size(); ++i) {
        if (table.extensions[i] == extension && table.classes[i] == name)
            return true;
    }
    return false;
}

// No child of the test process is left, running or unreaped.
bool NoChildLeft()
{
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

TEST(ExtensionTableTest, EncodedTableDecodesToItselfAndNothingElseDecodes)
{
    ExtensionTable table;
    table.notice = "a notice: with 12: colons\nand a line break";
    table.extensions = {".obj", "", ".3:4", ".\xc3\xa9t\xc3\xa9"};
    table.classes = {"WaveFront (*.obj)", "10:x", "", "Name\0With Zero"};
    table.classes[3] = std::string("Name\0With Zero", 14);
    const std::string bytes = tools::EncodeExtensionTable(table);

    ExtensionTable back;
    ASSERT_TRUE(tools::DecodeExtensionTable(bytes, back));
    EXPECT_EQ(back.notice, table.notice);
    EXPECT_EQ(back.extensions, table.extensions);
    EXPECT_EQ(back.classes, table.classes);

    // A reader that died midway, or wrote more than one table, gives no table at all.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        ExtensionTable partial;
        partial.notice = "untouched";
        EXPECT_FALSE(tools::DecodeExtensionTable(bytes.substr(0, cut), partial)) << cut;
        EXPECT_EQ(partial.notice, "untouched");
    }
    EXPECT_FALSE(tools::DecodeExtensionTable(bytes + "0:", back));
    // An empty table ends in its count, "1:0"; a count that the bytes cannot hold.
    std::string huge = tools::EncodeExtensionTable({});
    ASSERT_TRUE(tools::DecodeExtensionTable(huge, back));
    huge.replace(huge.size() - 3, 3, "10:4000000000");
    EXPECT_FALSE(tools::DecodeExtensionTable(huge, back));
}

TEST(ExtensionTableTest, WithoutTheModuleTheBuiltInTableComesQuietly)
{
    for (const std::string& path : {std::string(), std::string("/nonexistent/reader.so")}) {
        ExtensionTableReader reader;
        reader.Start(path);
        const ExtensionTable table = reader.Take();
        EXPECT_TRUE(table.notice.empty()) << table.notice;
        EXPECT_TRUE(HasEntry(table, ".obj", "WaveFront (*.obj)"));
    }
}

TEST(ExtensionTableTest, AModuleThatDoesNotLoadIsReportedAndLeavesNoProcess)
{
    TempDir dir;
    WriteFile(dir / "reader.so", "not a library");
    {
        ExtensionTableReader reader;
        reader.Start((dir / "reader.so").string());
        const ExtensionTable table = reader.Take();
        EXPECT_NE(table.notice.find("the settings reader module does not load"), std::string::npos)
            << table.notice;
        EXPECT_TRUE(HasEntry(table, ".obj", "WaveFront (*.obj)"));
    }
    {
        // Started and never taken: its owner ends it.
        ExtensionTableReader reader;
        reader.Start((dir / "reader.so").string());
    }
    EXPECT_TRUE(NoChildLeft());
}

#ifdef POLYVANT_TOOLS_HAVE_SETTINGS
// The stored table as the viewer keeps it, read through the real module.
class StoredTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        saved = old ? old : "";
        hadOld = old != nullptr;
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        fs::create_directories(settings.parent_path());
    }
    void TearDown() override
    {
        if (hadOld)
            setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    ExtensionTable Read()
    {
        ExtensionTableReader reader;
        reader.Start(POLYVANT_SETTINGS_READER);
        return reader.Take();
    }

    TempDir dir;
    fs::path settings = dir / "config" / "Brellow Soft" / "polyvant.conf";
    std::string saved;
    bool hadOld = false;
};

TEST_F(StoredTableTest, TheStoredTableComesThroughTheModule)
{
    WriteFile(settings, "[Settings]\nclear_flag=1\n\n[Settings%2Fextension]\n"
                        ".mesh=WaveFront (*.obj)\n.dat=STL (*.stl)\n");
    const ExtensionTable table = Read();
    EXPECT_TRUE(table.notice.empty()) << table.notice;
    EXPECT_TRUE(HasEntry(table, ".mesh", "WaveFront (*.obj)"));
    EXPECT_TRUE(HasEntry(table, ".dat", "STL (*.stl)"));
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(StoredTableTest, AnUnusableSettingsFileGivesTheBuiltInTableWithANoticeAndStaysPut)
{
    // Too big to be the viewer's, then not a file at all.
    WriteFile(settings, "[Settings]\n" + std::string(2 << 20, ';') + "\n");
    ExtensionTable table = Read();
    EXPECT_NE(table.notice.find("is unusable; the built-in extension table is used"),
              std::string::npos)
        << table.notice;
    EXPECT_TRUE(HasEntry(table, ".obj", "WaveFront (*.obj)"));
    EXPECT_EQ(fs::file_size(settings), std::uintmax_t(2 << 20) + 12);

    fs::remove(settings);
    fs::create_directory(settings);
    table = Read();
    EXPECT_NE(table.notice.find("is unusable"), std::string::npos) << table.notice;
    EXPECT_TRUE(fs::is_directory(settings));
}
#endif

} // namespace
} // namespace polyvant::tooltest
