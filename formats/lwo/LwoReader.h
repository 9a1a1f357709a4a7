#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/MeshBuilder.h"

namespace polyvant::formats {

struct LwoScene {
    // One mesh per layer (LWO2, and LWLO files with LAYR), else one for the file.
    std::vector<MeshBuilder> meshes;
    // Surface names: TAGS (LWO2) or SRFS (LWOB); word 3 of a face is 1 + the index of its
    // surface here, 0 for a polygon without one.
    std::vector<std::string> surfaces;
    std::vector<std::string> warnings;
    std::string formType; // "LWO2", "LWOB" or "LWLO"
    std::size_t errorOffset = 0;
    std::string error; // set when reading failed
};

// Called now and then with the fraction read; returning false cancels the read.
using LwoProgress = std::function<bool(double)>;

// Reads a Lightwave object (IFF FORM of type LWO2, LWOB or LWLO) in [data, data + size).
// Lightwave's Y-up, left-handed frame becomes the program's Z-up, right-handed one by
// exchanging Y and Z, and the corner order is reversed so that front faces run counter-
// clockwise as the program expects. FACE, PTCH and SUBD polygons are triangulated;
// polygons of one or two points are skipped; curves, metaballs and bones are skipped
// with a warning. `defaultName` names a mesh whose layer has no name.
// Returns false with scene.error / errorOffset set on a malformed file; every chunk size
// is checked against the FORM and every index against its layer's points.
bool ReadLwo(const unsigned char* data, std::size_t size, LwoScene& scene,
             const std::string& defaultName, const LwoProgress& progress = {});

} // namespace polyvant::formats
