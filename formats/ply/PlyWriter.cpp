#include "ply/PlyWriter.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/AtomicFileWriter.h"
#include "common/PluginSupport.h"
#include "common/TextWriter.h"

namespace polyvant::formats::ply {

namespace {

std::string MeshLabel(std::string_view path, const Mesh3d& mesh)
{
    return std::string(path) + ": mesh '" + (mesh.name ? mesh.name : "") + "'";
}

bool HasVertices(const Mesh3d& mesh) noexcept
{
    return mesh.vertexCount > 0 && mesh.vertexData;
}

bool HasFaces(const Mesh3d& mesh) noexcept
{
    return mesh.faceCount > 0 && mesh.faceData && HasVertices(mesh);
}

// Checks every coordinate; true when all of them are exactly floats.
bool CheckVertices(const std::vector<const Mesh3d*>& meshes, std::string_view path)
{
    bool floats = true;
    for (const Mesh3d* mesh : meshes) {
        if (!HasVertices(*mesh))
            continue;
        const double* v = mesh->vertexData;
        for (std::size_t i = 0; i < 3 * std::size_t(mesh->vertexCount); ++i) {
            if (!std::isfinite(v[i]))
                throw FormatError(MeshLabel(path, *mesh) + ": vertex " + std::to_string(i / 3) +
                                  " is not a finite position");
            floats = floats && static_cast<double>(static_cast<float>(v[i])) == v[i];
        }
    }
    return floats;
}

[[noreturn]] void BadFace(std::string_view path, const Mesh3d& mesh, std::uint32_t f,
                          std::uint32_t index)
{
    throw FormatError(MeshLabel(path, mesh) + ": face " + std::to_string(f) + " names vertex " +
                      std::to_string(index) + " but the mesh has " +
                      std::to_string(mesh.vertexCount));
}

class BinaryOut {
public:
    explicit BinaryOut(AtomicFileWriter& writer) noexcept : out(writer) {}
    ~BinaryOut() { Flush(); }

    template <typename T>
    void Put(T value) noexcept
    {
        if (used + sizeof(T) > sizeof(buffer))
            Flush();
        std::memcpy(buffer + used, &value, sizeof(T)); // the host is little-endian
        used += sizeof(T);
    }
    bool Flush() noexcept
    {
        if (used)
            ok = out.Write(buffer, used) && ok;
        used = 0;
        return ok;
    }

private:
    AtomicFileWriter& out;
    char buffer[1 << 16];
    std::size_t used = 0;
    bool ok = true;
};

static_assert(std::endian::native == std::endian::little, "binary output assumes little-endian");

} // namespace

void WritePly(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
              std::string_view path, PlyOutput encoding)
{
    std::uint64_t vertices = 0, faces = 0;
    for (const Mesh3d* mesh : meshes) {
        vertices += HasVertices(*mesh) ? mesh->vertexCount : 0;
        faces += HasFaces(*mesh) ? mesh->faceCount : 0;
    }
    if (vertices > 0xFFFFFFFFu || faces > 0xFFFFFFFFu)
        throw FormatError(std::string(path) + ": more than 4294967295 vertices or faces");
    const bool floats = CheckVertices(meshes, path);
    const bool binary = encoding == PlyOutput::kBinaryLittleEndian;
    const char* type = floats ? "float" : "double";

    std::string head = "ply\nformat ";
    head += binary ? "binary_little_endian" : "ascii";
    head += " 1.0\ncomment written by Polyvant\nelement vertex ";
    head += std::to_string(vertices);
    for (const char* axis : {"x", "y", "z"})
        head += std::string("\nproperty ") + type + " " + axis;
    head += "\nelement face " + std::to_string(faces);
    head += "\nproperty list uchar uint vertex_indices\nend_header\n";
    if (!out.Write(head))
        return;

    ProgressMeter meter("Writing PLY", vertices + faces, 1u << 16);
    std::uint64_t done = 0;
    if (binary) {
        BinaryOut bin(out);
        for (const Mesh3d* mesh : meshes) {
            if (!HasVertices(*mesh))
                continue;
            const double* v = mesh->vertexData;
            const std::size_t n = 3 * std::size_t(mesh->vertexCount);
            for (std::size_t i = 0; i < n; ++i) {
                if (floats)
                    bin.Put(static_cast<float>(v[i]));
                else
                    bin.Put(v[i]);
            }
            meter.Update(done += mesh->vertexCount);
        }
        std::uint32_t base = 0;
        for (const Mesh3d* mesh : meshes) {
            if (HasFaces(*mesh)) {
                for (std::uint32_t f = 0; f < mesh->faceCount; ++f) {
                    const std::uint32_t* w = mesh->faceData + 4 * std::size_t(f);
                    bin.Put(std::uint8_t(3));
                    for (int k = 0; k < 3; ++k) {
                        if (w[k] >= mesh->vertexCount)
                            BadFace(path, *mesh, f, w[k]);
                        bin.Put(base + w[k]);
                    }
                    if ((f & 0xFFFF) == 0xFFFF) {
                        if (!bin.Flush())
                            return;
                        meter.Update(done += 0x10000);
                    }
                }
            }
            base += HasVertices(*mesh) ? mesh->vertexCount : 0;
        }
        bin.Flush();
        return;
    }

    TextWriter text(out);
    char number[32];
    for (const Mesh3d* mesh : meshes) {
        if (!HasVertices(*mesh))
            continue;
        const double* v = mesh->vertexData;
        for (std::uint32_t i = 0; i < mesh->vertexCount; ++i) {
            for (int k = 0; k < 3; ++k) {
                // Shortest text that reads back as the same value (-0 stays "-0").
                const double value = v[3 * std::size_t(i) + k];
                const auto r = floats ? std::to_chars(number, number + sizeof(number),
                                                      static_cast<float>(value))
                                      : std::to_chars(number, number + sizeof(number), value);
                text.Put(std::string_view(number, static_cast<std::size_t>(r.ptr - number)));
                text.Put(k < 2 ? ' ' : '\n');
            }
            if ((i & 0xFFFF) == 0xFFFF) {
                if (!text.Flush())
                    return;
                meter.Update(done += 0x10000);
            }
        }
    }
    std::uint32_t base = 0;
    for (const Mesh3d* mesh : meshes) {
        if (HasFaces(*mesh)) {
            for (std::uint32_t f = 0; f < mesh->faceCount; ++f) {
                const std::uint32_t* w = mesh->faceData + 4 * std::size_t(f);
                text.Put('3');
                for (int k = 0; k < 3; ++k) {
                    if (w[k] >= mesh->vertexCount)
                        BadFace(path, *mesh, f, w[k]);
                    text.Put(' ');
                    text.PutUnsigned(base + w[k]);
                }
                text.Put('\n');
                if ((f & 0xFFFF) == 0xFFFF) {
                    if (!text.Flush())
                        return;
                    meter.Update(done += 0x10000);
                }
            }
        }
        base += HasVertices(*mesh) ? mesh->vertexCount : 0;
    }
    text.Flush();
}

} // namespace polyvant::formats::ply
