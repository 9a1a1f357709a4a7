#pragma once
#include <cstddef>
#include <string>

namespace polyvant::formats {

// A whole file mapped read-only (an empty file maps to size 0, data non-null).
// Only regular files are opened: a directory, FIFO or device is refused.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False with a message ("cannot open: No such file or directory") on failure.
    bool Open(const char* path, std::string& error);
    const char* Data() const noexcept { return data; }
    std::size_t Size() const noexcept { return size; }
    // A reader that has passed p for good lets the pages before it go from memory (they
    // stay readable: touching them again reads them back). Keeps the peak memory of a big
    // import near its arrays instead of arrays plus file.
    void ReleaseBefore(const char* p) noexcept;
    // Text from old Macintosh systems ends its lines with a CR alone, and the text readers
    // split lines at LF. When the first line ends so, every lone CR becomes an LF in this
    // process's copy of the pages (the file is untouched); LF and CRLF text stays as it
    // is. Only for files known to be text: a binary one would be changed. True when
    // converted.
    bool ConvertLoneCarriageReturns() noexcept;

private:
    const char* data = nullptr;
    std::size_t size = 0;
    void* mapping = nullptr;
    std::size_t released = 0; // bytes from the start already let go
    bool converted = false;   // pages written: letting them go would bring back the CRs
};

} // namespace polyvant::formats
