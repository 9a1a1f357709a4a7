#pragma once
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class AtomicFileWriter;
}

namespace polyvant::formats::off {

// Writes all meshes as one OFF mesh (OFF holds a single object): the vertices of each
// mesh in turn, then its triangles with indices shifted past the earlier meshes'
// vertices. Throws FormatError for a broken mesh or more than 2^32 - 1 vertices.
void WriteOff(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out, const char* path);

} // namespace polyvant::formats::off
