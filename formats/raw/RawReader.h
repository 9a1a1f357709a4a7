#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class ProgressMeter;
}

namespace polyvant::formats::raw {

// Reads a RAW ASCII file held in memory: a line that is not all numbers names a new
// object; every other line is one triangle, nine coordinates, optionally preceded by a
// colour (three numbers) or followed by a texture name. Equal positions within an
// object become one vertex (first use order). Word 3 of a face is the 1-based number of
// its colour or texture in order of first use, 0 for a plain line. One Mesh3d per
// object with triangles; triangles before any name take `baseName`. A malformed
// line throws FormatError naming it.
void ReadRaw(const char* data, std::size_t size, const std::string& path,
             const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
             ProgressMeter* progress);

} // namespace polyvant::formats::raw
