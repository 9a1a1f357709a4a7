#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <polyvant/PluginHost.h>

#include "FormatTestSupport.h"
#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/OrderedText.h"
#include "common/TextScan.h"
#include "common/TextWriter.h"

// Every fsync of this test program is counted, then done.
static int g_fsyncs = 0;
extern "C" int fsync(int fd)
{
    ++g_fsyncs;
    return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace polyvant::formats {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(MappedFile, MapsARegularFileAndAnEmptyOne)
{
    TempDir dir;
    WriteBytes(dir.File("a"), "hello");
    WriteBytes(dir.File("empty"), "");
    MappedFile a, empty;
    std::string error;
    ASSERT_TRUE(a.Open(dir.File("a").c_str(), error)) << error;
    EXPECT_EQ(std::string(a.Data(), a.Size()), "hello");
    ASSERT_TRUE(empty.Open(dir.File("empty").c_str(), error)) << error;
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_NE(empty.Data(), nullptr);
}

// Resident kilobytes of the mapping that starts at `start`, from /proc/self/smaps.
long ResidentKiB(const void* start)
{
    std::ifstream smaps("/proc/self/smaps");
    std::ostringstream wanted;
    wanted << std::hex << reinterpret_cast<std::uintptr_t>(start) << '-';
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        if (line.rfind(wanted.str(), 0) == 0)
            inside = true;
        else if (inside && line.rfind("Rss:", 0) == 0)
            return std::stol(line.substr(4));
    }
    return -1;
}

TEST(MappedFile, ReleasedPagesLeaveMemoryAndReadBackUnchanged)
{
    TempDir dir;
    std::string bytes(4 << 20, '\0');
    std::mt19937 random(7);
    for (char& c : bytes)
        c = static_cast<char>(random());
    WriteBytes(dir.File("big"), bytes);
    MappedFile file;
    std::string error;
    ASSERT_TRUE(file.Open(dir.File("big").c_str(), error)) << error;
    ASSERT_EQ(std::memcmp(file.Data(), bytes.data(), bytes.size()), 0); // all pages in
    const long before = ResidentKiB(file.Data());
    ASSERT_GE(before, 4000);
    file.ReleaseBefore(file.Data() + (3 << 20) + 100);
    EXPECT_LE(ResidentKiB(file.Data()), before - 3000);
    file.ReleaseBefore(file.Data() - 1);                // outside: ignored
    file.ReleaseBefore(file.Data() + bytes.size() + 1); // outside: ignored
    EXPECT_EQ(std::memcmp(file.Data(), bytes.data(), bytes.size()), 0);
}

TEST(MappedFile, LinesEndedByCrAloneBecomeLfInMemoryOnly)
{
    TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"v 1\rv 2\r\rf 1\r", "v 1\nv 2\n\nf 1\n"},
        {"one line\r", "one line\n"},
        {"a\rb\r\nc", "a\nb\r\nc"},     // a later CRLF stays
        {"a\r\nb\rc\n", "a\r\nb\rc\n"}, // CRLF first: not converted
        {"a\nb\rc\n", "a\nb\rc\n"},     // LF first: not converted
        {"no line end", "no line end"},
        {"", ""},
        {std::string(5000, 'x') + "\r" + std::string(9000, 'y') + "\r",
         std::string(5000, 'x') + "\n" + std::string(9000, 'y') + "\n"}, // pages let go
    };
    for (const auto& [written, read] : cases) {
        WriteBytes(dir.File("t"), written);
        MappedFile file;
        std::string error;
        ASSERT_TRUE(file.Open(dir.File("t").c_str(), error)) << error;
        EXPECT_EQ(file.ConvertLoneCarriageReturns(), written != read);
        EXPECT_EQ(std::string(file.Data(), file.Size()), read);
        file.ReleaseBefore(file.Data() + file.Size()); // must not bring the CRs back
        EXPECT_EQ(std::string(file.Data(), file.Size()), read);
        EXPECT_EQ(ReadBytes(dir.File("t")), written);
    }
}

TEST(FormatInOrder, GivesTheSingleThreadTextForEveryCount)
{
    const auto format = [](std::uint64_t first, std::uint64_t last, TextWriter& out) {
        for (std::uint64_t i = first; i < last; ++i) {
            out.PutDouble(double(i) / 7.0);
            out.Put('\n');
        }
    };
    for (std::uint64_t count : {0, 1, 9, 10, 11, 20, 21, 57, 1000}) {
        std::string single;
        {
            TextWriter w(single);
            format(0, count, w);
        }
        std::string ordered;
        std::uint64_t lastDone = 0;
        FormatInOrder(
            count, format,
            [&](const std::string& text, std::uint64_t done) {
                EXPECT_GT(done, lastDone);
                lastDone = done;
                ordered += text;
            },
            10);
        EXPECT_EQ(ordered, single) << count;
        EXPECT_EQ(lastDone, count);
    }
}

