#include "obj/ObjWriter.h"

#include <memory>
#include <string>

#include "common/OrderedText.h"
#include "common/PluginSupport.h"
#include "common/TextWriter.h"

namespace polyvant::formats::obj {

namespace {

// Object names run to the end of the line: keep them on one line and non-empty.
std::string StatementName(const char* name)
{
    std::string text = name ? name : "";
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '_';
    const auto first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text.empty() ? std::string("object") : text;
}

} // namespace

void WriteObj(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out, const char* path)
{
    std::uint64_t totalVertices = 0, totalFaces = 0;
    for (const Mesh3d* mesh : meshes) {
        CheckMeshForExport(*mesh, path);
        totalVertices += mesh->vertexCount;
        totalFaces += mesh->faceCount;
    }
    auto writer = std::make_unique<TextWriter>(out);
    TextWriter& w = *writer;
    w.Put("# WaveFront OBJ written by Polyvant\n# ");
    w.PutUnsigned(meshes.size());
    w.Put(" objects, ");
    w.PutUnsigned(totalVertices);
    w.Put(" vertices, ");
    w.PutUnsigned(totalFaces);
    w.Put(" triangles\n");

    ProgressMeter progress("Writing WaveFront file", totalVertices + totalFaces, 1u << 18);
    std::uint64_t done = 0;
    std::uint64_t base = 1; // OBJ indices are 1-based and count over the whole file
    for (const Mesh3d* mesh : meshes) {
        w.Put("o ");
        w.Put(StatementName(mesh->name));
        w.Put('\n');
        // Number formatting is most of the work: two threads share it, in order.
        const double* v = mesh->vertexData;
        FormatInOrder(
            mesh->vertexCount,
            [v](std::uint64_t first, std::uint64_t last, TextWriter& text) {
                for (const double* p = v + 3 * first; p != v + 3 * last; p += 3) {
                    text.Put("v ");
                    text.PutDouble(p[0]);
                    text.Put(' ');
                    text.PutDouble(p[1]);
                    text.Put(' ');
                    text.PutDouble(p[2]);
                    text.Put('\n');
                }
            },
            [&](const std::string& chunk, std::uint64_t count) {
                w.Put(chunk);
                progress.Update(done + count);
            });
        done += mesh->vertexCount;
        const std::uint32_t* f = mesh->faceData;
        FormatInOrder(
            mesh->faceCount,
            [f, base](std::uint64_t first, std::uint64_t last, TextWriter& text) {
                for (const std::uint32_t* p = f + kFaceWords * first; p != f + kFaceWords * last;
                     p += kFaceWords)
                    text.PutTriangleLine("f ", p, base);
            },
            [&](const std::string& chunk, std::uint64_t count) {
                w.Put(chunk);
                progress.Update(done + count);
            });
        done += mesh->faceCount;
        base += mesh->vertexCount;
    }
    w.Flush();
}

} // namespace polyvant::formats::obj
