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

// What the header keyword [ST][C][N][4][n]OFF says each vertex holds beside x y z.
struct OffVertexLayout {
    bool textureCoordinates = false; // ST: s t
    bool colour = false;             // C: r g b a
    bool normal = false;             // N: nx ny nz
    bool homogeneous = false;        // 4: w, divided out
    bool dimensioned = false;        // n: the number of dimensions comes before the counts
};

// Reads the binary body of an "OFF BINARY" file, which starts at data + body: 32-bit
// big-endian integers and floats, the counts first, then each vertex's floats, then
// each face as its corner count, its indices, and a count of colour values followed by
// them. Faces with an index outside the vertex list or fewer than 3 corners are skipped
// with one warning; a file that ends within the faces keeps those read, with a warning.
// Counts the file cannot hold and unusable coordinates throw FormatError naming the
// byte offset.
void ReadBinaryOff(const char* data, std::size_t size, std::size_t body,
                   const OffVertexLayout& layout, const std::string& path,
                   const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
                   ProgressMeter* progress);

} // namespace polyvant::formats::off
