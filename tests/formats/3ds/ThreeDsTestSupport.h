#pragma once
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "ThreeDsReader.h"

namespace polyvant::formats::test {

using MeshPtr = std::unique_ptr<Mesh3d>;

// Reads from a heap copy of exactly the input's size, so ASan sees any overrun; on
// success hands over the meshes as an importer would (transform set).
inline bool Read(const std::string& bytes, ThreeDsScene& scene, std::vector<MeshPtr>* meshes)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size()]);
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    if (!Read3ds(copy.get(), bytes.size(), scene))
        return false;
    for (ThreeDsObject& o : scene.objects) {
        MeshPtr mesh(o.mesh.Finish());
        std::memcpy(mesh->transform, o.transform.data(), sizeof mesh->transform);
        ExpectValidMesh(*mesh);
        if (meshes)
            meshes->push_back(std::move(mesh));
    }
    return true;
}

// Little-endian pieces of hand-made files.
inline std::string U16(unsigned v)
{
    return {char(v & 0xFF), char(v >> 8 & 0xFF)};
}
inline std::string U32(std::uint32_t v)
{
    return U16(v & 0xFFFF) + U16(v >> 16);
}
inline std::string F32(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return U32(u);
}
inline std::string Chunk(unsigned id, const std::string& body)
{
    return U16(id) + U32(std::uint32_t(body.size() + 6)) + body;
}

} // namespace polyvant::formats::test
