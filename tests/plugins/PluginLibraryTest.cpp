#include <ElfCheck.h>
#include <PluginLibrary.h>
#include <cstring>
#include <elf.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "TestSupport.h"
#include "model/SanitizerBuild.h"

namespace polyvant {
namespace {

using test::FixturePath;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Where the last PT_LOAD segment of the image ends in the file.
std::size_t EndOfLoadSegments(const std::string& image)
{
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    std::size_t end = 0;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        std::memcpy(&segment, image.data() + header.e_phoff + i * sizeof segment, sizeof segment);
        if (segment.p_type == PT_LOAD)
            end = std::max<std::size_t>(end, segment.p_offset + segment.p_filesz);
    }
    return end;
}

TEST(PluginLibraryTest, LoadsALibraryWithTheFourEntryPointsAndTheOptionalFifth)
{
    PluginLibrary library(FixturePath("fixture_import.so").c_str());
    ASSERT_EQ(library.GetStatus(), PluginLibrary::kLoaded) << library.Reason();
    EXPECT_STREQ(library.GetPath(), FixturePath("fixture_import.so").c_str());
    EXPECT_NE(library.libName, nullptr);
    EXPECT_NE(library.libNumberClasses, nullptr);
    EXPECT_NE(library.libClassDescription, nullptr);
    EXPECT_EQ(library.libVersion(), 3u);
    EXPECT_NE(library.libSetHostServices, nullptr);
    EXPECT_EQ(library.Reason(), "");
}

TEST(PluginLibraryTest, LoadsALibraryWithoutTheHostServicesEntry)
{
    PluginLibrary library(FixturePath("fixture_duplicate.so").c_str());
    ASSERT_EQ(library.GetStatus(), PluginLibrary::kLoaded) << library.Reason();
    EXPECT_EQ(library.libSetHostServices, nullptr);
}

TEST(PluginLibraryTest, GivesStatus2AndNamesTheMissingEntryPoint)
{
    PluginLibrary library(FixturePath("fixture_missing_entry.so").c_str());
    EXPECT_EQ(library.GetStatus(), PluginLibrary::kEntryMissing);
    EXPECT_NE(library.Reason().find("LibClassDescription"), std::string::npos);
    EXPECT_NE(library.module, nullptr); // stays loaded until destroyed
}

TEST(PluginLibraryTest, LoadsThroughAPathLongerThan260Bytes)
{
    TempDir dir;
    std::string deep = dir.Path();
    while (deep.size() < 400)
        deep += "/a-rather-long-directory-name";
    std::filesystem::create_directories(deep);
    const std::string path = deep + "/long.so";
    std::filesystem::copy_file(FixturePath("fixture_import.so"), path);
    PluginLibrary library(path.c_str());
    EXPECT_EQ(library.GetStatus(), PluginLibrary::kLoaded) << library.Reason();
}

struct DamagedImage {
    const char* label;
    void (*damage)(std::string& image);
    const char* reason;
};

class PluginLibraryRefusal : public testing::TestWithParam<DamagedImage> {};

TEST_P(PluginLibraryRefusal, RefusesTheFileBeforeLoadingIt)
{
    TempDir dir;
    std::string image = ReadFile(FixturePath("fixture_import.so"));
    GetParam().damage(image);
    const std::string path = dir / "damaged.so";
    WriteFile(path, image);
    PluginLibrary library(path.c_str());
    EXPECT_EQ(library.GetStatus(), PluginLibrary::kLoadFailed);
    EXPECT_EQ(library.module, nullptr);
    EXPECT_NE(library.Reason().find(GetParam().reason), std::string::npos) << library.Reason();
}

INSTANTIATE_TEST_SUITE_P(
    DamagedFiles, PluginLibraryRefusal,
    testing::Values(
        DamagedImage{"Text", [](std::string& s) { s = "not a library\n"; }, "not an ELF file"},
        DamagedImage{"Empty", [](std::string& s) { s.clear(); }, "too short"},
        DamagedImage{"Class32", [](std::string& s) { s[EI_CLASS] = ELFCLASS32; }, "64-bit"},
        DamagedImage{"BigEndian", [](std::string& s) { s[EI_DATA] = ELFDATA2MSB; },
                     "little-endian"},
        DamagedImage{"OtherMachine",
                     [](std::string& s) {
                         const std::uint16_t machine = EM_AARCH64;
                         std::memcpy(&s[offsetof(Elf64_Ehdr, e_machine)], &machine, 2);
                     },
                     "another machine"},
        DamagedImage{"Executable",
                     [](std::string& s) {
                         const std::uint16_t type = ET_EXEC;
                         std::memcpy(&s[offsetof(Elf64_Ehdr, e_type)], &type, 2);
                     },
                     "not a shared library"},
        DamagedImage{"HeadersPastTheEnd",
                     [](std::string& s) {
                         const std::uint64_t offset = 0xFFFFFFFFFFFFFF00ull;
                         std::memcpy(&s[offsetof(Elf64_Ehdr, e_phoff)], &offset, 8);
                     },
                     "program headers"},
        DamagedImage{"TruncatedInsideTheCode",
                     [](std::string& s) { s.resize(EndOfLoadSegments(s) / 2); }, "truncated"}),
    [](const auto& test) { return std::string(test.param.label); });

TEST(PluginLibraryTest, RefusesADirectoryAndAMissingFile)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.so");
    PluginLibrary folder((dir / "folder.so").c_str());
    EXPECT_EQ(folder.GetStatus(), PluginLibrary::kLoadFailed);
    EXPECT_NE(folder.Reason().find("not a regular file"), std::string::npos);
    PluginLibrary missing((dir / "missing.so").c_str());
    EXPECT_EQ(missing.GetStatus(), PluginLibrary::kLoadFailed);
    EXPECT_FALSE(missing.Reason().empty());
    PluginLibrary none(nullptr);
    EXPECT_EQ(none.GetStatus(), PluginLibrary::kLoadFailed);
}

