#include "common/MappedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace polyvant::formats {

namespace {
const char kEmpty[1] = {0};
} // namespace

MappedFile::~MappedFile()
{
    if (mapping)
        munmap(mapping, size);
}

bool MappedFile::Open(const char* path, std::string& error)
{
    if (mapping) {
        munmap(mapping, size);
        mapping = nullptr;
    }
    data = nullptr;
    size = 0;
    if (!path || !*path) {
        error = "no file name given";
        return false;
    }
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = std::string("cannot read: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // A FIFO would block and a device could be endless: only plain files are models.
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "is a directory, not a file" : "is not a regular file";
        ::close(fd);
        return false;
    }
    if (st.st_size == 0) {
        ::close(fd);
        data = kEmpty;
        return true;
    }
    const auto length = static_cast<std::size_t>(st.st_size);
    void* p = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapErrno = errno;
    ::close(fd);
    if (p == MAP_FAILED) {
        error = std::string("cannot map: ") + std::strerror(mapErrno);
        return false;
    }
    // Advice values are not flags: give both.
    madvise(p, length, MADV_SEQUENTIAL);
    madvise(p, length, MADV_WILLNEED);
    mapping = p;
    data = static_cast<const char*>(p);
    size = length;
    return true;
}

bool MappedFile::ConvertLoneCarriageReturns() noexcept
{
    if (!mapping || converted)
        return false;
    const char* end = data + size;
    const char* lf = static_cast<const char*>(std::memchr(data, '\n', size));
    const char* firstLineEnd = lf ? lf : end;
    const char* cr = static_cast<const char*>(
        std::memchr(data, '\r', static_cast<std::size_t>(firstLineEnd - data)));
    if (!cr || (cr + 1 != end && cr[1] == '\n'))
        return false;
    if (mprotect(mapping, size, PROT_READ | PROT_WRITE) != 0)
        return false;
    converted = true;
    char* text = static_cast<char*>(mapping);
    for (char* p = text + (cr - data); p != text + size; ++p) {
        p = static_cast<char*>(std::memchr(p, '\r', static_cast<std::size_t>(text + size - p)));
        if (!p)
            break;
        if (p + 1 == text + size || p[1] != '\n')
            *p = '\n';
    }
    mprotect(mapping, size, PROT_READ);
    return true;
}

void MappedFile::ReleaseBefore(const char* p) noexcept
{
    if (!mapping || converted || p <= data || p > data + size)
        return;
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t end = static_cast<std::size_t>(p - data) / page * page;
    if (end <= released)
        return;
    // The mapping is private and read-only: dropping its pages loses nothing.
    madvise(static_cast<char*>(mapping) + released, end - released, MADV_DONTNEED);
    released = end;
}

} // namespace polyvant::formats
