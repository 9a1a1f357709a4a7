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

// A shared object of one loadable segment whose dynamic section names a string table
// holding `strings`; `tail` follows the table in the file, outside it.
std::string LibraryImage(const std::string& strings, const std::string& tail,
                         std::uint64_t tableAddressShift = 0)
{
    constexpr std::uint64_t kBase = 0x10000;
    const std::size_t phoff = sizeof(Elf64_Ehdr);
    const std::size_t dynoff = phoff + 2 * sizeof(Elf64_Phdr);
    const std::size_t stroff = dynoff + 3 * sizeof(Elf64_Dyn);
    const std::size_t total = stroff + strings.size() + tail.size();

    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    header.e_machine = EM_X86_64;
    header.e_version = EV_CURRENT;
    header.e_phoff = phoff;
    header.e_ehsize = sizeof header;
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = 2;
    Elf64_Phdr load{};
    load.p_type = PT_LOAD;
    load.p_vaddr = kBase;
    load.p_filesz = load.p_memsz = total;
    Elf64_Phdr dynamic{};
    dynamic.p_type = PT_DYNAMIC;
    dynamic.p_offset = dynoff;
    dynamic.p_vaddr = kBase + dynoff;
    dynamic.p_filesz = dynamic.p_memsz = 3 * sizeof(Elf64_Dyn);
    Elf64_Dyn entries[3]{};
    entries[0].d_tag = DT_STRTAB;
    entries[0].d_un.d_ptr = kBase + stroff + tableAddressShift;
    entries[1].d_tag = DT_STRSZ;
    entries[1].d_un.d_val = strings.size();
    entries[2].d_tag = DT_NULL;

    std::string image(reinterpret_cast<const char*>(&header), sizeof header);
    image.append(reinterpret_cast<const char*>(&load), sizeof load);
    image.append(reinterpret_cast<const char*>(&dynamic), sizeof dynamic);
    image.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return image + strings + tail;
}

TEST(SanitizerCheck, LooksAmongTheNamesALibraryImports)
{
    TempDir dir;
    using namespace std::string_literals;
    const std::string imports = "\0libc.so.6\0malloc\0"s;
    WriteFile(dir / "uses.so", LibraryImage(imports + "__asan_init\0"s, ""));
    EXPECT_TRUE(RefersToAddressSanitizer((dir / "uses.so").c_str()));
    // Text elsewhere in the file, a message say, does not make it a sanitizer build.
    WriteFile(dir / "mentions.so", LibraryImage(imports, "see __asan_init"));
    EXPECT_FALSE(RefersToAddressSanitizer((dir / "mentions.so").c_str()));
    // A table that lies outside the file's segments: the whole file is searched instead.
    WriteFile(dir / "lost.so", LibraryImage(imports, "__asan_init", 1 << 20));
    EXPECT_TRUE(RefersToAddressSanitizer((dir / "lost.so").c_str()));
    WriteFile(dir / "lost-clean.so", LibraryImage(imports, "", 1 << 20));
    EXPECT_FALSE(RefersToAddressSanitizer((dir / "lost-clean.so").c_str()));
    // Every truncation of an image is answered without reading past its end.
    const std::string whole = LibraryImage(imports + "__asan_init\0"s, "");
    for (std::size_t size = 0; size < whole.size(); ++size) {
        WriteFile(dir / "cut.so", whole.substr(0, size));
        EXPECT_EQ(RefersToAddressSanitizer((dir / "cut.so").c_str()),
                  whole.substr(0, size).find("__asan_init") != std::string::npos)
            << size;
    }
}

TEST(SanitizerCheck, SearchesAFileThatIsNoLibraryThroughoutEvenAcrossReadBlocks)
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
