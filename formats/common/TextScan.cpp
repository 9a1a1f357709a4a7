#include "common/TextScan.h"

#include <charconv>
#include <cmath>
#include <fast_float/fast_float.h>

namespace polyvant::formats {

std::string LineMessage(std::string_view file, std::size_t line, std::string_view what)
{
    std::string text(file);
    text += ": line ";
    text += std::to_string(line);
    text += ": ";
    text += what;
    return text;
}

std::string OffsetMessage(std::string_view file, std::uint64_t offset, std::string_view what)
{
    std::string text(file);
    text += ": offset ";
    text += std::to_string(offset);
    text += ": ";
    text += what;
    return text;
}

const char* NumberErrorText(NumberError error) noexcept
{
    switch (error) {
    case NumberError::kNone:
        return "no error";
    case NumberError::kMissing:
        return "expected a number";
    case NumberError::kNotFinite:
        return "number is not finite";
    case NumberError::kTooLarge:
        return "number is too large (beyond 1e30)";
    }
    return "bad number";
}

const char* ParseCoordinate(const char* p, const char* end, double& value,
                            NumberError& error) noexcept
{
    // fast_float takes no leading '+', which some writers put there.
    const char* q = p;
    if (q != end && *q == '+' && end - q > 1 && *(q + 1) != '-' && *(q + 1) != '+')
        ++q;
    double v;
    const auto r = fast_float::from_chars(q, end, v);
    if (r.ec == std::errc::invalid_argument || r.ptr == q) {
        error = NumberError::kMissing;
        return nullptr;
    }
    if (r.ec == std::errc::result_out_of_range) {
        // Underflow to zero is harmless; overflow is not a number.
        if (std::isfinite(v) && std::fabs(v) <= kMaxCoordinate) {
            value = v;
            return r.ptr;
        }
        error = NumberError::kNotFinite;
        return nullptr;
    }
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

const char* ParseInteger(const char* p, const char* end, std::int64_t& value) noexcept
{
    const char* q = p;
    if (q != end && *q == '+' && end - q > 1 && *(q + 1) >= '0' && *(q + 1) <= '9')
        ++q;
    const auto r = std::from_chars(q, end, value);
    if (r.ec != std::errc() || r.ptr == q)
        return nullptr;
    return r.ptr;
}

std::string Printable(const char* begin, const char* end, std::size_t limit)
{
    std::string text;
    for (const char* p = begin; p != end && text.size() < limit; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        text += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
    }
    if (static_cast<std::size_t>(end - begin) > limit)
        text += "...";
    return text;
}

} // namespace polyvant::formats
