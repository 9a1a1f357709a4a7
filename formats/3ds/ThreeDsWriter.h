#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "ThreeDsReader.h"

namespace polyvant {
class Mesh3d;
}

namespace polyvant::formats {

struct ThreeDsImage {
    std::vector<unsigned char> bytes;
    // One line per object whose name the format could not keep as it was
    // ("'LongObjectName' -> 'LongObject'").
    std::vector<std::string> renames;
    std::string error; // set when nothing could be written
};

// Lays out a .3ds file of the meshes: one named triangle object per mesh, split into
// numbered parts of at most 65535 vertices and faces, names cut to 10 characters, word 3
// of the faces written as material groups "MAT<word 3>" (0: no group) and the mesh
// transform as the object's local axes. Coordinates are stored as float. Returns false
// with `error` set when a mesh holds an index past its vertices or a coordinate a float
// cannot hold.
bool Build3dsImage(const std::vector<const Mesh3d*>& meshes, ThreeDsImage& image,
                   const ReadProgress& progress = {});

} // namespace polyvant::formats
