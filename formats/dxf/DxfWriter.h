#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats::dxf {

// Receives the file text in blocks; false stops the export (write failed).
using DxfSink = std::function<bool(std::string_view)>;
// Progress fraction 0..1; false cancels.
using DxfWriteProgress = std::function<bool(double)>;

// Writes the meshes as an R12 ASCII DXF: one layer per mesh (named after it, made a
// valid and unique layer name; each rename is reported in `warnings`) and one 3DFACE
// per triangle, its fourth corner repeating the third. Faces whose indices lie outside
// their mesh or whose corners are not finite are left out with a warning. Returns
// false with `error` set when the sink fails or progress cancels.
bool WriteDxf(const std::vector<const Mesh3d*>& meshes, const DxfSink& sink,
              std::vector<std::string>& warnings, std::string& error,
              const DxfWriteProgress& progress = {});

// The layer name a mesh name becomes (without the uniqueness suffix).
std::string DxfLayerName(const char* meshName);

} // namespace polyvant::formats::dxf
