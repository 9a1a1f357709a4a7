#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats::iob {

// Receives the file bytes in blocks; false stops the export (write failed).
using IobSink = std::function<bool(std::string_view)>;

// Writes the meshes as an IFF FORM TDDD object file: one OBJ chunk holding one object
// (DESC ... TOBJ) per mesh with NAME, SHAP, POSI, AXIS, SIZE, points, edges and faces.
// Meshes with more than 65535 points, edges or faces use the ULONG lists (PNT2, EDG2,
// FAC2). Names are cut to the format's 18 bytes (each cut reported in `warnings`);
// faces with a repeated corner cannot be stored and are left out with a warning.
// Returns false with `error` set when a coordinate is not finite or lies outside the
// +-32768 range of 16.16 fixed point, when the file would pass 4 GiB, or when the sink
// fails.
bool WriteIob(const std::vector<const Mesh3d*>& meshes, const IobSink& sink,
              std::vector<std::string>& warnings, std::string& error);

} // namespace polyvant::formats::iob
