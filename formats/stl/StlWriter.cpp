#include "stl/StlWriter.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/AtomicFileWriter.h"
#include "common/OrderedText.h"
#include "common/PluginSupport.h"
#include "common/TextWriter.h"

namespace polyvant::formats::stl {

namespace {

// Must not begin with "solid", or readers would take the file for ASCII.
constexpr char kBinaryHeader[] = "binary STL written by Polyvant";

std::string MeshLabel(const Mesh3d& mesh)
{
    return std::string("mesh '") + (mesh.name ? mesh.name : "") + "'";
}

// The three corners of face f, after checking that the mesh can be read.
void Corners(const Mesh3d& mesh, std::uint32_t f, std::string_view path, const double* out[3])
{
    const std::uint32_t* face = mesh.faceData + 4 * std::size_t(f);
    for (int k = 0; k < 3; ++k) {
        if (face[k] >= mesh.vertexCount)
            throw FormatError(std::string(path) + ": " + MeshLabel(mesh) + ": face " +
                              std::to_string(f) + " names vertex " + std::to_string(face[k]) +
                              " but the mesh has " + std::to_string(mesh.vertexCount));
        const double* p = mesh.vertexData + 3 * std::size_t(face[k]);
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
            throw FormatError(std::string(path) + ": " + MeshLabel(mesh) + ": vertex " +
                              std::to_string(face[k]) + " is not a finite position");
        out[k] = p;
    }
}

void Normal(const double* a, const double* b, const double* c, double n[3]) noexcept
{
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    n[0] = u[1] * v[2] - u[2] * v[1];
    n[1] = u[2] * v[0] - u[0] * v[2];
    n[2] = u[0] * v[1] - u[1] * v[0];
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length > 0 && std::isfinite(length)) {
        for (int k = 0; k < 3; ++k)
            n[k] /= length;
    } else {
        n[0] = n[1] = n[2] = 0; // degenerate facet
    }
}

bool Usable(const Mesh3d& mesh) noexcept
{
    return mesh.faceCount > 0 && mesh.faceData && mesh.vertexData;
}

void PutFloat(char* p, double value) noexcept
{
    const float f = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    for (int k = 0; k < 4; ++k)
        p[k] = static_cast<char>(bits >> (8 * k));
}

// One facet of a binary file: normal, corners and a zero attribute count, 50 bytes.
void PutRecord(const Mesh3d& mesh, std::uint32_t f, std::string_view path, char* r)
{
    const double* c[3];
    Corners(mesh, f, path, c);
    double n[3];
    Normal(c[0], c[1], c[2], n);
    for (int k = 0; k < 3; ++k)
        PutFloat(r + 4 * k, n[k]);
    for (int v = 0; v < 3; ++v)
        for (int k = 0; k < 3; ++k)
            PutFloat(r + 12 + 12 * v + 4 * k, c[v][k]);
    r[48] = r[49] = 0;
}

// 800 KB of binary records a chunk.
constexpr std::uint64_t kRecordsAChunk = 16384;

// Facets are some 250 bytes of text: chunks of 2 MB keep the memory of the two in flight
// small beside the mesh.
constexpr std::uint64_t kFacetsAChunk = 8192;

// One facet in ASCII.
void PutFacet(const Mesh3d& mesh, std::uint32_t f, std::string_view path, TextWriter& text)
{
    const double* c[3];
    Corners(mesh, f, path, c);
    double n[3];
    Normal(c[0], c[1], c[2], n);
    text.Put("  facet normal ");
    for (int k = 0; k < 3; ++k) {
        // Readers recompute normals; float precision keeps the line short.
        char number[32];
        const auto r =
            std::to_chars(number, number + sizeof(number), static_cast<float>(n[k]) + 0.0f);
        text.Put(std::string_view(number, static_cast<std::size_t>(r.ptr - number)));
        text.Put(k < 2 ? ' ' : '\n');
    }
    text.Put("    outer loop\n");
    for (int v = 0; v < 3; ++v) {
        text.Put("      vertex ");
        for (int k = 0; k < 3; ++k) {
            text.PutDouble(c[v][k]);
            text.Put(k < 2 ? ' ' : '\n');
        }
    }
    text.Put("    endloop\n  endfacet\n");
}

} // namespace

