#pragma once
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>

#include "ThreeDsReader.h"

namespace polyvant::formats::test {

inline std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string SamplePath(const std::string& name)
{
    return std::string(POLYVANT_TESTDATA_DIR) + "/" + name;
}

// Little-endian chunk builder for hand-made files.
struct Bytes {
    std::vector<unsigned char> b;
    Bytes& U16(unsigned v)
    {
        b.push_back(static_cast<unsigned char>(v));
        b.push_back(static_cast<unsigned char>(v >> 8));
        return *this;
    }
    Bytes& U32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<unsigned char>(v >> (8 * i)));
        return *this;
    }
    Bytes& F32(float f)
    {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        return U32(u);
    }
    Bytes& Str(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        return *this;
    }
    Bytes& Raw(const std::vector<unsigned char>& more)
    {
        b.insert(b.end(), more.begin(), more.end());
        return *this;
    }
};

// A chunk with the given id around `body`.
inline std::vector<unsigned char> Chunk(unsigned id, const std::vector<unsigned char>& body)
{
    Bytes c;
    c.U16(id).U32(std::uint32_t(body.size() + 6)).Raw(body);
    return c.b;
}

inline std::vector<unsigned char> Cat(std::initializer_list<std::vector<unsigned char>> parts)
{
    std::vector<unsigned char> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Every face index names a vertex and every coordinate is finite: what the host relies on.
inline void ExpectValidMesh(const MeshBuilder& mesh)
{
    for (std::size_t i = 0; i < 3 * mesh.VertexCount(); ++i)
        ASSERT_TRUE(std::isfinite(mesh.Vertices()[i]));
    for (std::size_t i = 0; i < mesh.TriangleCount(); ++i)
        for (int k = 0; k < 3; ++k)
            ASSERT_LT(mesh.Faces()[4 * i + k], mesh.VertexCount());
}

// A flat mesh as an importer would hand it over, from positions and triangles.
inline Mesh3d* MakeMesh(const char* name, const std::vector<double>& xyz,
                        const std::vector<std::uint32_t>& faces4)
{
    auto* mesh = new Mesh3d(name, Mesh3d::kFlat);
    mesh->vertexCount = std::uint32_t(xyz.size() / 3);
    mesh->faceCount = std::uint32_t(faces4.size() / 4);
    mesh->vertexData = static_cast<double*>(std::malloc(xyz.size() * sizeof(double) + 8));
    mesh->faceData =
        static_cast<std::uint32_t*>(std::malloc(faces4.size() * sizeof(std::uint32_t) + 4));
    std::memcpy(mesh->vertexData, xyz.data(), xyz.size() * sizeof(double));
    std::memcpy(mesh->faceData, faces4.data(), faces4.size() * sizeof(std::uint32_t));
    return mesh;
}

} // namespace polyvant::formats::test
