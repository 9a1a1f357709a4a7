#include "tools/common/ExtensionTable.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "ToolRunner.h"
#include "tools/common/ExtensionTableCache.h"
#include "tools/common/FieldCoding.h"

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
    table.source = "8:/a/b.confl 1 2 3";
    table.extensions = {".obj", "", ".3:4", ".\xc3\xa9t\xc3\xa9"};
    table.classes = {"WaveFront (*.obj)", "10:x", "", "Name\0With Zero"};
    table.classes[3] = std::string("Name\0With Zero", 14);
    const std::string bytes = tools::EncodeExtensionTable(table);

    ExtensionTable back;
    ASSERT_TRUE(tools::DecodeExtensionTable(bytes, back));
    EXPECT_EQ(back.notice, table.notice);
    EXPECT_EQ(back.source, table.source);
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

// Long enough for any file system clock to tick between two changes.
void NextTick()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(SettingsFileStampTest, EveryChangeToTheFileOrItsLinkShows)
{
    TempDir dir;
    const std::string path = (dir / "polyvant.conf").string();
    using tools::SettingsFileStamp;
    EXPECT_EQ(SettingsFileStamp("relative/polyvant.conf", 0), "");

    const std::string absent = SettingsFileStamp(path, 0);
    EXPECT_NE(absent, "");
    EXPECT_EQ(SettingsFileStamp(path), absent); // nothing there to change unseen
    EXPECT_NE(SettingsFileStamp((dir / "no-folder" / "polyvant.conf").string(), 0), "");

    WriteFile(path, "[Settings]\nBuild=1\n");
    // Just written: a coarse clock could give the next change the same times.
    EXPECT_EQ(SettingsFileStamp(path), "");
    const std::string written = SettingsFileStamp(path, 0);
    EXPECT_NE(written, "");
    EXPECT_NE(written, absent);
    EXPECT_EQ(SettingsFileStamp(path, 0), written);

    // Rewritten in place, same size, its modification time put back: the change time
    // still tells.
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    NextTick();
    WriteFile(path, "[Settings]\nBuild=2\n");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const std::string rewritten = SettingsFileStamp(path, 0);
    EXPECT_NE(rewritten, written);

    // Replaced by another file, as a save through a temporary name does.
    WriteFile(dir / "other", "[Settings]\nBuild=3\n");
    fs::rename(dir / "other", path);
    EXPECT_NE(SettingsFileStamp(path, 0), rewritten);

    // A link: a change to the file it leads to shows, and a dangling one cannot be told.
    const std::string link = (dir / "link.conf").string();
    fs::create_symlink(path, link);
    const std::string linked = SettingsFileStamp(link, 0);
    EXPECT_NE(linked, "");
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    NextTick();
    WriteFile(path, "[Settings]\nBuild=4\n");
    const timespec again[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), again, 0), 0);
    EXPECT_NE(SettingsFileStamp(link, 0), linked);
    fs::remove(path);
    EXPECT_EQ(SettingsFileStamp(link, 0), "");
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
        const char* oldCache = std::getenv("XDG_CACHE_HOME");
        savedCache = oldCache ? oldCache : "";
        hadOldCache = oldCache != nullptr;
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        fs::create_directories(settings.parent_path());
    }
    void TearDown() override
    {
        if (hadOld)
            setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        if (hadOldCache)
            setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
        else
            unsetenv("XDG_CACHE_HOME");
    }
    // Puts an entry into the kept table that no settings file holds, so that a read
    // that gives it back shows that it came from the cache.
    void MarkCache()
    {
        const std::string bytes = ReadFile(cache);
        const std::size_t end = bytes.find('\n');
        ASSERT_NE(end, std::string::npos);
        std::string_view rest = std::string_view(bytes).substr(end + 1);
        std::string key;
        ExtensionTable table;
        ASSERT_TRUE(tools::TakeField(rest, key));
        ASSERT_TRUE(tools::DecodeExtensionTable(rest, table));
        table.extensions.push_back(".cached");
        table.classes.push_back("STL (*.stl)");
        std::string marked = bytes.substr(0, end + 1);
        tools::PutField(marked, key);
        WriteFile(cache, marked + tools::EncodeExtensionTable(table));
    }
    ExtensionTable Read()
    {
        ExtensionTableReader reader;
        reader.Start(POLYVANT_SETTINGS_READER);
        return reader.Take();
    }

    TempDir dir;
    fs::path settings = dir / "config" / "Brellow Soft" / "polyvant.conf";
    fs::path cache = dir / "cache" / "polyvant" / "extension-table";
    std::string saved, savedCache;
    bool hadOld = false, hadOldCache = false;
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