void WriteStlBinary(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
                    std::string_view path)
{
    std::uint64_t total = 0;
    for (const Mesh3d* mesh : meshes)
        total += Usable(*mesh) ? mesh->faceCount : 0;
    if (total > 0xFFFFFFFFu)
        throw FormatError(std::string(path) + ": " + std::to_string(total) +
                          " triangles do not fit a binary STL (at most 4294967295)");
    char header[84] = {};
    std::memcpy(header, kBinaryHeader, sizeof(kBinaryHeader) - 1);
    for (int k = 0; k < 4; ++k)
        header[80 + k] = static_cast<char>(total >> (8 * k));
    if (!out.Write(header, sizeof(header)))
        return;

    ProgressMeter meter("Writing STL", total, 1u << 16);
    std::uint64_t done = 0;
    // Thrown by the writing side to stop both threads once the file cannot be written.
    struct WriteFailed {};
    const auto write = [&](const char* bytes, std::size_t size, std::uint64_t count) {
        if (!out.Write(bytes, size))
            throw WriteFailed{};
        meter.Update(done + count);
    };
    try {
        for (const Mesh3d* mesh : meshes) {
            if (!Usable(*mesh))
                continue;
            // Records [first, last) in blocks of 50 KB, each handed to put(bytes, size, last
            // record's number + 1).
            const auto pack = [mesh, path](std::uint64_t first, std::uint64_t last, auto&& put) {
                constexpr std::size_t kBatch = 1024;
                char buffer[50 * kBatch];
                std::size_t used = 0;
                for (std::uint64_t f = first; f < last; ++f) {
                    PutRecord(*mesh, static_cast<std::uint32_t>(f), path, buffer + used);
                    used += 50;
                    if (used == sizeof(buffer) || f + 1 == last) {
                        put(buffer, used, f + 1);
                        used = 0;
                    }
                }
            };
            if (mesh->faceCount <= 2 * kRecordsAChunk) {
                // Straight to the file: a second thread would not start for so few.
                pack(0, mesh->faceCount, write);
            } else {
                // The normals and the packing of the records take about as long as
                // handing them to the file: two threads share them, in order.
                FormatInOrder(
                    mesh->faceCount,
                    [&pack](std::uint64_t first, std::uint64_t last, TextWriter& records) {
                        pack(first, last, [&](const char* bytes, std::size_t size, std::uint64_t) {
                            records.Put(std::string_view(bytes, size));
                        });
                    },
                    [&](const std::string& chunk, std::uint64_t count) {
                        write(chunk.data(), chunk.size(), count);
                    },
                    kRecordsAChunk);
            }
            done += mesh->faceCount;
        }
    } catch (const WriteFailed&) {
        // The writer keeps the error for its Commit.
    }
}

void WriteStlAscii(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
                   std::string_view path)
{
    std::uint64_t total = 0;
    for (const Mesh3d* mesh : meshes)
        total += Usable(*mesh) ? mesh->faceCount : 0;
    TextWriter text(out);
    ProgressMeter meter("Writing STL", total, 1u << 16);
    std::uint64_t done = 0;
    for (const Mesh3d* mesh : meshes) {
        if (!Usable(*mesh))
            continue;
        // The name runs to the end of the "solid" line: no line breaks in it.
        std::string name = mesh->name && *mesh->name ? mesh->name : "mesh";
        for (char& ch : name)
            if (ch == '\n' || ch == '\r')
                ch = ' ';
        text.Put("solid ");
        text.Put(name);
        text.Put('\n');
        // Number formatting is most of the work: two threads share it, in order.
        FormatInOrder(
            mesh->faceCount,
            [mesh, path](std::uint64_t first, std::uint64_t last, TextWriter& facets) {
                for (std::uint64_t f = first; f < last; ++f)
                    PutFacet(*mesh, static_cast<std::uint32_t>(f), path, facets);
            },
            [&](const std::string& chunk, std::uint64_t count) {
                text.Put(chunk);
                meter.Update(done + count);
            },
            kFacetsAChunk);
        done += mesh->faceCount;
        text.Put("endsolid ");
        text.Put(name);
        text.Put('\n');
    }
    text.Flush();
}

} // namespace polyvant::formats::stl
