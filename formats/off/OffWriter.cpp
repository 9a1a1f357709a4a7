#include "off/OffWriter.h"

#include <memory>
#include <string>

#include "common/PluginSupport.h"
#include "common/TextWriter.h"

namespace polyvant::formats::off {

void WriteOff(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out, const char* path)
{
    std::uint64_t vertices = 0, faces = 0;
    for (const Mesh3d* mesh : meshes) {
        CheckMeshForExport(*mesh, path);
        vertices += mesh->vertexCount;
        faces += mesh->faceCount;
    }
    if (vertices > 0xFFFFFFFFu)
        throw FormatError(std::string(path) + ": more than 4294967295 vertices for one OFF mesh");
    auto writer = std::make_unique<TextWriter>(out);
    TextWriter& w = *writer;
    w.Put("OFF\n");
    w.PutUnsigned(vertices);
    w.Put(' ');
    w.PutUnsigned(faces);
    w.Put(" 0\n");
    ProgressMeter progress("Writing OFF file", vertices + faces, 1u << 18);
    std::uint64_t done = 0;
    for (const Mesh3d* mesh : meshes) {
        const double* v = mesh->vertexData;
        for (std::uint32_t i = 0; i < mesh->vertexCount; ++i, v += 3) {
            w.PutDouble(v[0]);
            w.Put(' ');
            w.PutDouble(v[1]);
            w.Put(' ');
            w.PutDouble(v[2]);
            w.Put('\n');
            if ((i & 0xFFFF) == 0xFFFF)
                progress.Update(done + i);
        }
        done += mesh->vertexCount;
    }
    std::uint64_t base = 0;
    for (const Mesh3d* mesh : meshes) {
        const std::uint32_t* f = mesh->faceData;
        for (std::uint32_t i = 0; i < mesh->faceCount; ++i, f += kFaceWords) {
            w.PutTriangleLine("3 ", f, base);
            if ((i & 0xFFFF) == 0xFFFF)
                progress.Update(done + i);
        }
        done += mesh->faceCount;
        base += mesh->vertexCount;
    }
    w.Flush();
}

} // namespace polyvant::formats::off
