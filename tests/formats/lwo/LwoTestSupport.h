#pragma once
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>

#include "LwoReader.h"

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

// Reads from a buffer of exactly the data's size, so ASan sees any read past its end.
inline bool Read(const std::vector<unsigned char>& bytes, LwoScene& scene)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + !bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return ReadLwo(copy.get(), bytes.size(), scene, "object");
}

// Big-endian builder for hand-made IFF files.
struct Iff {
    std::vector<unsigned char> b;
    Iff& Id(const char* id)
    {
        b.insert(b.end(), id, id + 4);
        return *this;
    }
    Iff& U16(unsigned v)
    {
        b.push_back(static_cast<unsigned char>(v >> 8));
        b.push_back(static_cast<unsigned char>(v));
        return *this;
    }
    Iff& U32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<unsigned char>(v >> (24 - 8 * i)));
        return *this;
    }
    Iff& F32(float f)
    {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        return U32(u);
    }
    Iff& S0(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        if (s.size() % 2 == 0)
            b.push_back(0);
        return *this;
    }
    // A chunk around `body`, padded when odd.
    Iff& Chunk(const char* id, const Iff& body)
    {
        Id(id).U32(std::uint32_t(body.b.size()));
        b.insert(b.end(), body.b.begin(), body.b.end());
        if (body.b.size() % 2)
            b.push_back(0);
        return *this;
    }
};

inline std::vector<unsigned char> Form(const char* type, const Iff& chunks)
{
    Iff form;
    form.Id("FORM").U32(std::uint32_t(chunks.b.size() + 4)).Id(type);
    form.b.insert(form.b.end(), chunks.b.begin(), chunks.b.end());
    return form.b;
}

inline void ExpectValidMesh(const MeshBuilder& mesh)
{
    for (std::size_t i = 0; i < 3 * mesh.VertexCount(); ++i)
        ASSERT_TRUE(std::isfinite(mesh.Vertices()[i]));
    for (std::size_t i = 0; i < mesh.TriangleCount(); ++i)
        for (int k = 0; k < 3; ++k)
            ASSERT_LT(mesh.Faces()[4 * i + k], mesh.VertexCount());
}

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
