#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/MeshBuilder.h"

namespace polyvant::formats::dxf {

// Limits that keep a hostile file from multiplying itself through block references.
struct DxfLimits {
    std::size_t maxInstances = 100000; // block placements, MINSERT cells included
    std::size_t maxInsertDepth = 64;   // blocks inside blocks
    // 0: 8 x the triangles stored + a quarter of the file size + 512 Ki, which keeps
    // the memory a file can claim to a small multiple of its size.
    std::size_t maxOutputTriangles = 0;
};

struct DxfResult {
    std::vector<MeshBuilder> meshes; // one per layer, in order of first use
    std::vector<std::string> warnings;
    std::string error; // "line N: what" when reading failed
};

// Progress callback: fraction 0..1; returns false to cancel.
using DxfProgress = std::function<bool(double)>;

// Reads an ASCII DXF held in [data, data + size). Faces come from 3DFACE, SOLID,
// TRACE, MESH, polyface and polygon-mesh POLYLINEs, in the ENTITIES section and in the
// blocks that INSERTs place there. Returns false with result.error set when the file
// cannot be read (a broken pair structure, a binary DXF, a block cycle, an expansion
// past the limits, cancel); entities with bad values are dropped with a warning.
// Does not throw except std::bad_alloc.
bool ReadDxf(const char* data, std::size_t size, DxfResult& result, const DxfLimits& limits = {},
             const DxfProgress& progress = {});

} // namespace polyvant::formats::dxf
