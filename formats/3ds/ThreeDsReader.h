#pragma once
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/MeshBuilder.h"

namespace polyvant::formats {

// One triangle object of a 3D Studio file: its mesh (raw editor vertices, which are
// already in world space) and its local frame from the 0x4160 chunk as a column-major
// 4x4 matrix: columns 0-2 the X, Y, Z axes, column 3 the origin (identity when the
// file gives none).
struct ThreeDsObject {
    MeshBuilder mesh;
    std::array<double, 16> transform;
};

struct ThreeDsScene {
    std::vector<ThreeDsObject> objects;
    // Material names in order of first mention (definition or face group); word 3 of
    // a face is 1 + its material's index here, 0 for a face in no group.
    std::vector<std::string> materials;
    std::vector<std::string> warnings;
    unsigned lights = 0;
    unsigned cameras = 0;
    // Set when reading failed: where and what.
    std::size_t errorOffset = 0;
    std::string error;
};

// Called now and then with the fraction read; returning false cancels the read.
using ReadProgress = std::function<bool(double)>;

// Reads the chunk tree of a .3ds (root 0x4D4D), a .prj (root 0xC23D) or a bare editor
// chunk (0x3D3D) in [data, data + size). Every chunk length is checked against its
// parent before use, nesting is bounded and walked with an explicit stack, and every
// count must fit in its chunk. Returns false with scene.error / errorOffset set on a
// malformed file; keyframer data is skipped. Does not throw except std::bad_alloc.
bool Read3ds(const unsigned char* data, std::size_t size, ThreeDsScene& scene,
             const ReadProgress& progress = {});

} // namespace polyvant::formats
