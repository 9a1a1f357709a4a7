#pragma once
#include <string_view>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class AtomicFileWriter;
}

namespace polyvant::formats::stl {

// Binary STL: all meshes go into the one solid the format holds, corners as 32-bit
// floats (doubles that are not exact floats are rounded), normals from the corners.
// ASCII STL: one solid per mesh named after it, coordinates in the shortest text that
// reads back to the same double. Both throw FormatError naming `path` when a mesh is
// unusable (a face naming a missing vertex, a coordinate that is not finite, more
// than 2^32 - 1 triangles) and stop early when the writer fails.
void WriteStlBinary(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
                    std::string_view path);
void WriteStlAscii(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
                   std::string_view path);

} // namespace polyvant::formats::stl
