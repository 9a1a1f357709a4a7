#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace polyvant {
class Mesh3d;
}

namespace polyvant::formats {

struct LwoImage {
    std::vector<unsigned char> bytes;
    std::string error; // set when nothing could be written
};

// Lays out an LWO2 file of the meshes: one layer per mesh (named after it), its points
// in Lightwave's axes (Y and Z exchanged back) as floats, one FACE polygon per
// triangle in Lightwave's clockwise order, and one surface per distinct word 3 ("Default" for 0,
// else "Surface<n>") tagged onto the polygons. Returns false with `error` set when a mesh holds an
// index past its vertices, a coordinate a float cannot hold, or more points or polygons than the
// format's 24-bit indices reach.
bool BuildLwoImage(const std::vector<const Mesh3d*>& meshes, LwoImage& image);

} // namespace polyvant::formats
