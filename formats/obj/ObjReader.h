#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
class MappedFile;
class ProgressMeter;
} // namespace polyvant::formats

namespace polyvant::formats::obj {

// Reads a Wavefront OBJ held in memory into one flat Mesh3d per object or group that
// has faces (in file order). `path` names the file in messages; unnamed geometry takes
// `baseName`. Polygons are triangulated; word 3 of a face is the 1-based index of its
// `usemtl` material in order of first use (0 without one). Faces with a zero or
// out-of-range index are skipped with one warning; bad coordinates throw FormatError
// naming the line. `progress` may be null.
// A file of 8 MiB or more is read on as many threads as there are cores, in stretches of
// whole lines (four a core, each at least 1 MiB); `stretches` other than 0 sets their
// number and that of the threads alike. When `file` holds the text, its pages are let go
// once read.
void ReadObj(const char* data, std::size_t size, const std::string& path,
             const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
             ProgressMeter* progress, MappedFile* file = nullptr, unsigned stretches = 0);

} // namespace polyvant::formats::obj
