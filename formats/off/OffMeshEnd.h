#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"

namespace polyvant::formats::off {

// How the text and the binary reader end: one warning for the faces skipped (firstBad:
// where the first was and why, as "path: line N: why"), one for a file cut within the
// faces (cut: the whole message, or ""), then the mesh, or a warning that there is
// nothing to show.
inline void FinishOffMesh(MeshBuilder& builder, const std::string& path, std::uint64_t badFaces,
                          const std::string& firstBad, const std::string& cut,
                          std::vector<std::unique_ptr<Mesh3d>>& meshes)
{
    if (badFaces)
        HostLink::Warning((firstBad + "; skipped " + std::to_string(badFaces) +
                           (badFaces == 1 ? " face" : " faces") + ", kept the rest")
                              .c_str());
    if (!cut.empty())
        HostLink::Warning(cut.c_str());
    if (builder.TriangleCount() == 0)
        HostLink::Warning((path + ": the file holds no faces; nothing to show").c_str());
    else
        meshes.emplace_back(builder.Finish());
}

} // namespace polyvant::formats::off
