#pragma once
#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class MappedFile;
}

namespace polyvant::formats::stl {

enum class StlKind { kBinary, kAscii };

// Tells binary from ASCII STL. A binary file may begin with "solid" too, so the size
// (84 + 50 n bytes for the count n at offset 80) decides first; otherwise a "solid"
// line followed by "facet" or "endsolid", or plain text, means ASCII.
StlKind DetectStlKind(const char* data, std::size_t size) noexcept;

// Reads an STL file held in [data, data + size) into one flat mesh per non-empty solid
// (a binary file is one solid), appended to `meshes`. Identical positions share one
// vertex. Meshes are named after their solid, or after `path`'s base name when the
// solid names none. Throws FormatError naming `path` and the line (ASCII) or byte
// offset (binary) of the first fault; warnings go to the host. Never reads outside
// the buffer. With `file` (the mapping that holds the buffer), the pages of a binary file
// are let go as they are read.
void ReadStl(const char* data, std::size_t size, std::string_view path,
             std::vector<std::unique_ptr<Mesh3d>>& meshes, MappedFile* file = nullptr);

} // namespace polyvant::formats::stl