// A truncated image mapped by dlopen raises SIGBUS in the loader; each prefix that
// cuts a loadable segment must be refused, each that keeps them all may load.
TEST(PluginLibraryTest, SurvivesEveryTruncationOfAValidLibrary)
{
    const std::string image = ReadFile(FixturePath("fixture_import.so"));
    const std::size_t loadEnd = EndOfLoadSegments(image);
    ASSERT_GT(loadEnd, 4096u);
    std::vector<std::size_t> lengths = {0,  1,   4,           63,      64,
                                        65, 200, loadEnd - 1, loadEnd, image.size()};
    for (int i = 1; i < 48; ++i)
        lengths.push_back(loadEnd * i / 48);
    TempDir dir;
    for (std::size_t length : lengths) {
        const std::string path = dir / ("cut-" + std::to_string(length) + ".so");
        WriteFile(path, image.substr(0, length));
        PluginLibrary library(path.c_str());
        if (length < loadEnd)
            EXPECT_EQ(library.GetStatus(), PluginLibrary::kLoadFailed) << "length " << length;
        else
            EXPECT_EQ(library.GetStatus(), PluginLibrary::kLoaded)
                << "length " << length << ": " << library.Reason();
    }
}

TEST(PluginLibraryTest, RefusesTheTruncatedFixtureAndTheTextFixture)
{
    PluginLibrary truncated(FixturePath("fixture_truncated.so").c_str());
    EXPECT_EQ(truncated.GetStatus(), PluginLibrary::kLoadFailed);
    PluginLibrary text(FixturePath("fixture_not_elf.so").c_str());
    EXPECT_EQ(text.GetStatus(), PluginLibrary::kLoadFailed);
}

} // namespace
} // namespace polyvant

namespace polyvant {
namespace {

TEST(SanitizerCheck, FindsTheRuntimeMarkerAnywhereInTheFileEvenAcrossReadBlocks)
{
    TempDir dir;
    // Straddles the reader's 64 KiB block boundary.
    std::string image(65536 - 5, 'x');
    image += "__asan_init";
    image += std::string(100, 'y');
    WriteFile(dir / "split.so", image);
    EXPECT_TRUE(RefersToAddressSanitizer((dir / "split.so").c_str()));
    WriteFile(dir / "plain.so", std::string(200000, 'z') + "__asan_ini");
    EXPECT_FALSE(RefersToAddressSanitizer((dir / "plain.so").c_str()));
    EXPECT_FALSE(RefersToAddressSanitizer((dir / "missing.so").c_str()));
#if POLYVANT_ASAN_BUILD
    // The test build's fixtures carry the sanitizer, and this host loads them.
    EXPECT_TRUE(RefersToAddressSanitizer(FixturePath("fixture_import.so").c_str()));
    EXPECT_EQ(PluginLibrary(FixturePath("fixture_import.so").c_str()).GetStatus(),
              PluginLibrary::kLoaded);
#endif
}

} // namespace
} // namespace polyvant
