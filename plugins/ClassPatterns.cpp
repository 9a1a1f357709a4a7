#include "ClassPatterns.h"

#include <cctype>

namespace polyvant {
namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool PatternCharacter(char c) noexcept
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
}

} // namespace

std::string FileExtension(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0)
        return "";
    return std::string(name.substr(dot + 1));
}

bool ClassNameListsExtension(std::string_view className, std::string_view extension)
{
    if (extension.empty())
        return false;
    for (std::size_t at = className.find("*."); at != std::string_view::npos;
         at = className.find("*.", at + 2)) {
        std::size_t end = at + 2;
        while (end < className.size() && PatternCharacter(className[end]))
            ++end;
        if (SameIgnoringCase(className.substr(at + 2, end - at - 2), extension))
            return true;
    }
    return false;
}

} // namespace polyvant
