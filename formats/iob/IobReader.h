#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/MeshBuilder.h"

namespace polyvant::formats::iob {

// Objects may nest (DESC ... TOBJ); deeper trees are refused.
constexpr std::size_t kMaxObjectDepth = 64;

struct IobResult {
    // One mesh per object with triangles, in file order; word 3 of a face holds its
    // colour from the object's face colour list (0xRRGGBB), 0 without one.
    std::vector<MeshBuilder> meshes;
    std::vector<std::string> warnings;
    std::string error;       // "offset N: chunk 'XXXX': what" when reading failed
    std::size_t objects = 0; // DESC records seen, empty ones included
};

// Progress callback: fraction 0..1; returns false to cancel.
using IobProgress = std::function<bool(double)>;

// Reads an IFF FORM TDDD object file held in [data, data + size). Every chunk length
// is checked against its parent and the file before use; counts are believed only when
// their records fit in the chunk. Point coordinates are taken as stored (16.16 fixed
// point): an object's position, axes and size describe its editing frame and are not
// applied. Faces are rebuilt from their three edges; a face whose edges do not close
// a triangle is dropped with a warning. Returns false with result.error set when the
// file cannot be read. Does not throw except std::bad_alloc.
bool ReadIob(const char* data, std::size_t size, IobResult& result,
             const IobProgress& progress = {});

} // namespace polyvant::formats::iob
