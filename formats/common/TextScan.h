#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fast_float/fast_float.h>
#include <string>
#include <string_view>
#include <system_error>

// Scanning text model files in place: lines, words and numbers over [p, end), never
// reading past end, and the error texts that name the file and the line or offset.

namespace polyvant::formats {

// "file: line N: what" and "file: offset N: what".
std::string LineMessage(std::string_view file, std::size_t line, std::string_view what);
std::string OffsetMessage(std::string_view file, std::uint64_t offset, std::string_view what);

// Coordinates beyond this magnitude are refused: they are garbage in every model
// and overflow the viewer's arithmetic.
constexpr double kMaxCoordinate = 1e30;

enum class NumberError {
    kNone,
    kMissing,   // no number at p
    kNotFinite, // nan, inf, or an overflow such as 1e309
    kTooLarge,  // finite but beyond kMaxCoordinate
};

// Text for a NumberError, e.g. "expected a number".
const char* NumberErrorText(NumberError error) noexcept;

namespace detail {

// Value of the leading digits of 8 bytes (first byte lowest) and how many there are:
// the digits are found and combined with a few multiplications instead of a branch
// per digit, which mispredicts at the end of every number.
inline std::uint32_t EightDigits(const char* p, int& count) noexcept
{
    std::uint64_t chunk;
    std::memcpy(&chunk, p, 8);
    const std::uint64_t value = chunk - 0x3030303030303030ull;
    // A byte below '0' borrows (high bit set), one above '9' reaches 0x80 when 0x76 is
    // added. Borrows and carries only move to later bytes, past the first non-digit.
    const std::uint64_t nonDigit =
        (value | (value + 0x7676767676767676ull)) & 0x8080808080808080ull;
    count = nonDigit ? __builtin_ctzll(nonDigit) >> 3 : 8;
    if (count == 0)
        return 0;
    // Keep the digits, as the high bytes, behind zeros: "123" reads as "00000123".
    std::uint64_t v = value << (8 * (8 - count));
    v = v * 10 + (v >> 8);
    v = (((v & 0x000000FF000000FFull) * 0x000F424000000064ull) +
         (((v >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >>
        32;
    return static_cast<std::uint32_t>(v);
}

// The shape most writers use, "-12.345678" (at most 15 digits, no exponent), without
// the general parser: the digits make an exact integer m and the value is m / 10^f,
// two exact doubles whose quotient IEEE arithmetic rounds correctly, which is the
// value the general parser returns as well. Loads eight bytes at a time, so it needs 18
// readable bytes from p on (up to `readable`, which may lie past `end`); the number
// itself must end by `end`. Null for anything else.
inline const char* ParseShortDecimal(const char* p, const char* end, const char* readable,
                                     double& value) noexcept
{
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    const char* q = p;
    const bool negative = q != end && *q == '-';
    q += negative;
    if (readable - q < 18)
        return nullptr;
    int whole;
    const std::uint64_t integer = EightDigits(q, whole);
    if (whole == 8)
        return nullptr;
    q += whole;
    int fractional = 0;
    std::uint64_t m = integer;
    if (*q == '.') {
        ++q;
        const std::uint32_t fraction = EightDigits(q, fractional);
        if (fractional == 8)
            return nullptr;
        q += fractional;
        m = integer * static_cast<std::uint64_t>(kPowers[fractional]) + fraction;
    }
    if (whole + fractional == 0 || *q == 'e' || *q == 'E' || q > end)
        return nullptr;
    const double v = static_cast<double>(m) / kPowers[fractional];
    value = negative ? -v : v;
    return q;
}

} // namespace detail

// What a reader passes to ParseCoordinate for its numbers in a row: how far the buffer
// may be read past a line's end, and how the file writes its numbers. A file of long
// numbers (shortest-exact doubles) stops trying the short path after a few misses and
// tries again now and then, so that it costs such a file nothing.
struct NumberRun {
    explicit NumberRun(const char* bufferEnd) noexcept : readable(bufferEnd) {}
    const char* readable;
    unsigned misses = 0;
};

// Parses a decimal number (an optional sign, digits, fraction, exponent) starting at
// p; on success stores it, returns the first byte after it. On failure returns
// nullptr and sets `error`. Does not skip leading blanks. Refuses non-finite values
// and |x| > kMaxCoordinate. Inline: it is the hot path of every text reader.
inline const char* ParseCoordinate(const char* p, const char* end, double& value,
                                   NumberError& error, NumberRun* run = nullptr) noexcept
{
    constexpr unsigned kTries = 16, kSkips = 1024;
    // fast_float takes no leading '+', which some writers put there.
    const char* q = p;
    if (q != end && *q == '+' && end - q > 1 && q[1] != '-' && q[1] != '+')
        ++q;
    if (!run || run->misses < kTries) {
        if (const char* shortEnd =
                detail::ParseShortDecimal(q, end, run ? run->readable : end, value)) {
            if (run)
                run->misses = 0;
            return shortEnd;
        }
        if (run)
            ++run->misses;
    } else if (++run->misses == kTries + kSkips) {
        run->misses = 0;
    }
    double v;
    const auto r = fast_float::from_chars(q, end, v);
    if (r.ec == std::errc::invalid_argument || r.ptr == q) {
        error = NumberError::kMissing;
        return nullptr;
    }
    // An underflow to zero is harmless; an overflow (1e309), nan and inf are not numbers.
    if (!std::isfinite(v)) {
        error = NumberError::kNotFinite;
        return nullptr;
    }
    if (std::fabs(v) > kMaxCoordinate) {
        error = NumberError::kTooLarge;
        return nullptr;
    }
    value = v;
    return r.ptr;
}

// A decimal integer with optional sign; nullptr when there is none or it does not fit.
inline const char* ParseInteger(const char* p, const char* end, std::int64_t& value) noexcept
{
    const char* q = p;
    bool negative = false;
    if (q != end && (*q == '-' || *q == '+'))
        negative = *q++ == '-';
    const char* digits = q;
    std::uint64_t v = 0;
    // Up to 16 digits eight at a time while 8 bytes remain (no overflow possible).
    while (end - q >= 8 && q - digits < 16) {
        int count;
        const std::uint32_t chunk = detail::EightDigits(q, count);
        static constexpr std::uint32_t kScale[] = {1,      10,      100,      1000,     10000,
                                                   100000, 1000000, 10000000, 100000000};
        v = v * kScale[count] + chunk;
        q += count;
        if (count < 8)
            break;
    }
    // The tail near the end of the buffer, and long numbers, digit by digit.
    while (q != end && static_cast<unsigned>(*q - '0') < 10u) {
        const unsigned d = static_cast<unsigned>(*q - '0');
        if (q - digits >= 18 && v > (static_cast<std::uint64_t>(INT64_MAX) - d) / 10)
            return nullptr;
        v = v * 10 + d;
        ++q;
    }
    if (q == digits)
        return nullptr;
    value = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
    return q;
}

// Blanks within a line: space, tab, vertical tab, form feed and CR (so CRLF ends and a
// stray CR are harmless).
inline bool IsBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline const char* SkipBlanks(const char* p, const char* end) noexcept
{
    while (p != end && IsBlank(*p))
        ++p;
    return p;
}

inline const char* SkipWord(const char* p, const char* end) noexcept
{
    while (p != end && !IsBlank(*p))
        ++p;
    return p;
}

// End of the line content, before trailing blanks (and a CR).
inline const char* TrimEnd(const char* begin, const char* end) noexcept
{
    while (end != begin && IsBlank(end[-1]))
        --end;
    return end;
}

// Walks the lines of a buffer: LF or CRLF ends (a CR stays at the end of the line and
// counts as a blank), a missing final newline is fine. Line numbers start at 1.
class LineCursor {
public:
    LineCursor(const char* begin, const char* end) noexcept : start(begin), next(begin), stop(end)
    {
    }

    // The next line without its LF; false at the end of the buffer.
    bool Next(const char*& lineBegin, const char*& lineEnd) noexcept
    {
        if (next == stop)
            return false;
        lineBegin = next;
        const void* lf = std::memchr(next, '\n', static_cast<std::size_t>(stop - next));
        if (lf) {
            lineEnd = static_cast<const char*>(lf);
            next = lineEnd + 1;
        } else {
            lineEnd = stop;
            next = stop;
        }
        ++line;
        return true;
    }

    // Number of the line last returned by Next (0 before the first).
    std::size_t Line() const noexcept { return line; }
    // Offset of the first byte not yet returned.
    std::size_t Offset() const noexcept { return static_cast<std::size_t>(next - start); }
    std::size_t Size() const noexcept { return static_cast<std::size_t>(stop - start); }

private:
    const char* start;
    const char* next;
    const char* stop;
    std::size_t line = 0;
};

// Words of a header line, for printing in messages: at most `limit` bytes, control
// bytes shown as '?'.
std::string Printable(const char* begin, const char* end, std::size_t limit = 40);

} // namespace polyvant::formats
