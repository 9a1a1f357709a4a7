#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ToolRunner.h"
#include "model/SanitizerBuild.h"

namespace polyvant::tooltest {
namespace {

namespace fs = std::filesystem;

const char kFixturePlugins[] = POLYVANT_BINARY_DIR "/tests/tools-fixture-plugin";

class ConvertTest : public ::testing::Test {
protected:
    // The user's own settings never reach a test.
    Outcome Convert(const std::vector<std::string>& args)
    {
        return RunProgram(ConvertProgram(), args, dir.Path(),
                          {"XDG_CONFIG_HOME=" + (dir / "config").string()});
    }
    Outcome Info(const std::vector<std::string>& args)
    {
        return RunProgram(InfoProgram(), args, dir.Path(),
                          {"XDG_CONFIG_HOME=" + (dir / "config").string()});
    }
    // The face total polyvant-info reports for a file.
    int Faces(const fs::path& file)
    {
        const Outcome info = Info({"--json", file.string()});
        const QJsonObject first = QJsonDocument::fromJson(QByteArray::fromStdString(info.out))
                                      .object()["files"]
                                      .toArray()
                                      .at(0)
                                      .toObject();
        int faces = 0;
        for (const QJsonValue object : first["objects"].toArray())
            faces += object.toObject()["faces"].toInt();
        return faces;
    }
    // A batch of fixture files, each holding one triangle, converted two at a time.
    Outcome ConvertFixtures(const std::vector<std::string>& names, const char* timeLimit)
    {
        for (const std::string& name : names)
            WriteFile(dir / name, "0 0 0  1 0 0  0 1 0\n");
        std::vector<std::string> args = {
            "--plugin-dir", kFixturePlugins, "--time-limit", timeLimit, "--to", "fx",
            "-o",           "out",           "-j",           "2"};
        args.insert(args.end(), names.begin(), names.end());
        return Convert(args);
    }
    std::vector<fs::path> Leftovers(const fs::path& where)
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(where)) {
            if (entry.path().filename().string().find(".pvtmp-") != std::string::npos)
                found.push_back(entry.path());
        }
        return found;
    }

    TempDir dir;
};

// The same model in every format with a sample, under names that do not collide.
std::vector<std::string> LinkWusonSources(const TempDir& dir)
{
    const std::vector<std::pair<std::string, std::string>> samples = {
        {"obj/WusonOBJ.obj", "from_obj.obj"}, {"raw/Wuson.raw", "from_raw.raw"},
        {"stl/Wuson.stl", "from_stl.stl"},    {"ply/Wuson.ply", "from_ply.ply"},
        {"off/Wuson.off", "from_off.off"},    {"dxf/wuson.dxf", "from_dxf.dxf"},
    };
    std::vector<std::string> names;
    for (const auto& [sample, name] : samples) {
        fs::create_symlink(Sample(sample), dir / name);
        names.push_back(name);
    }
    return names;
}

class ConvertEveryFormat : public ConvertTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ConvertEveryFormat, ConvertsTheSameModelFromEveryFormatAndVerifiesIt)
{
    std::vector<std::string> args = {"--verify", "-j", "2", "--to", GetParam(), "-o", "out"};
    for (const std::string& name : LinkWusonSources(dir))
        args.push_back(name);
    const Outcome outcome = Convert(args);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("6 converted, 0 failed"), std::string::npos) << outcome.out;
    for (const char* source : {"obj", "raw", "stl", "ply", "off", "dxf"}) {
        const fs::path written = dir / "out" / (std::string("from_") + source + "." + GetParam());
        ASSERT_TRUE(fs::is_regular_file(written)) << written;
        EXPECT_EQ(Faces(written), 3732) << written;
    }
    EXPECT_TRUE(Leftovers(dir / "out").empty());
}

INSTANTIATE_TEST_SUITE_P(ToEveryExporter, ConvertEveryFormat,
                         ::testing::Values("obj", "raw", "stl", "ply", "off", "3ds", "lwo", "dxf"));

