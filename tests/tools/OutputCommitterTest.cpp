#include "tools/convert/OutputCommitter.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <poll.h>

#include "ToolRunner.h"

namespace polyvant::tools {
namespace {

using tooltest::ReadFile;
using tooltest::TempDir;
using tooltest::WriteFile;
namespace fs = std::filesystem;

// Waits until the committer has told of `count` outcomes, and returns them by id.
std::vector<OutputCommitter::Outcome> Await(OutputCommitter& committer, std::size_t count)
{
    std::vector<OutputCommitter::Outcome> all;
    while (all.size() < count) {
        pollfd ready{committer.NotifyFd(), POLLIN, 0};
        if (poll(&ready, 1, 10000) != 1)
            break;
        for (auto& outcome : committer.Take())
            all.push_back(outcome);
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    return all;
}

TEST(OutputCommitter, PutsFinishedFilesInPlaceAndSaysSoThroughItsDescriptor)
{
    TempDir dir;
    OutputCommitter committer;
    EXPECT_EQ(committer.NotifyFd(), -1);
    WriteFile(dir / "out2.stl", "old");
    for (std::size_t i = 0; i < 40; ++i) {
        const std::string name = "out" + std::to_string(i) + ".stl";
        WriteFile(dir / ("." + name + ".tmp"), "file " + std::to_string(i));
        ASSERT_TRUE(committer.Submit({i, dir / ("." + name + ".tmp"), dir / name, false}));
    }
    const auto outcomes = Await(committer, 40);
    ASSERT_EQ(outcomes.size(), 40u);
    EXPECT_EQ(committer.Outstanding(), 0u);
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(outcomes[i].id, i);
        EXPECT_EQ(outcomes[i].error, "");
        EXPECT_EQ(ReadFile(dir / ("out" + std::to_string(i) + ".stl")),
                  "file " + std::to_string(i));
    }
    // Nothing but the outputs is left, and the one that was there is replaced.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 40);
}

TEST(OutputCommitter, FailsAFileItCannotPutInPlaceAndKeepsTheOutputThere)
{
    TempDir dir;
    OutputCommitter committer;
    WriteFile(dir / "kept.stl", "the user's");
    WriteFile(dir / ".kept.tmp", "new");
    WriteFile(dir / ".replaced.tmp", "new");
    WriteFile(dir / "replaced.stl", "old");
    WriteFile(dir / ".lost.tmp", "new");
    ASSERT_TRUE(committer.Submit({0, dir / ".kept.tmp", dir / "kept.stl", true}));
    ASSERT_TRUE(committer.Submit({1, dir / ".missing.tmp", dir / "missing.stl", false}));
    ASSERT_TRUE(committer.Submit({2, dir / ".lost.tmp", dir / "no" / "folder.stl", false}));
    ASSERT_TRUE(committer.Submit({3, dir / ".replaced.tmp", dir / "replaced.stl", false}));
    const auto outcomes = Await(committer, 4);
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_EQ(outcomes[0].error, "the output exists (kept: --no-clobber)");
    EXPECT_EQ(ReadFile(dir / "kept.stl"), "the user's");
    EXPECT_EQ(outcomes[1].error, "cannot open the written file: No such file or directory");
    EXPECT_FALSE(fs::exists(dir / "missing.stl"));
    EXPECT_EQ(outcomes[2].error, "cannot rename to the output: No such file or directory");
    EXPECT_EQ(outcomes[3].error, "");
    EXPECT_EQ(ReadFile(dir / "replaced.stl"), "new");
    // What could not be put in place is the caller's to remove.
    EXPECT_TRUE(fs::exists(dir / ".kept.tmp"));
    EXPECT_TRUE(fs::exists(dir / ".lost.tmp"));
}

// An interrupted batch still puts in place what was converted, and takes nothing after.
TEST(OutputCommitter, StopPutsEverythingSubmittedInPlaceFirst)
{
    TempDir dir;
    OutputCommitter committer;
    for (std::size_t i = 0; i < 200; ++i) {
        WriteFile(dir / (".t" + std::to_string(i)), std::to_string(i));
        ASSERT_TRUE(committer.Submit(
            {i, dir / (".t" + std::to_string(i)), dir / ("o" + std::to_string(i)), false}));
    }
    committer.Stop();
    EXPECT_EQ(committer.Take().size(), 200u);
    EXPECT_EQ(committer.Outstanding(), 0u);
    for (std::size_t i = 0; i < 200; ++i)
        EXPECT_EQ(ReadFile(dir / ("o" + std::to_string(i))), std::to_string(i));
    WriteFile(dir / ".late", "late");
    EXPECT_FALSE(committer.Submit({9, dir / ".late", dir / "late", false}));
    EXPECT_EQ(committer.Outstanding(), 0u);
    EXPECT_FALSE(fs::exists(dir / "late"));
}

} // namespace
} // namespace polyvant::tools
