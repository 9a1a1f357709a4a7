#pragma once
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class AtomicFileWriter;
}

namespace polyvant::formats::obj {

// Writes the meshes as one OBJ file: an `o` statement per mesh, its vertices with
// shortest round-trip numbers, then its triangles as 1-based `f` statements. Throws
// FormatError for a mesh whose record is broken.
void WriteObj(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out, const char* path);

} // namespace polyvant::formats::obj
