#include "common/TextScan.h"

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
