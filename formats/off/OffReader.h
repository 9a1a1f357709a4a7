#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class ProgressMeter;
}

namespace polyvant::formats::off {

// Reads an OFF file held in memory (header OFF, or its COFF/NOFF/CNOFF/STOFF/...
// variants, or none) into one flat Mesh3d named `baseName`, keeping the file's vertex
// list. Values are read as a stream, so a face may run over several lines; what
// follows a vertex's three coordinates or a face's indices on its line (colours,
// normals, texture coordinates) is skipped, as are '#' comments. Polygons are
// triangulated. Faces with an index outside the vertex list are skipped with one
// warning; a file that ends within the faces keeps the faces read, with a warning.
// Counts beyond what the file can hold, bad numbers or a short vertex list throw
// FormatError naming the line. A header keyword followed by BINARY hands the rest of
// the file to ReadBinaryOff.
void ReadOff(const char* data, std::size_t size, const std::string& path,
             const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
             ProgressMeter* progress);

} // namespace polyvant::formats::off
