#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace polyvant::formats {

// Writes a file through a temporary file in the target's directory, in large blocks,
// and renames it over the target only on Commit: a failed or abandoned export never
// leaves a half file and never destroys an existing one. The destructor abandons an
// uncommitted file.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool Open(const char* targetPath, std::string& error);
    // False once any write failed (disk full, ...); the error is kept for Commit.
    bool Write(const void* bytes, std::size_t count) noexcept;
    bool Write(std::string_view text) noexcept { return Write(text.data(), text.size()); }
    // Flushes, syncs (unless the host flushes exports itself) and renames over the
    // target; false with a message on failure.
    bool Commit(std::string& error);
    void Abandon() noexcept;

private:
    // implementation detail: buffer, fd, temporary and target paths, first error
    struct State;
    State* state = nullptr;
};

} // namespace polyvant::formats
