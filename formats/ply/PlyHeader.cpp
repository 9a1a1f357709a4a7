#include "ply/PlyHeader.h"

#include <string>

#include "common/PluginSupport.h"
#include "common/TextScan.h"

namespace polyvant::formats::ply {

namespace {

struct TypeName {
    const char* name;
    PlyType type;
};

constexpr TypeName kTypeNames[] = {
    {"char", PlyType::kInt8},       {"int8", PlyType::kInt8},       {"uchar", PlyType::kUInt8},
    {"uint8", PlyType::kUInt8},     {"short", PlyType::kInt16},     {"int16", PlyType::kInt16},
    {"ushort", PlyType::kUInt16},   {"uint16", PlyType::kUInt16},   {"int", PlyType::kInt32},
    {"int32", PlyType::kInt32},     {"uint", PlyType::kUInt32},     {"uint32", PlyType::kUInt32},
    {"float", PlyType::kFloat32},   {"float32", PlyType::kFloat32}, {"double", PlyType::kFloat64},
    {"float64", PlyType::kFloat64},
};

bool TypeOf(std::string_view word, PlyType& type) noexcept
{
    for (const TypeName& t : kTypeNames) {
        if (word == t.name) {
            type = t.type;
            return true;
        }
    }
    return false;
}

// The words of one header line.
std::vector<std::string_view> Words(const char* p, const char* end)
{
    std::vector<std::string_view> words;
    for (;;) {
        p = SkipBlanks(p, end);
        if (p == end)
            return words;
        const char* w = SkipWord(p, end);
        words.emplace_back(p, static_cast<std::size_t>(w - p));
        p = w;
    }
}

} // namespace

std::size_t SizeOf(PlyType type) noexcept
{
    switch (type) {
    case PlyType::kInt8:
    case PlyType::kUInt8:
        return 1;
    case PlyType::kInt16:
    case PlyType::kUInt16:
        return 2;
    case PlyType::kInt32:
    case PlyType::kUInt32:
    case PlyType::kFloat32:
        return 4;
    case PlyType::kFloat64:
        return 8;
    }
    return 0;
}

bool IsInteger(PlyType type) noexcept
{
    return type != PlyType::kFloat32 && type != PlyType::kFloat64;
}

std::size_t PlyElement::MinBinarySize() const noexcept
{
    std::size_t bytes = 0;
    for (const PlyProperty& p : properties)
        bytes += SizeOf(p.isList ? p.countType : p.type);
    return bytes;
}

std::size_t PlyElement::FixedBinarySize() const noexcept
{
    std::size_t bytes = 0;
    for (const PlyProperty& p : properties) {
        if (p.isList)
            return 0;
        bytes += SizeOf(p.type);
    }
    return bytes;
}

int PlyElement::Find(std::string_view propertyName) const noexcept
{
    for (std::size_t i = 0; i < properties.size(); ++i)
        if (properties[i].name == propertyName)
            return static_cast<int>(i);
    return -1;
}

PlyHeader ParsePlyHeader(const char* data, std::size_t size, std::string_view path)
{
    const char* end = data + size;
    LineCursor lines(data, end);
    const char* b;
    const char* e;
    auto fail = [&](const std::string& what) {
        throw FormatError(LineMessage(path, lines.Line() ? lines.Line() : 1, what));
    };
    if (!lines.Next(b, e) ||
        std::string_view(b, static_cast<std::size_t>(TrimEnd(b, e) - b)) != "ply")
        fail("not a PLY file: the first line is not 'ply'");

    PlyHeader header;
    bool haveFormat = false;
    // A damaged "end_header" turns the whole body into header lines: the first unknown
    // line is shown, the rest only counted.
    std::size_t unknownLines = 0;
    for (;;) {
        if (!lines.Next(b, e))
            fail("file ends inside the header (no 'end_header')");
        const std::vector<std::string_view> w = Words(b, e);
        if (w.empty())
            continue;
        const std::string_view key = w[0];
        if (key == "comment" || key == "obj_info")
            continue;
        if (key == "end_header") {
            if (w.size() != 1)
                fail("unexpected words after 'end_header'");
            break;
        }
        if (key == "format") {
            if (haveFormat)
                fail("second 'format' line");
            if (w.size() != 3)
                fail("expected 'format <kind> 1.0'");
            if (w[1] == "ascii")
                header.format = PlyFormat::kAscii;
            else if (w[1] == "binary_little_endian")
                header.format = PlyFormat::kBinaryLittleEndian;
            else if (w[1] == "binary_big_endian")
                header.format = PlyFormat::kBinaryBigEndian;
            else
                fail("unknown format '" + Printable(w[1].data(), w[1].data() + w[1].size()) + "'");
            if (w[2] != "1.0" && w[2] != "1")
                fail("unsupported PLY version '" +
                     Printable(w[2].data(), w[2].data() + w[2].size()) + "'");
            haveFormat = true;
        } else if (key == "element") {
            if (w.size() != 3)
                fail("expected 'element <name> <count>'");
            std::int64_t count = 0;
            const char* after = ParseInteger(w[2].data(), w[2].data() + w[2].size(), count);
            if (!after || after != w[2].data() + w[2].size() || count < 0)
                fail("element count '" + Printable(w[2].data(), w[2].data() + w[2].size()) +
                     "' is not a number of records");
            PlyElement element;
            element.name.assign(w[1]);
            element.count = static_cast<std::uint64_t>(count);
            element.line = lines.Line();
            header.elements.push_back(std::move(element));
        } else if (key == "property") {
            if (header.elements.empty())
                fail("'property' before any 'element'");
            PlyProperty property;
            if (w.size() == 5 && w[1] == "list") {
                property.isList = true;
                if (!TypeOf(w[2], property.countType) || !IsInteger(property.countType))
                    fail("list count type '" + Printable(w[2].data(), w[2].data() + w[2].size()) +
                         "' is not an integer type");
                if (!TypeOf(w[3], property.type))
                    fail("unknown type '" + Printable(w[3].data(), w[3].data() + w[3].size()) +
                         "'");
                property.name.assign(w[4]);
            } else if (w.size() == 3) {
                if (!TypeOf(w[1], property.type))
                    fail("unknown type '" + Printable(w[1].data(), w[1].data() + w[1].size()) +
                         "'");
                property.name.assign(w[2]);
            } else {
                fail("expected 'property <type> <name>' or 'property list <count type> <type> "
                     "<name>'");
            }
            header.elements.back().properties.push_back(std::move(property));
        } else {
            // Some writers put bare text in the header (Blender 2.4 wrote "Created by
            // ..."); it carries nothing we read, so say so and go on.
            if (unknownLines++ == 0)
                HostLink::Warning(
                    LineMessage(path, lines.Line(),
                                "unknown header line ignored ('" + Printable(b, e) + "')")
                        .c_str());
        }
    }
    if (unknownLines > 1)
        HostLink::Warning(
            LineMessage(path, lines.Line(),
                        std::to_string(unknownLines - 1) +
                            (unknownLines == 2 ? " more unknown header line ignored"
                                               : " more unknown header lines ignored"))
                .c_str());
    if (!haveFormat)
        fail("the header has no 'format' line");
    header.bodyOffset = lines.Offset();
    header.bodyLine = lines.Line() + 1;

    // Every declared count must fit in the bytes that follow, before anyone loops or
    // reserves by it: in binary each record takes at least its fixed part, in ASCII at
    // least one character and one separator per property.
    std::uint64_t remaining = size - header.bodyOffset;
    if (header.format == PlyFormat::kAscii)
        ++remaining; // the last value needs no separator
    for (const PlyElement& element : header.elements) {
        const std::uint64_t perRecord = header.format == PlyFormat::kAscii
                                            ? 2 * std::uint64_t(element.properties.size())
                                            : element.MinBinarySize();
        if (perRecord == 0 || element.count == 0)
            continue;
        if (element.count > remaining / perRecord)
            throw FormatError(LineMessage(
                path, element.line,
                "element '" +
                    Printable(element.name.data(), element.name.data() + element.name.size()) +
                    "' declares " + std::to_string(element.count) + " records, but only " +
                    std::to_string(size - header.bodyOffset) +
                    " bytes follow the header: the count is wrong or the file is truncated"));
        remaining -= element.count * perRecord;
    }
    return header;
}

} // namespace polyvant::formats::ply