TEST(FormatInOrder, AFailureOnEitherThreadReachesTheCaller)
{
    for (std::uint64_t bad : {5, 15, 95}) { // chunks 0 and 1 (helper), and a late one
        std::string text;
        const auto format = [bad](std::uint64_t first, std::uint64_t last, TextWriter& out) {
            for (std::uint64_t i = first; i < last; ++i) {
                if (i == bad)
                    throw std::runtime_error("item " + std::to_string(i));
                out.PutUnsigned(i);
            }
        };
        try {
            FormatInOrder(
                100, format, [&](const std::string& t, std::uint64_t) { text += t; }, 10);
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "item " + std::to_string(bad));
        }
    }
}

TEST(MappedFile, RefusesMissingFilesDirectoriesAndFifos)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    MappedFile f;
    std::string error;
    EXPECT_FALSE(f.Open(dir.File("missing").c_str(), error));
    EXPECT_EQ(error, "cannot open: No such file or directory");
    EXPECT_FALSE(f.Open(dir.Path().c_str(), error));
    EXPECT_NE(error.find("directory"), std::string::npos);
    EXPECT_FALSE(f.Open(dir.File("fifo").c_str(), error)); // must not block
    EXPECT_EQ(error, "is not a regular file");
    EXPECT_FALSE(f.Open("/dev/zero", error));
}

TEST(AtomicFileWriter, ReplacesTheTargetOnlyOnCommit)
{
    TempDir dir;
    const std::string target = dir.File("out.txt");
    WriteBytes(target, "old contents");
    chmod(target.c_str(), 0640);
    {
        AtomicFileWriter w;
        std::string error;
        ASSERT_TRUE(w.Open(target.c_str(), error)) << error;
        w.Write("new");
        EXPECT_EQ(ReadBytes(target), "old contents");
        ASSERT_TRUE(w.Commit(error)) << error;
    }
    EXPECT_EQ(ReadBytes(target), "new");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // the replaced file keeps its permissions
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.txt"});
}

TEST(AtomicFileWriter, AbandonedWritesLeaveTheOldFileAndNoTemporary)
{
    TempDir dir;
    const std::string target = dir.File("keep.txt");
    WriteBytes(target, "precious");
    {
        AtomicFileWriter w;
        std::string error;
        ASSERT_TRUE(w.Open(target.c_str(), error));
        std::string big(3 << 20, 'x'); // beyond the buffer: really on disk
        w.Write(big);
    } // destroyed without Commit
    EXPECT_EQ(ReadBytes(target), "precious");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"keep.txt"});
}

// A host that flushes exported files itself, many at once, spares the writer its own
// flush; only a table that is new enough and long enough can say so.
TEST(AtomicFileWriter, LeavesTheFlushToAHostThatSaysItFlushesExports)
{
    TempDir dir;
    test::HostRecorder host;
    PvHostServices table = *host.Table();
    const std::string target = dir.File("out.stl");
    const auto flushes = [&](const char* text, const PvHostServices* with) {
        HostLink::Accept(with);
        const int before = g_fsyncs;
        AtomicFileWriter w;
        std::string error;
        EXPECT_TRUE(w.Open(target.c_str(), error)) << error;
        w.Write(text);
        EXPECT_TRUE(w.Commit(error)) << error;
        EXPECT_EQ(ReadBytes(target), text);
        return g_fsyncs - before;
    };
    EXPECT_EQ(flushes("no flags", &table), 1);
    table.flags = PV_HOST_FLUSHES_EXPORTS;
    EXPECT_EQ(flushes("flushed by the host", &table), 0);
    table.version = 1;
    EXPECT_EQ(flushes("a version 1 table has no flags", &table), 1);
    table.version = kHostServicesVersion;
    table.size = offsetof(PvHostServices, flags);
    EXPECT_EQ(flushes("a table too short for the flags", &table), 1);
    EXPECT_EQ(flushes("no host", nullptr), 1);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.stl"});
}

TEST(AtomicFileWriter, ReportsTargetsThatCannotBeWritten)
{
    TempDir dir;
    AtomicFileWriter w;
    std::string error;
    EXPECT_FALSE(w.Open(dir.File("no/such/folder/x.obj").c_str(), error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(w.Open(dir.Path().c_str(), error));
    EXPECT_FALSE(w.Open("/dev/null", error));
}

TEST(TextWriter, DoublesReadBackBitForBit)
{
    TempDir dir;
    std::mt19937_64 random(7);
    std::vector<double> values = {0.0,  -0.0,  1.0 / 3, 1e-300,       5e-324,
                                  1e30, -1e30, 0.1,     123456789.125};
    for (int i = 0; i < 20000; ++i) {
        double v;
        std::uint64_t bits = random();
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v) && std::fabs(v) <= 1e30)
            values.push_back(v);
    }
    {
        AtomicFileWriter out;
        std::string error;
        ASSERT_TRUE(out.Open(dir.File("n.txt").c_str(), error));
        TextWriter w(out);
        for (double v : values) {
            w.PutDouble(v);
            w.Put('\n');
        }
        ASSERT_TRUE(w.Flush());
        ASSERT_TRUE(out.Commit(error)) << error;
    }
    const std::string text = ReadBytes(dir.File("n.txt"));
    const char* p = text.data();
    const char* end = p + text.size();
    for (double expected : values) {
        double v;
        NumberError e;
        p = ParseCoordinate(p, end, v, e);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(v, expected == 0 ? 0.0 : expected);
        ++p;
    }
}

} // namespace
} // namespace polyvant::formats
