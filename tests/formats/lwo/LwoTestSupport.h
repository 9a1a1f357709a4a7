#pragma once
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "FormatTestSupport.h"
#include "LwoReader.h"

namespace polyvant::formats::test {

using MeshPtr = std::unique_ptr<Mesh3d>;

// Reads from a heap copy of exactly the input's size, so ASan sees any overrun; on
// success hands the meshes over as the importer does and checks them.
inline bool Read(const std::string& bytes, LwoScene& scene, std::vector<MeshPtr>* meshes)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size()]);
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    if (!ReadLwo(copy.get(), bytes.size(), scene, "object"))
        return false;
    for (MeshBuilder& builder : scene.meshes) {
        MeshPtr mesh(builder.Finish());
        ExpectValidMesh(*mesh);
        if (meshes)
            meshes->push_back(std::move(mesh));
    }
    return true;
}

// Big-endian pieces of hand-made IFF files.
inline std::string U16(unsigned v)
{
    return {char(v >> 8 & 0xFF), char(v & 0xFF)};
}
inline std::string U32(std::uint32_t v)
{
    return U16(v >> 16) + U16(v & 0xFFFF);
}
inline std::string F32s(const std::vector<float>& values)
{
    std::string b;
    for (float f : values) {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        b += U32(u);
    }
    return b;
}
inline std::string S0(const std::string& s)
{
    return s + std::string(s.size() % 2 ? 1 : 2, '\0');
}
// A chunk around `body`, padded when odd.
inline std::string Chunk(const char* id, const std::string& body)
{
    return id + U32(std::uint32_t(body.size())) + body + std::string(body.size() % 2, '\0');
}
inline std::string Form(const char* type, const std::string& chunks)
{
    return "FORM" + U32(std::uint32_t(chunks.size() + 4)) + type + chunks;
}

} // namespace polyvant::formats::test
