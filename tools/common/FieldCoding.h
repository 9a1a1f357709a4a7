#pragma once
#include <charconv>
#include <string>
#include <string_view>

// "<length>:<bytes>" fields, which carry any bytes (line breaks, colons, zeros) between
// the tools and what they keep or are sent.
namespace polyvant::tools {

inline void PutField(std::string& out, std::string_view field)
{
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

// Takes one field from the front of in; false, with in as it was, when there is none.
inline bool TakeField(std::string_view& in, std::string& field)
{
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(in.data(), in.data() + in.size(), length);
    if (error != std::errc() || end == in.data() || end == in.data() + in.size() || *end != ':')
        return false;
    const std::size_t head = std::size_t(end - in.data()) + 1;
    if (length > in.size() - head)
        return false;
    field.assign(in.substr(head, length));
    in.remove_prefix(head + length);
    return true;
}

} // namespace polyvant::tools
