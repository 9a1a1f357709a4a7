#include "ElfCheck.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace polyvant {
namespace {

bool Fail(std::string* reason, const char* text) noexcept
{
    if (reason) {
        try {
            *reason = text;
        } catch (...) {
        }
    }
    return false;
}

bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) noexcept
{
    auto* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// True when [offset, offset + length) lies inside a file of fileSize bytes.
bool InsideFile(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) noexcept
{
    return offset <= fileSize && length <= fileSize - offset;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) noexcept : fd(descriptor) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int fd;
};

} // namespace

bool CheckLoadableElf(const char* path, std::string* reason) noexcept
{
    if (!path)
        return Fail(reason, "no path");
    FileDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        return Fail(reason, std::strerror(errno));
    struct stat info;
    if (fstat(file.fd, &info) != 0)
        return Fail(reason, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return Fail(reason, "not a regular file");
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);

    Elf64_Ehdr header;
    if (fileSize < sizeof header || !ReadAt(file.fd, &header, sizeof header, 0))
        return Fail(reason, "not an ELF file (too short)");
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return Fail(reason, "not an ELF file");
    if (header.e_ident[EI_CLASS] != ELFCLASS64)
        return Fail(reason, "not a 64-bit ELF file");
    if (header.e_ident[EI_DATA] != ELFDATA2LSB)
        return Fail(reason, "not a little-endian ELF file");
    if (header.e_machine != EM_X86_64)
        return Fail(reason, "built for another machine than x86-64");
    if (header.e_type != ET_DYN)
        return Fail(reason, "not a shared library");
    if (header.e_phnum == 0)
        return Fail(reason, "damaged: no program headers");
    if (header.e_phentsize != sizeof(Elf64_Phdr))
        return Fail(reason, "damaged: unexpected program header size");
    const std::uint64_t tableSize = std::uint64_t(header.e_phnum) * sizeof(Elf64_Phdr);
    if (!InsideFile(header.e_phoff, tableSize, fileSize))
        return Fail(reason, "truncated: program headers lie past the end of the file");

    bool anyLoad = false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        if (!ReadAt(file.fd, &segment, sizeof segment, header.e_phoff + i * sizeof segment))
            return Fail(reason, "damaged: program header unreadable");
        if (segment.p_type == PT_LOAD) {
            anyLoad = true;
            if (segment.p_memsz < segment.p_filesz)
                return Fail(reason, "damaged: segment larger in the file than in memory");
        }
        if (segment.p_filesz > 0 && !InsideFile(segment.p_offset, segment.p_filesz, fileSize))
            return Fail(reason, "truncated: a segment lies past the end of the file");
    }
    if (!anyLoad)
        return Fail(reason, "damaged: no loadable segment");
    return true;
}

namespace {

constexpr char kAsanMarker[] = "__asan_init";
constexpr std::size_t kAsanMarkerLength = sizeof kAsanMarker - 1;

// Whether the marker occurs anywhere in the file: the answer for a file whose dynamic
// section cannot be found.
bool FileContainsMarker(int fd) noexcept
{
    // Read in blocks that overlap by the marker's length, so no match is split.
    unsigned char block[1 << 16];
    std::size_t kept = 0;
    for (std::uint64_t offset = 0;;) {
        const ssize_t n = pread(fd, block + kept, sizeof block - kept, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        offset += static_cast<std::uint64_t>(n);
        const std::size_t size = kept + static_cast<std::size_t>(n);
        if (memmem(block, size, kAsanMarker, kAsanMarkerLength))
            return true;
        kept = size < kAsanMarkerLength ? size : kAsanMarkerLength - 1;
        std::memmove(block, block + size - kept, kept);
    }
}

enum class Marker { Absent, Present, Unknown };

// Looks for the marker among the names the library imports: its dynamic string table,
// a few kilobytes, where a whole-file scan reads every plug-in of the directory at each
// start. Unknown when the table cannot be located in the file.
Marker DynamicStringsContainMarker(int fd, std::uint64_t fileSize)
{
    Elf64_Ehdr header;
    if (fileSize < sizeof header || !ReadAt(fd, &header, sizeof header, 0) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0)
        return Marker::Unknown;
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    const std::uint64_t tableSize = segments.size() * sizeof(Elf64_Phdr);
    if (!InsideFile(header.e_phoff, tableSize, fileSize) ||
        !ReadAt(fd, segments.data(), tableSize, header.e_phoff))
        return Marker::Unknown;

    const Elf64_Phdr* dynamic = nullptr;
    for (const Elf64_Phdr& segment : segments) {
        if (segment.p_type == PT_DYNAMIC)
            dynamic = &segment;
    }
    constexpr std::uint64_t kMaxDynamic = 1 << 16;
    if (!dynamic || dynamic->p_filesz > kMaxDynamic ||
        !InsideFile(dynamic->p_offset, dynamic->p_filesz, fileSize))
        return Marker::Unknown;
    std::vector<Elf64_Dyn> entries(dynamic->p_filesz / sizeof(Elf64_Dyn));
    if (!ReadAt(fd, entries.data(), entries.size() * sizeof(Elf64_Dyn), dynamic->p_offset))
        return Marker::Unknown;
    std::uint64_t address = 0, size = 0;
    bool haveAddress = false, haveSize = false;
    for (const Elf64_Dyn& entry : entries) {
        if (entry.d_tag == DT_NULL)
            break;
        if (entry.d_tag == DT_STRTAB)
            address = entry.d_un.d_ptr, haveAddress = true;
        else if (entry.d_tag == DT_STRSZ)
            size = entry.d_un.d_val, haveSize = true;
    }
    constexpr std::uint64_t kMaxStrings = 16 << 20;
    if (!haveAddress || !haveSize || size > kMaxStrings)
        return Marker::Unknown;

    // The table is named by its address once loaded; the segment holding it gives its
    // place in the file.
    for (const Elf64_Phdr& segment : segments) {
        if (segment.p_type != PT_LOAD || address < segment.p_vaddr ||
            address - segment.p_vaddr >= segment.p_filesz ||
            size > segment.p_filesz - (address - segment.p_vaddr))
            continue;
        if (!InsideFile(segment.p_offset, segment.p_filesz, fileSize))
            return Marker::Unknown;
        const std::uint64_t offset = segment.p_offset + (address - segment.p_vaddr);
        std::vector<char> strings(size);
        if (!ReadAt(fd, strings.data(), strings.size(), offset))
            return Marker::Unknown;
        return memmem(strings.data(), strings.size(), kAsanMarker, kAsanMarkerLength)
                   ? Marker::Present
                   : Marker::Absent;
    }
    return Marker::Unknown;
}

} // namespace

bool RefersToAddressSanitizer(const char* path) noexcept
{
    FileDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (file.fd < 0 || fstat(file.fd, &info) != 0)
        return false;
    try {
        const Marker marker =
            DynamicStringsContainMarker(file.fd, static_cast<std::uint64_t>(info.st_size));
        if (marker != Marker::Unknown)
            return marker == Marker::Present;
    } catch (...) { // out of memory for the tables: look the slow way
    }
    return FileContainsMarker(file.fd);
}

} // namespace polyvant
