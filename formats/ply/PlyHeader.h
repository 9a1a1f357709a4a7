#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace polyvant::formats::ply {

enum class PlyFormat { kAscii, kBinaryLittleEndian, kBinaryBigEndian };

enum class PlyType : std::uint8_t {
    kInt8,
    kUInt8,
    kInt16,
    kUInt16,
    kInt32,
    kUInt32,
    kFloat32,
    kFloat64
};

std::size_t SizeOf(PlyType type) noexcept;
bool IsInteger(PlyType type) noexcept;

struct PlyProperty {
    std::string name;
    PlyType type = PlyType::kFloat32; // the item type for a list
    bool isList = false;
    PlyType countType = PlyType::kUInt8;
};

struct PlyElement {
    std::string name;
    std::uint64_t count = 0;
    std::vector<PlyProperty> properties;
    std::size_t line = 0; // header line of its "element" statement

    // Bytes of one record with every list empty (binary), or 0 without properties.
    std::size_t MinBinarySize() const noexcept;
    // Bytes of one record when no property is a list, else 0.
    std::size_t FixedBinarySize() const noexcept;
    // Index of the property with this name, or -1.
    int Find(std::string_view propertyName) const noexcept;
};

struct PlyHeader {
    PlyFormat format = PlyFormat::kAscii;
    std::vector<PlyElement> elements;
    std::size_t bodyOffset = 0; // first byte after "end_header" and its line end
    std::size_t bodyLine = 0;   // line number of the first body line (ASCII)
};

// Parses the header at the start of [data, data + size). Throws FormatError naming
// `path` and the header line of the first fault. Refuses at once any element count
// that the bytes after the header cannot hold, so no caller sizes anything from an
// unchecked count.
PlyHeader ParsePlyHeader(const char* data, std::size_t size, std::string_view path);

} // namespace polyvant::formats::ply
