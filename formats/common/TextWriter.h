#pragma once
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/AtomicFileWriter.h"

namespace polyvant::formats {

// Formats text for exporters into a buffer that goes to an AtomicFileWriter in large
// blocks. Doubles are written in the shortest form that reads back to the same value,
// so an export reimports exactly. Writing never throws; Finish reports the first
// failure.
class TextWriter {
public:
    explicit TextWriter(AtomicFileWriter& out) noexcept : sink(out) {}
    ~TextWriter() { Flush(); }
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    void Put(std::string_view text) noexcept
    {
        if (text.size() > kBufferSize - used) {
            Flush();
            if (text.size() > kBufferSize) {
                ok = sink.Write(text) && ok;
                return;
            }
        }
        std::char_traits<char>::copy(buffer + used, text.data(), text.size());
        used += text.size();
    }
    void Put(char c) noexcept
    {
        Reserve(1);
        buffer[used++] = c;
    }
    void PutDouble(double value) noexcept
    {
        Reserve(kMaxNumber);
        // -0.0 would print as "-0": harmless, but plain 0 reads better.
        if (value == 0)
            value = 0;
        used = static_cast<std::size_t>(
            std::to_chars(buffer + used, buffer + kBufferSize, value).ptr - buffer);
    }
    void PutUnsigned(std::uint64_t value) noexcept
    {
        Reserve(kMaxNumber);
        used = static_cast<std::size_t>(
            std::to_chars(buffer + used, buffer + kBufferSize, value).ptr - buffer);
    }
    void PutInteger(std::int64_t value) noexcept
    {
        Reserve(kMaxNumber);
        used = static_cast<std::size_t>(
            std::to_chars(buffer + used, buffer + kBufferSize, value).ptr - buffer);
    }

    // Bytes handed over so far plus those still buffered.
    std::uint64_t BytesWritten() const noexcept { return flushed + used; }
    // Hands the buffer to the file; false once any write failed.
    bool Flush() noexcept
    {
        if (used) {
            ok = sink.Write(buffer, used) && ok;
            flushed += used;
            used = 0;
        }
        return ok;
    }

private:
    static constexpr std::size_t kBufferSize = 1 << 16;
    static constexpr std::size_t kMaxNumber = 32; // longest shortest-form double is 24

    void Reserve(std::size_t n) noexcept
    {
        if (kBufferSize - used < n)
            Flush();
    }

    AtomicFileWriter& sink;
    std::size_t used = 0;
    std::uint64_t flushed = 0;
    bool ok = true;
    char buffer[kBufferSize];
};

} // namespace polyvant::formats
