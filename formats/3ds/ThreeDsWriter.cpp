#include "ThreeDsWriter.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>

#include <polyvant/Obj3d.h>

#include "ThreeDsChunks.h"

namespace polyvant::formats {
namespace {

using namespace tds;

// Appends little-endian chunks and patches each length when its chunk ends.
class ChunkWriter {
public:
    explicit ChunkWriter(std::vector<unsigned char>& out) : out(out) {}

    void Begin(std::uint16_t id)
    {
        open.push_back(out.size());
        U16(id);
        U32(0);
    }
    // False when the chunk grew past what a 32-bit length can say.
    bool End()
    {
        const std::size_t start = open.back();
        open.pop_back();
        const std::size_t length = out.size() - start;
        if (length > UINT32_MAX)
            return false;
        const std::uint32_t v = std::uint32_t(length);
        for (int i = 0; i < 4; ++i)
            out[start + 2 + i] = static_cast<unsigned char>(v >> (8 * i));
        return true;
    }
    void U16(std::uint16_t v)
    {
        out.push_back(static_cast<unsigned char>(v));
        out.push_back(static_cast<unsigned char>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    void F32(float f)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        U32(bits);
    }
    void Str(const std::string& s)
    {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    void Bytes(std::initializer_list<unsigned char> b) { out.insert(out.end(), b); }

private:
    std::vector<unsigned char>& out;
    std::vector<std::size_t> open;
};

// A piece of a mesh small enough for 16-bit indices.
struct Part {
    std::vector<std::uint32_t> vertices; // mesh vertex per part vertex
    std::vector<std::uint16_t> corners;  // 3 per face, part-local
    std::vector<std::uint32_t> word3;    // per face
};

// Splits greedily in face order, so neighbouring faces stay together and every part
// holds at most kMaxElements vertices and faces.
std::vector<Part> Split(const Mesh3d& mesh)
{
    std::vector<Part> parts;
    const std::uint32_t* f = mesh.faceData;
    if (mesh.vertexCount <= kMaxElements && mesh.faceCount <= kMaxElements) {
        Part& part = parts.emplace_back();
        part.vertices.resize(mesh.vertexCount);
        for (std::uint32_t i = 0; i < mesh.vertexCount; ++i)
            part.vertices[i] = i;
        part.corners.reserve(3 * std::size_t(mesh.faceCount));
        part.word3.reserve(mesh.faceCount);
        for (std::uint32_t i = 0; i < mesh.faceCount; ++i, f += kFaceWords) {
            part.corners.insert(part.corners.end(),
                                {std::uint16_t(f[0]), std::uint16_t(f[1]), std::uint16_t(f[2])});
            part.word3.push_back(f[3]);
        }
        return parts;
    }
    // local[v] is valid for the current part when stamp[v] equals the part's number.
    std::vector<std::uint32_t> stamp(mesh.vertexCount, 0), local(mesh.vertexCount, 0);
    std::uint32_t number = 0;
    Part* part = nullptr;
    for (std::uint32_t i = 0; i < mesh.faceCount; ++i, f += kFaceWords) {
        std::size_t fresh = 0;
        if (part)
            for (int k = 0; k < 3; ++k)
                fresh +=
                    stamp[f[k]] != number && (k < 1 || f[k] != f[0]) && (k < 2 || f[k] != f[1]);
        if (!part || part->vertices.size() + fresh > kMaxElements ||
            part->word3.size() == kMaxElements) {
            part = &parts.emplace_back();
            ++number;
        }
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t v = f[k];
            if (stamp[v] != number) {
                stamp[v] = number;
                local[v] = std::uint32_t(part->vertices.size());
                part->vertices.push_back(v);
            }
            part->corners.push_back(std::uint16_t(local[v]));
        }
        part->word3.push_back(f[3]);
    }
    // Vertices without faces (a point cloud) still go out, in runs that fit.
    if (parts.empty())
        for (std::uint32_t v = 0; v < mesh.vertexCount; ++v) {
            if (v % kMaxElements == 0)
                parts.emplace_back();
            parts.back().vertices.push_back(v);
        }
    return parts;
}

std::string Check(const Mesh3d& mesh)
{
    const std::string name = mesh.name ? mesh.name : "";
    if ((mesh.vertexCount && !mesh.vertexData) || (mesh.faceCount && !mesh.faceData))
        return "mesh '" + name + "' has counts but no data";
    for (std::size_t i = 0; i < 3 * std::size_t(mesh.vertexCount); ++i) {
        const double c = mesh.vertexData[i];
        if (!std::isfinite(c) || std::fabs(c) > FLT_MAX)
            return "mesh '" + name + "': vertex " + std::to_string(i / 3) +
                   " has a coordinate that a float cannot hold";
    }
    for (std::size_t i = 0; i < mesh.faceCount; ++i)
        for (int k = 0; k < 3; ++k)
            if (mesh.faceData[kFaceWords * i + k] >= mesh.vertexCount)
                return "mesh '" + name + "': face " + std::to_string(i) + " names vertex " +
                       std::to_string(mesh.faceData[kFaceWords * i + k]) + " past its " +
                       std::to_string(mesh.vertexCount) + " vertices";
    return {};
}

std::string MaterialName(std::uint32_t word3)
{
    return "MAT" + std::to_string(word3);
}

std::string Cut(const std::string& s, std::size_t n)
{
    return s.size() <= n ? s : s.substr(0, n);
}

} // namespace

bool Build3dsImage(const std::vector<const Mesh3d*>& meshes, ThreeDsImage& image,
                   const ReadProgress& progress)
{
    std::vector<std::uint32_t> materials;
    for (const Mesh3d* mesh : meshes) {
        image.error = Check(*mesh);
        if (!image.error.empty())
            return false;
        for (std::uint32_t i = 0; i < mesh->faceCount; ++i)
            if (const std::uint32_t w = mesh->faceData[kFaceWords * i + 3])
                materials.push_back(w);
        std::sort(materials.begin(), materials.end());
        materials.erase(std::unique(materials.begin(), materials.end()), materials.end());
    }

    image.bytes.clear();
    ChunkWriter w(image.bytes);
    w.Begin(kMain);
    w.Begin(kVersion);
    w.U32(3);
    w.End();
    w.Begin(kEditor);
    w.Begin(kMeshVersion);
    w.U32(3);
    w.End();
    for (std::uint32_t m : materials) {
        w.Begin(kMaterial);
        w.Begin(kMaterialName);
        w.Str(MaterialName(m));
        w.End();
        w.Begin(kMaterialDiffuse);
        w.Begin(kColourFloat);
        w.F32(0.7f);
        w.F32(0.7f);
        w.F32(0.7f);
        w.End();
        w.End();
        w.End();
    }
    w.Begin(kMasterScale);
    w.F32(1.0f);
    w.End();

    bool fits = true;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const Mesh3d& mesh = *meshes[m];
        if (progress && !progress(double(m) / double(meshes.size()))) {
            image.error = "cancelled";
            return false;
        }
        const std::string original = mesh.name ? mesh.name : "";
        const std::string name = original.empty() ? "Object" : original;
        const std::vector<Part> parts = Split(mesh);
        std::string renamed;
        for (std::size_t k = 0; k < parts.size(); ++k) {
            std::string partName = Cut(name, kMaxName);
            if (parts.size() > 1) {
                const std::string suffix = "_" + std::to_string(k + 1);
                partName = Cut(name, kMaxName - suffix.size()) + suffix;
            }
            if (k == 0)
                renamed = partName;
            else if (k + 1 == parts.size())
                renamed += "' ... '" + partName;
            const Part& part = parts[k];
            w.Begin(kNamedObject);
            w.Str(partName);
            w.Begin(kTriangleMesh);
            w.Begin(kVertexList);
            w.U16(std::uint16_t(part.vertices.size()));
            for (std::uint32_t v : part.vertices)
                for (int c = 0; c < 3; ++c)
                    w.F32(float(mesh.vertexData[3 * std::size_t(v) + c]));
            fits = w.End() && fits;
            w.Begin(kLocalAxes);
            const bool finite = std::all_of(mesh.transform, mesh.transform + 16, [](double d) {
                return std::isfinite(d) && std::fabs(d) <= FLT_MAX;
            });
            for (int axis = 0; axis < 4; ++axis)
                for (int c = 0; c < 3; ++c)
                    w.F32(finite ? float(mesh.transform[4 * axis + c]) : (axis == c ? 1.f : 0.f));
            w.End();
            w.Begin(kFaceList);
            const std::size_t faceCount = part.word3.size();
            w.U16(std::uint16_t(faceCount));
            for (std::size_t i = 0; i < faceCount; ++i) {
                w.U16(part.corners[3 * i]);
                w.U16(part.corners[3 * i + 1]);
                w.U16(part.corners[3 * i + 2]);
                w.U16(7); // all three edges visible
            }
            std::map<std::uint32_t, std::vector<std::uint16_t>> groups;
            for (std::size_t i = 0; i < faceCount; ++i)
                if (part.word3[i])
                    groups[part.word3[i]].push_back(std::uint16_t(i));
            for (const auto& [word3, faces] : groups) {
                w.Begin(kFaceMaterial);
                w.Str(MaterialName(word3));
                w.U16(std::uint16_t(faces.size()));
                for (std::uint16_t f : faces)
                    w.U16(f);
                w.End();
            }
            fits = w.End() && fits; // face list
            fits = w.End() && fits; // triangle mesh
            fits = w.End() && fits; // named object
        }
        if (parts.size() > 1)
            image.renames.push_back("'" + original + "' -> '" + renamed + "' (" +
                                    std::to_string(parts.size()) + " parts)");
        else if (renamed != original)
            image.renames.push_back("'" + original + "' -> '" + renamed + "'");
    }
    fits = w.End() && fits; // editor
    fits = w.End() && fits; // main
    if (!fits) {
        image.error = "the scene is too big for a 3D Studio file (over 4 GiB)";
        image.bytes.clear();
        return false;
    }
    return true;
}

} // namespace polyvant::formats
