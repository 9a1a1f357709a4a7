#pragma once
#include <string_view>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class AtomicFileWriter;
}

namespace polyvant::formats::ply {

enum class PlyOutput { kAscii, kBinaryLittleEndian };

// Writes all meshes as the one mesh a PLY file holds (indices offset per mesh), faces
// as lists of three uint indices. Coordinates are declared float when every one of
// them is exactly a float, else double, so a reimport gives the same values in both
// encodings. Throws FormatError naming `path` when a mesh is unusable (a face naming
// a missing vertex, a coordinate that is not finite, more than 2^32 - 1 vertices or
// faces) and stops early when the writer fails.
void WritePly(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
              std::string_view path, PlyOutput encoding);

} // namespace polyvant::formats::ply
