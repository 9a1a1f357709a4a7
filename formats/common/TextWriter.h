#pragma once
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/AtomicFileWriter.h"

namespace polyvant::formats {

// Formats text for exporters into a buffer that goes to an AtomicFileWriter in large
// blocks, or to a string (for a part of a file formatted on another thread). Doubles are
// written in the shortest form that reads back to the same value, so an export reimports
// exactly. Writing to a file never throws; Flush reports the first failure. Writing to a
// string throws std::bad_alloc when memory runs out.
class TextWriter {
public:
    explicit TextWriter(AtomicFileWriter& out) noexcept : sink(&out) {}
    explicit TextWriter(std::string& out) noexcept : text(&out) {}
    ~TextWriter()
    {
        try {
            Flush();
        } catch (...) {
        }
    }
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    void Put(std::string_view chars)
    {
        if (chars.size() > kBufferSize - used) {
            Flush();
            if (chars.size() > kBufferSize) {
                Hand(chars.data(), chars.size());
                return;
            }
        }
        std::char_traits<char>::copy(buffer + used, chars.data(), chars.size());
        used += chars.size();
    }
    void Put(char c)
    {
        Reserve(1);
        buffer[used++] = c;
    }
    void PutDouble(double value)
    {
        Reserve(kMaxNumber);
        // -0.0 would print as "-0": harmless, but plain 0 reads better.
        if (value == 0)
            value = 0;
        used = static_cast<std::size_t>(
            std::to_chars(buffer + used, buffer + kBufferSize, value).ptr - buffer);
    }
    void PutUnsigned(std::uint64_t value)
    {
        Reserve(kMaxNumber);
        used = static_cast<std::size_t>(
            std::to_chars(buffer + used, buffer + kBufferSize, value).ptr - buffer);
    }
    // "<lead>a b c\n": a triangle's three corners, each offset by base.
    void PutTriangleLine(std::string_view lead, const std::uint32_t* corners, std::uint64_t base)
    {
        Put(lead);
        PutUnsigned(base + corners[0]);
        Put(' ');
        PutUnsigned(base + corners[1]);
        Put(' ');
        PutUnsigned(base + corners[2]);
        Put('\n');
    }
    void PutInteger(std::int64_t value)
    {
        Reserve(kMaxNumber);
        used = static_cast<std::size_t>(
            std::to_chars(buffer + used, buffer + kBufferSize, value).ptr - buffer);
    }

    // Bytes handed over so far plus those still buffered.
    std::uint64_t BytesWritten() const noexcept { return flushed + used; }
    // Hands the buffer to the file or string; false once any write failed.
    bool Flush()
    {
        if (used) {
            Hand(buffer, used);
            flushed += used;
            used = 0;
        }
        return ok;
    }

private:
    static constexpr std::size_t kBufferSize = 1 << 16;
    static constexpr std::size_t kMaxNumber = 32; // longest shortest-form double is 24

    void Reserve(std::size_t n)
    {
        if (kBufferSize - used < n)
            Flush();
    }
    void Hand(const char* bytes, std::size_t count)
    {
        if (sink)
            ok = sink->Write(bytes, count) && ok;
        else
            text->append(bytes, count);
    }

    AtomicFileWriter* sink = nullptr;
    std::string* text = nullptr;
    std::size_t used = 0;
    std::uint64_t flushed = 0;
    bool ok = true;
    char buffer[kBufferSize];
};

} // namespace polyvant::formats
