#include <ClassPatterns.h>
#include <gtest/gtest.h>

namespace polyvant {
namespace {

TEST(ClassPatternsTest, MatchesWholePatternsWithoutRegardToCase)
{
    const char* name = "3D Studio (*.3ds, *.prj)";
    EXPECT_TRUE(ClassNameListsExtension(name, "3ds"));
    EXPECT_TRUE(ClassNameListsExtension(name, "PRJ"));
    EXPECT_FALSE(ClassNameListsExtension(name, "3d"));   // a prefix of a pattern
    EXPECT_FALSE(ClassNameListsExtension(name, "3dsx")); // longer than the pattern
    EXPECT_FALSE(ClassNameListsExtension(name, ""));
    EXPECT_TRUE(ClassNameListsExtension("Points (*.xyz;*.pts)", "pts"));
    EXPECT_FALSE(ClassNameListsExtension("Sample", "sample"));
}

TEST(ClassPatternsTest, TakesTheExtensionOfTheFileNameOnly)
{
    EXPECT_EQ(FileExtension("/a/b/model.OBJ"), "OBJ");
    EXPECT_EQ(FileExtension("/a/b.dir/model"), "");
    EXPECT_EQ(FileExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(FileExtension("/a/.hidden"), "");
    EXPECT_EQ(FileExtension("name."), "");
}

} // namespace
} // namespace polyvant