TEST_F(StoredTableTest, AKeptTableServesOnlyWhileTheSettingsAndTheirPlaceAreAsTheyWere)
{
    // No settings file: the built-in table is kept, and served from the cache.
    EXPECT_FALSE(HasEntry(Read(), ".cached", "STL (*.stl)"));
    ASSERT_TRUE(fs::is_regular_file(cache));
    EXPECT_EQ(fs::status(cache.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
    MarkCache();
    EXPECT_TRUE(HasEntry(Read(), ".cached", "STL (*.stl)"));
    EXPECT_TRUE(NoChildLeft());

    // Elsewhere the settings file could be another: read again.
    setenv("XDG_CONFIG_HOME", (dir / "other").c_str(), 1);
    EXPECT_FALSE(HasEntry(Read(), ".cached", "STL (*.stl)"));
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    MarkCache(); // kept for the other place, now
    EXPECT_FALSE(HasEntry(Read(), ".cached", "STL (*.stl)"));
    MarkCache();
    EXPECT_TRUE(HasEntry(Read(), ".cached", "STL (*.stl)"));

    // The viewer saves a table: it is read, and read again while the file is too new
    // to be told from its next change.
    WriteFile(settings, "[Settings%2Fextension]\n.dat=STL (*.stl)\n");
    for (int i = 0; i < 2; ++i) {
        const ExtensionTable table = Read();
        EXPECT_TRUE(HasEntry(table, ".dat", "STL (*.stl)"));
        EXPECT_FALSE(HasEntry(table, ".cached", "STL (*.stl)"));
        EXPECT_EQ(table.source, "");
    }

    // Once settled, it is kept; a change of the same size shows again.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_NE(Read().source, "");
    MarkCache();
    EXPECT_TRUE(HasEntry(Read(), ".cached", "STL (*.stl)"));
    WriteFile(settings, "[Settings%2Fextension]\n.dot=STL (*.stl)\n");
    const ExtensionTable changed = Read();
    EXPECT_TRUE(HasEntry(changed, ".dot", "STL (*.stl)"));
    EXPECT_FALSE(HasEntry(changed, ".cached", "STL (*.stl)"));
}

TEST_F(StoredTableTest, CacheFoldersAreMadeOnlyInFoldersOfTheUsersOwn)
{
    // As root with another user's HOME: nothing of root's may appear in that home.
    const fs::path home = dir / "home";
    fs::create_directory(home);
    fs::create_directory(home / "cache");
    if (geteuid() != 0 || chown(home.c_str(), 65534, 65534) != 0 ||
        chown((home / "cache").c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "needs root, to give folders to another user";
    // Without a settings file the built-in table could be kept at once.
    for (const fs::path& cacheHome : {home / ".cache", home / "cache"}) {
        setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
        EXPECT_TRUE(HasEntry(Read(), ".obj", "WaveFront (*.obj)"));
        EXPECT_FALSE(fs::exists(home / ".cache"));
        EXPECT_FALSE(fs::exists(home / "cache" / "polyvant"));
    }
    // A folder of the user's own, given with a closing slash, is made.
    setenv("XDG_CACHE_HOME", (dir.Path().string() + "/mine/").c_str(), 1);
    Read();
    EXPECT_TRUE(fs::is_regular_file(dir / "mine" / "polyvant" / "extension-table"));
}

TEST_F(StoredTableTest, ADamagedOrUnwritableCacheNeverChangesTheTable)
{
    WriteFile(settings, "[Settings%2Fextension]\n.dat=STL (*.stl)\n");
    const auto readsTheSettings = [this] {
        const ExtensionTable table = Read();
        return HasEntry(table, ".dat", "STL (*.stl)") && table.notice.empty();
    };
    fs::create_directories(cache.parent_path());
    // A valid cache of another table but cut short, then bytes of no cache at all.
    for (const std::string& bytes : {std::string("polyvant extension table cache 1\n12:abc"),
                                     std::string("\0\xff garbage", 10), std::string()}) {
        WriteFile(cache, bytes);
        EXPECT_TRUE(readsTheSettings());
    }
    // A folder or a link where the cache should be, and a cache folder that is a file.
    fs::remove(cache);
    fs::create_directory(cache);
    EXPECT_TRUE(readsTheSettings());
    fs::remove(cache);
    fs::create_symlink(settings, cache);
    EXPECT_TRUE(readsTheSettings());
    EXPECT_TRUE(fs::is_symlink(cache));
    WriteFile(dir / "plain", "");
    setenv("XDG_CACHE_HOME", (dir / "plain").c_str(), 1);
    EXPECT_TRUE(readsTheSettings());
    setenv("XDG_CACHE_HOME", "relative/cache", 1);
    EXPECT_TRUE(readsTheSettings());
    EXPECT_FALSE(fs::exists(dir / "relative"));
    EXPECT_TRUE(NoChildLeft());
}
#endif

} // namespace
} // namespace polyvant::tooltest