TEST_F(ConvertTest, VerifyReportsPositionsAFormatMergesAndFailsWhatRoundingDoesNotExplain)
{
    // Imagine keeps coordinates in 16.16 fixed point: points of the model closer than
    // 1/65536 become one. Reported, but the format cannot do otherwise.
    Outcome outcome = Convert({"--verify", Sample("obj/WusonOBJ.obj"), "merged.iob"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.err.find("warning: verify: distinct positions 2117 written, 2093 read "
                               "back, as the format's 16.16 fixed point makes them"),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(Faces(dir / "merged.iob"), 3732);

    // A writer that changes the model is caught, and its output is not kept.
    WriteFile(dir / "a.good", "0 0 0  1 0 0  0 1 0\n");
    outcome = Convert({"--plugin-dir", kFixturePlugins, "--verify", "a.good", "a.lossy"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("a.good: verify: bounds (0 0 0)-(1 1 0) written, (0 0 0)-(2 2 0)"),
              std::string::npos)
        << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "a.lossy"));
}

TEST_F(ConvertTest, ConvertsSamplesOfTheOtherFormatsWithVerification)
{
    fs::create_symlink(Sample("3ds/test1.3ds"), dir / "scene.3ds");
    fs::create_symlink(Sample("lwo/lwo2_boxuv.lwo"), dir / "box.lwo");
    for (const char* target : {"obj", "ply", "3ds", "lwo", "iob"}) {
        const Outcome outcome = Convert({"--verify", "--to", target, "-o",
                                         std::string("out_") + target, "scene.3ds", "box.lwo"});
        EXPECT_EQ(outcome.status, 0) << target << "\n" << outcome.err;
    }
}

TEST_F(ConvertTest, SingleConversionTakesTheExportClassFromTheOutputExtension)
{
    Outcome outcome = Convert({Sample("obj/WusonOBJ.obj"), "binary.stl"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(ReadFile(dir / "binary.stl").substr(0, 5), "solid");
    EXPECT_EQ(fs::file_size(dir / "binary.stl"), 84u + 50u * 3732u);

    outcome = Convert({"--option", "format=ASCII", Sample("obj/WusonOBJ.obj"), "ascii.stl"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(ReadFile(dir / "ascii.stl").substr(0, 5), "solid");
    EXPECT_EQ(Faces(dir / "ascii.stl"), 3732);
}

TEST_F(ConvertTest, BatchWithDamagedFilesConvertsTheGoodOnesAndKeepsOutputsOfTheBad)
{
    const std::string stl = ReadFile(Sample("stl/Wuson.stl"));
    WriteFile(dir / "truncated.stl", stl.substr(0, stl.size() / 2));
    WriteFile(dir / "bad_index.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 99\n");
    WriteFile(dir / "empty.obj", "");
    fs::create_symlink(Sample("obj/WusonOBJ.obj"), dir / "good1.obj");
    fs::create_symlink(Sample("off/Wuson.off"), dir / "good2.off");
    fs::create_directory(dir / "out");
    WriteFile(dir / "out" / "truncated.ply", "an earlier output");

    const Outcome outcome = Convert({"--to", "ply", "-o", "out", "-j", "2", "good1.obj",
                                     "truncated.stl", "bad_index.obj", "empty.obj", "good2.off"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("2 converted, 3 failed"), std::string::npos) << outcome.out;
    for (const char* bad : {"truncated.stl", "bad_index.obj", "empty.obj"})
        EXPECT_NE(outcome.err.find(bad), std::string::npos) << outcome.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "good1.ply"));
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "good2.ply"));
    EXPECT_FALSE(fs::exists(dir / "out" / "bad_index.ply"));
    EXPECT_FALSE(fs::exists(dir / "out" / "empty.ply"));
    EXPECT_EQ(ReadFile(dir / "out" / "truncated.ply"), "an earlier output");
    EXPECT_TRUE(Leftovers(dir / "out").empty());
}

TEST_F(ConvertTest, ImporterThatCrashesOrHangsCostsOnlyItsFile)
{
    const std::string triangle = "0 0 0  1 0 0  0 1 0\n";
    WriteFile(dir / "a.good", triangle);
    WriteFile(dir / "b.crash", triangle);
    WriteFile(dir / "c.hang", triangle);
    WriteFile(dir / "d.good", triangle);
    WriteFile(dir / "e.mute", triangle);
    const Outcome outcome =
        Convert({"--plugin-dir", kFixturePlugins, "--time-limit", "2", "--to", "fx", "-o", "out",
                 "-j", "2", "a.good", "b.crash", "c.hang", "d.good", "e.mute"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("2 converted, 3 failed"), std::string::npos) << outcome.out;
    // Its report pipe closed, a hanging worker is still held to the time limit.
    EXPECT_NE(outcome.err.find("e.mute: ended by the time limit of 2 s"), std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("b.crash: the conversion was ended by signal 6"), std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("c.hang: ended by the time limit of 2 s"), std::string::npos)
        << outcome.err;
    EXPECT_EQ(ReadFile(dir / "out" / "a.fx"), "1 objects\n");
    EXPECT_EQ(ReadFile(dir / "out" / "d.fx"), "1 objects\n");
    EXPECT_FALSE(fs::exists(dir / "out" / "b.fx"));
    EXPECT_TRUE(Leftovers(dir / "out").empty());
}

// A caller that ignores SIGCHLD passes that on; the batch still learns how each worker
// ended, with its own slots and without.
TEST_F(ConvertTest, AnIgnoredChildSignalFromTheCallerHidesNoCrash)
{
    const std::string triangle = "0 0 0  1 0 0  0 1 0\n";
    WriteFile(dir / "a.good", triangle);
    WriteFile(dir / "b.crash", triangle);
    for (const char* jobs : {"1", "2"}) {
        fs::remove_all(dir / "out");
        const Outcome outcome =
            RunProgram("/usr/bin/env",
                       {"--ignore-signal=CHLD", ConvertProgram(), "--plugin-dir", kFixturePlugins,
                        "--to", "fx", "-o", "out", "-j", jobs, "a.good", "b.crash"},
                       dir.Path(), {"XDG_CONFIG_HOME=" + (dir / "config").string()});
        EXPECT_EQ(outcome.status, 1) << jobs;
        EXPECT_NE(outcome.out.find("1 converted, 1 failed"), std::string::npos) << outcome.out;
        EXPECT_NE(outcome.err.find("b.crash: the conversion was ended by signal 6"),
                  std::string::npos)
            << jobs << ": " << outcome.err;
        EXPECT_EQ(ReadFile(dir / "out" / "a.fx"), "1 objects\n");
    }
}

// With more than one job, each slot forks its workers through a process of its own; one
// that dies costs only the file it was converting, and the slot goes on with a new one.
// The time limit is long: the batch must see these ends without it.
TEST_F(ConvertTest, ASlotProcessOrWorkerThatDiesCostsOnlyItsFile)
{
    const Outcome outcome =
        ConvertFixtures({"a.good", "b.orphan", "c.good", "d.torn", "e.good"}, "20");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("3 converted, 2 failed"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.err.find("b.orphan: the conversion was ended by signal 9"), std::string::npos)
        << outcome.err;
    // A worker that dies in the middle of a report line does not hide its end.
    EXPECT_NE(outcome.err.find("d.torn: the conversion was ended by signal 6"), std::string::npos)
        << outcome.err;
    for (const char* good : {"a", "c", "e"})
        EXPECT_EQ(ReadFile(dir / "out" / (std::string(good) + ".fx")), "1 objects\n") << good;
    EXPECT_TRUE(Leftovers(dir / "out").empty());
}

// Files sent to a slot to follow its current one are started again elsewhere when the
// slot's process dies before starting them.
TEST_F(ConvertTest, FilesWaitingInASlotThatDiesAreStartedAgain)
{
    const Outcome outcome = ConvertFixtures({"a.orphan", "b.orphan", "c.good", "d.good"}, "20");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("2 converted, 2 failed"), std::string::npos) << outcome.out;
    for (const char* orphan : {"a.orphan", "b.orphan"})
        EXPECT_NE(outcome.err.find(std::string(orphan) + ": the conversion was ended by signal 9"),
                  std::string::npos)
            << outcome.err;
    for (const char* good : {"c", "d"})
        EXPECT_EQ(ReadFile(dir / "out" / (std::string(good) + ".fx")), "1 objects\n") << good;
    EXPECT_TRUE(Leftovers(dir / "out").empty());
}

// A file sent to follow one that hangs does not wait for the time limit when another slot
// runs out of work: by the interrupt, only the hanging file is left.
TEST_F(ConvertTest, AFileWaitingBehindAHangingOneMovesToAnIdleSlot)
{
    const std::string triangle = "0 0 0  1 0 0  0 1 0\n";
    for (const char* name : {"a.hang", "b.slow", "c.good", "d.good"})
        WriteFile(dir / name, triangle);
    const Outcome outcome = RunProgramAndSignal(
        ConvertProgram(),
        {"--plugin-dir", kFixturePlugins, "--to", "fx", "-o", "out", "-j", "2", "a.hang", "b.slow",
         "c.good", "d.good"},
        dir.Path(), {"XDG_CONFIG_HOME=" + (dir / "config").string()}, 3.0, SIGINT);
    EXPECT_EQ(outcome.status, 130) << outcome.err;
    EXPECT_NE(outcome.err.find("interrupted; 1 file not converted"), std::string::npos)
        << outcome.err;
    for (const char* done : {"b", "c", "d"})
        EXPECT_EQ(ReadFile(dir / "out" / (std::string(done) + ".fx")), "1 objects\n") << done;
    EXPECT_TRUE(Leftovers(dir / "out").empty());
}

// A file that waits behind another gets its full time limit from when it starts, and
// still converts when the file before it is ended for the limit.
TEST_F(ConvertTest, AWaitingFileIsTimedFromItsOwnStart)
{
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = ConvertFixtures({"a.hang", "b.hang", "c.hang", "d.good"}, "1");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("1 converted, 3 failed"), std::string::npos) << outcome.out;
    for (const char* hang : {"a.hang", "b.hang", "c.hang"})
        EXPECT_NE(outcome.err.find(std::string(hang) + ": ended by the time limit of 1 s"),
                  std::string::npos)
            << outcome.err;
    EXPECT_EQ(ReadFile(dir / "out" / "d.fx"), "1 objects\n");
    // The third hanging file starts only when one of the first two is ended.
    EXPECT_GE(took.count(), 1.9);
    EXPECT_TRUE(Leftovers(dir / "out").empty());
}

// A process a plug-in leaves behind may hold the report pipe open: the file is done when
// its worker has ended, and nothing written after that is taken for its report, nor, with
// more jobs, for the report of the file that follows it in its slot.
TEST_F(ConvertTest, AProcessLeftBehindDoesNotHoldUpTheFile)
{
    WriteFile(dir / "a.straggler", "0 0 0  1 0 0  0 1 0\n");
    const Outcome outcome = Convert(
        {"--plugin-dir", kFixturePlugins, "--time-limit", "20", "-j", "1", "a.straggler", "a.fx"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(ReadFile(dir / "a.fx"), "1 objects\n");
    EXPECT_EQ(outcome.err.find("late line"), std::string::npos) << outcome.err;

    const Outcome twoJobs = ConvertFixtures({"b.straggler", "c.slow", "d.slow", "e.slow"}, "20");
    EXPECT_EQ(twoJobs.status, 0) << twoJobs.err;
    EXPECT_NE(twoJobs.out.find("4 converted, 0 failed"), std::string::npos) << twoJobs.out;
    EXPECT_EQ(twoJobs.err.find("late line"), std::string::npos) << twoJobs.err;
}

// An interrupt or a termination ends the workers, launchers included, and reports the
// files not converted; no process and no temporary file is left.
TEST_F(ConvertTest, InterruptEndsEveryWorkerAndLeavesNothingBehind)
{
    const std::string triangle = "0 0 0  1 0 0  0 1 0\n";
    for (const char* name : {"a.good", "b.hang", "c.hang", "d.hang"})
        WriteFile(dir / name, triangle);
    for (const char* jobs : {"1", "2"}) {
        for (int sig : {SIGINT, SIGTERM}) {
            const Outcome outcome = RunProgramAndSignal(
                ConvertProgram(),
                {"--plugin-dir", kFixturePlugins, "--to", "fx", "-o", "out", "-j", jobs, "a.good",
                 "b.hang", "c.hang", "d.hang"},
                dir.Path(), {"XDG_CONFIG_HOME=" + (dir / "config").string()}, 1.0, sig);
            const std::string label = std::string("-j ") + jobs + ", signal " + std::to_string(sig);
            EXPECT_EQ(outcome.status, 130) << label << outcome.err;
            EXPECT_NE(outcome.err.find("interrupted; 3 files not converted"), std::string::npos)
                << label << outcome.err;
            EXPECT_EQ(ReadFile(dir / "out" / "a.fx"), "1 objects\n") << label;
            EXPECT_TRUE(Leftovers(dir / "out").empty()) << label;
            // Nothing of the batch runs on in this test's folder.
            for (const auto& entry : fs::directory_iterator("/proc")) {
                std::error_code ec;
                EXPECT_NE(fs::read_symlink(entry.path() / "cwd", ec), dir.Path())
                    << label << ": process " << entry.path().filename() << " still runs";
            }
        }
    }
}

// On a terminal one line shows the files done and the current file's progress, as the
// importer reports it; into a pipe only the result lines come.
TEST_F(ConvertTest, ProgressShowsOnATerminalOnly)
{
    WriteFile(dir / "a.slow", "0 0 0 1 0 0 0 1 0\n");
    const std::vector<std::string> args = {"--plugin-dir", kFixturePlugins, "a.slow", "a.fx"};
    const Outcome shown = RunProgramOnTerminal(ConvertProgram(), args, dir.Path(),
                                               {"XDG_CONFIG_HOME=" + (dir / "config").string()});
    EXPECT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("[0/1] | a.slow"), std::string::npos) << shown.out;
    // A fraction between the first and the last step arrived while the file was read.
    bool between = false;
    for (std::size_t at = shown.out.find('%'); at != std::string::npos;
         at = shown.out.find('%', at + 1)) {
        const int percent = std::atoi(shown.out.substr(at - 3, 3).c_str());
        between = between || (percent > 0 && percent < 100);
    }
    EXPECT_TRUE(between) << shown.out;
    EXPECT_NE(shown.out.find("1 converted, 0 failed"), std::string::npos) << shown.out;

    const Outcome piped = Convert(args);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ((piped.out + piped.err).find('%'), std::string::npos) << piped.out << piped.err;
    EXPECT_NE(piped.out.find("a.slow -> a.fx"), std::string::npos) << piped.out;
}

TEST_F(ConvertTest, ALongNameGivesWayOnTheProgressLineAndStaysWholeUtf8)
{
    std::string name;
    for (int i = 0; i < 100; ++i)
        name += "\xC3\xA9"; // é
    WriteFile(dir / (name + ".slow"), "0 0 0 1 0 0 0 1 0\n");
    const Outcome shown = RunProgramOnTerminal(
        ConvertProgram(), {"--plugin-dir", kFixturePlugins, name + ".slow", "a.fx"}, dir.Path(),
        {"XDG_CONFIG_HOME=" + (dir / "config").string()});
    EXPECT_EQ(shown.status, 0) << shown.out;
    const std::size_t bar = shown.out.find("[0/1] | ");
    ASSERT_NE(bar, std::string::npos) << shown.out;
    const std::string line = shown.out.substr(bar, shown.out.find('\r', bar) - bar);
    EXPECT_NE(line.find("~ "), std::string::npos) << line; // the name was shortened
    EXPECT_NE(line.find('%'), std::string::npos) << line;
    const QByteArray bytes = QByteArray::fromStdString(shown.out);
    EXPECT_EQ(QString::fromUtf8(bytes).toUtf8(), bytes) << "a character was cut";
}

TEST_F(ConvertTest, ImporterThatEatsMemoryIsStoppedByTheLimit)
{
#if POLYVANT_ASAN_BUILD
    GTEST_SKIP() << "the address space limit is not applied in sanitizer builds";
#endif
    WriteFile(dir / "a.greedy", "");
    const Outcome outcome =
        Convert({"--plugin-dir", kFixturePlugins, "--memory-limit", "256", "a.greedy", "a.fx"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("out of memory"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("256 MiB"), std::string::npos) << outcome.err;
}

TEST_F(ConvertTest, ExistingOutputIsReplacedOnlyOnSuccessAndKeptWithNoClobber)
{
    WriteFile(dir / "kept.stl", "old");
    Outcome outcome = Convert({"--no-clobber", Sample("obj/WusonOBJ.obj"), "kept.stl"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("--no-clobber"), std::string::npos) << outcome.err;
    EXPECT_EQ(ReadFile(dir / "kept.stl"), "old");

    WriteFile(dir / "broken.obj", "f 1 2 3\n");
    outcome = Convert({"broken.obj", "kept.stl"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(ReadFile(dir / "kept.stl"), "old");

    fs::permissions(dir / "kept.stl", fs::perms::owner_read | fs::perms::owner_write);
    outcome = Convert({Sample("obj/WusonOBJ.obj"), "kept.stl"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(fs::file_size(dir / "kept.stl"), 84u + 50u * 3732u);
    EXPECT_EQ(fs::status(dir / "kept.stl").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConvertTest, BatchRefusesTwoInputsThatWouldWriteTheSameOutput)
{
    fs::create_symlink(Sample("obj/WusonOBJ.obj"), dir / "Wuson.obj");
    const Outcome outcome =
        Convert({"--to", "stl", "-o", "out", "Wuson.obj", Sample("off/Wuson.off")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("1 converted, 1 failed"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.err.find("is the output of Wuson.obj"), std::string::npos) << outcome.err;
}

TEST_F(ConvertTest, OptionValuesThatDoNotFitAndNamesNoClassOffersFailTheFile)
{
    fs::create_symlink(Sample("obj/box.obj"), dir / "box.obj");
    Outcome outcome = Convert({"-q", "--option", "format=asci", "box.obj", "a.stl"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("box.obj: STL export options: option format=asci expects one of"),
              std::string::npos)
        << outcome.err;
    outcome = Convert({"-q", "--option=formt=ASCII", "box.obj", "a.stl"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("has an option formt"), std::string::npos) << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "a.stl"));

    outcome = Info({"--option", "format=ASCII", "box.obj"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("no import class used has an option format"), std::string::npos)
        << outcome.err;
}

TEST_F(ConvertTest, OutputsThatAreTheInputOrNotRegularFilesAreRefusedAndLinksFollowed)
{
    WriteFile(dir / "box.obj", ReadFile(Sample("obj/box.obj")));
    const std::string original = ReadFile(dir / "box.obj");
    Outcome outcome = Convert({"--to", "obj", "box.obj", "./box.obj"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("is the input itself"), std::string::npos) << outcome.err;
    EXPECT_EQ(ReadFile(dir / "box.obj"), original);

    ASSERT_EQ(mkfifo((dir / "pipe.stl").c_str(), 0600), 0);
    outcome = Convert({"box.obj", "pipe.stl"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("exists and is not a regular file"), std::string::npos)
        << outcome.err;
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.stl"));

    WriteFile(dir / "target.stl", "old");
    fs::create_symlink("target.stl", dir / "link.stl");
    outcome = Convert({"box.obj", "link.stl"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.stl"));
    EXPECT_EQ(fs::file_size(dir / "target.stl"), 84u + 50u * 12u);
    EXPECT_TRUE(Leftovers(dir.Path()).empty());
}

TEST_F(ConvertTest, RefusedFilesClaimNoOutputAndAFileGivenTwiceIsConvertedOnce)
{
    fs::create_symlink(Sample("obj/spider.obj"), dir / "spider.obj");
    fs::create_symlink(Sample("obj/spider.mtl"), dir / "spider.mtl");
    // What "spider.*" gives: the material library is refused, the model converted.
    Outcome outcome = Convert({"--to", "stl", "-o", "out", "spider.mtl", "spider.obj"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("1 converted, 1 failed"), std::string::npos) << outcome.out;
    EXPECT_TRUE(fs::exists(dir / "out" / "spider.stl"));

    outcome = Convert({"--to=stl", "-oagain", "-j2", "spider.obj", "./spider.obj"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("1 converted, 0 failed"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.err.find("given more than once; converted once"), std::string::npos)
        << outcome.err;
}

TEST_F(ConvertTest, WhatPlugInsPrintStaysOffTheReport)
{
    WriteFile(dir / "a.chatty", "0 0 0  1 0 0  0 1 0\n");
    const Outcome info = Info({"--plugin-dir", kFixturePlugins, "--json", "a.chatty"});
    EXPECT_EQ(info.status, 0) << info.err;
    QJsonParseError error{};
    QJsonDocument::fromJson(QByteArray::fromStdString(info.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << info.out;
    EXPECT_NE(info.err.find("chatter from the plug-in"), std::string::npos) << info.err;

    const Outcome convert = Convert({"--plugin-dir", kFixturePlugins, "a.chatty", "a.fx"});
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(convert.out.find("chatter"), std::string::npos) << convert.out;
}

TEST_F(ConvertTest, StoredExtensionTableIsUsedAndNeverWritten)
{
#ifndef POLYVANT_TOOLS_HAVE_SETTINGS
    GTEST_SKIP() << "built without the viewer, whose settings hold the stored table";
#endif
    const fs::path settings = dir / "config" / "Brellow Soft" / "polyvant.conf";
    fs::create_directories(settings.parent_path());
    const std::string stored = "[Settings]\nclear_flag=1\n\n[Settings%2Fextension]\n"
                               ".mesh=WaveFront (*.obj)\n";
    WriteFile(settings, stored);
    const auto before = fs::last_write_time(settings);
    fs::copy_file(Sample("obj/WusonOBJ.obj"), dir / "model.mesh");

    const Outcome outcome = Convert({"model.mesh", "model.off"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(ReadFile(settings), stored);
    EXPECT_EQ(fs::last_write_time(settings), before);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(settings.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(ConvertTest, AnImportClassGivenByFromLeavesTheStoredTableUnread)
{
#ifndef POLYVANT_TOOLS_HAVE_SETTINGS
    GTEST_SKIP() << "built without the viewer, whose settings hold the stored table";
#endif
    // A settings "file" that is a folder: reading it gives a notice.
    fs::create_directories(dir / "config" / "Brellow Soft" / "polyvant.conf");
    const std::string model = Sample("obj/WusonOBJ.obj");
    Outcome read = Convert({model, "read.stl"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_NE(read.err.find("is unusable"), std::string::npos) << read.err;
    read = Info({model});
    EXPECT_NE(read.err.find("is unusable"), std::string::npos) << read.err;

    Outcome unread = Convert({"--from", "WaveFront", model, "unread.stl"});
    EXPECT_EQ(unread.status, 0) << unread.err;
    EXPECT_EQ(unread.err.find("is unusable"), std::string::npos) << unread.err;
    EXPECT_EQ(ReadFile(dir / "unread.stl"), ReadFile(dir / "read.stl"));
    unread = Info({"--from", "WaveFront", model});
    EXPECT_EQ(unread.status, 0) << unread.err;
    EXPECT_EQ(unread.err.find("is unusable"), std::string::npos) << unread.err;
}

TEST_F(ConvertTest, WithoutStoredSettingsTheDefaultTableOpensObjAsWavefrontAndCreatesNothing)
{
    const Outcome outcome = Convert({Sample("obj/WusonOBJ.obj"), "model.off"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "config"));
}

TEST_F(ConvertTest, UsageErrorsEndWithStatusTwoAndWriteNothing)
{
    const std::vector<std::vector<std::string>> cases = {
        {Sample("obj/WusonOBJ.obj")},
        {"--to", "nosuchformat", Sample("obj/WusonOBJ.obj"), "x.stl"},
        {Sample("obj/WusonOBJ.obj"), "x.unknown"},
        {"-j", "0", Sample("obj/WusonOBJ.obj"), "x.stl"},
        {"--option", "novalue", Sample("obj/WusonOBJ.obj"), "x.stl"},
        {"--bogus", Sample("obj/WusonOBJ.obj"), "x.stl"},
        {"-o", "out", Sample("obj/WusonOBJ.obj")},
    };
    for (const auto& args : cases) {
        const Outcome outcome = Convert(args);
        EXPECT_EQ(outcome.status, 2) << args[0] << " " << args[1];
        EXPECT_FALSE(outcome.err.empty());
    }
    EXPECT_FALSE(fs::exists(dir / "x.stl"));

    WriteFile(dir / "taken", "a file");
    const Outcome outcome = Convert({"--to", "stl", "-o", "taken", Sample("obj/WusonOBJ.obj")});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("cannot make the output directory taken: it exists and is not a "
                               "directory"),
              std::string::npos)
        << outcome.err;
}

TEST_F(ConvertTest, ListNamesImportAndExportClassesWithTheirPatterns)
{
    const Outcome outcome = Convert({"--list"});
    ASSERT_EQ(outcome.status, 0);
    const std::size_t exports = outcome.out.find("Export classes:");
    ASSERT_NE(exports, std::string::npos);
    EXPECT_LT(outcome.out.find("WaveFront (*.obj)"), exports);
    EXPECT_NE(outcome.out.find("STL (*.stl)", exports), std::string::npos);
    EXPECT_EQ(outcome.out.find("POV-Ray Binary (*.pob)", exports), std::string::npos);
}

} // namespace
} // namespace polyvant::tooltest
