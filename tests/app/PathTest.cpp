#include <gtest/gtest.h>

#include "app/PathUtil.h"

using polyvant::MakePath;
using polyvant::SplitPath;

namespace {

TEST(SplitPath, TakesTheExtensionFromTheFileNameOnly)
{
    const auto parts = SplitPath("/home/u/v1.2/model");
    EXPECT_EQ(parts.directory, "/home/u/v1.2/");
    EXPECT_EQ(parts.name, "model");
    EXPECT_EQ(parts.extension, "");
}

TEST(SplitPath, SplitsDirectoryNameAndLastExtension)
{
    const auto parts = SplitPath("/data/scene.backup.3DS");
    EXPECT_EQ(parts.drive, "");
    EXPECT_EQ(parts.directory, "/data/");
    EXPECT_EQ(parts.name, "scene.backup");
    EXPECT_EQ(parts.extension, ".3DS");
}

TEST(SplitPath, HandlesEmptyRelativeAndHiddenNames)
{
    EXPECT_EQ(SplitPath("").name, "");
    EXPECT_EQ(SplitPath("").extension, "");
    EXPECT_EQ(SplitPath("cube.obj").directory, "");
    EXPECT_EQ(SplitPath("cube.obj").name, "cube");
    EXPECT_EQ(SplitPath("/d/.hidden").extension, "");
    EXPECT_EQ(SplitPath("/d/.hidden").name, ".hidden");
    EXPECT_EQ(SplitPath("/d/").name, "");
    EXPECT_EQ(SplitPath("a\\b.c").name, "a\\b"); // a backslash is an ordinary character
}

TEST(SplitPath, KeepsPathsLongerThanAnyFixedBuffer)
{
    const std::string dir = "/" + std::string(300, 'd') + "/" + std::string(5000, 'e') + "/";
    const std::string name(1000, 'n');
    const auto parts = SplitPath(dir + name + ".lwo");
    EXPECT_EQ(parts.directory, dir);
    EXPECT_EQ(parts.name, name);
    EXPECT_EQ(MakePath(parts.drive, parts.directory, parts.name, parts.extension),
              dir + name + ".lwo");
}

TEST(MakePath, AddsTheMissingSeparatorAndDot)
{
    EXPECT_EQ(MakePath("", "/dir", "model", "3ds"), "/dir/model.3ds");
    EXPECT_EQ(MakePath("", "/dir/", "model", ".3ds"), "/dir/model.3ds");
    EXPECT_EQ(MakePath("", "", "model", ".3ds"), "model.3ds");
    EXPECT_EQ(MakePath("", "", "", ""), "");
}

} // namespace

// Fontconfig keeps a cache for the life of the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
