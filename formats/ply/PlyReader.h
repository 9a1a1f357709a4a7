#pragma once
#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats::ply {

// Reads a PLY file (ascii, binary_little_endian or binary_big_endian) held in
// [data, data + size) into one flat mesh named after `path`'s base name, appended to
// `meshes`: vertex x, y, z of any numeric type; faces from the list `vertex_indices`
// (or `vertex_index`) of element "face", with any count and index types, polygons
// triangulated. Other elements and properties are skipped. A file with vertices but
// no faces gives a mesh without faces; one without vertices gives nothing. Throws
// FormatError naming `path` and the line (ascii) or byte offset (binary) of the first
// fault; warnings go to the host. Never reads outside the buffer.
void ReadPly(const char* data, std::size_t size, std::string_view path,
             std::vector<std::unique_ptr<Mesh3d>>& meshes);

} // namespace polyvant::formats::ply
