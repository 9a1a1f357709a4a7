#pragma once
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class AtomicFileWriter;
}

namespace polyvant::formats::raw {

// Writes each mesh as a name line followed by one line of nine coordinates per
// triangle (shortest round-trip numbers). Names that would read as numbers, or are
// empty, get a leading '_'. Throws FormatError for a mesh whose record is broken.
void WriteRaw(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out, const char* path);

} // namespace polyvant::formats::raw
