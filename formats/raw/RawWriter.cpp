#include "raw/RawWriter.h"

#include <memory>
#include <string>

#include "common/PluginSupport.h"
#include "common/TextScan.h"
#include "common/TextWriter.h"

namespace polyvant::formats::raw {

namespace {

// A name line must not start with something that reads as a number.
std::string HeaderName(const char* name)
{
    std::string text = name ? name : "";
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '_';
    const char* b = text.data();
    const char* e = TrimEnd(b, b + text.size());
    b = SkipBlanks(b, e);
    text.assign(b, e);
    double v;
    NumberError error;
    const char first = text.empty() ? '_' : text[0];
    if (text.empty() || ParseCoordinate(text.data(), text.data() + text.size(), v, error) ||
        (first >= '0' && first <= '9') || first == '.' || first == '-' || first == '+')
        text.insert(0, "_");
    return text;
}

} // namespace

void WriteRaw(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out, const char* path)
{
    std::uint64_t total = 0;
    for (const Mesh3d* mesh : meshes) {
        CheckMeshForExport(*mesh, path);
        total += mesh->faceCount;
    }
    auto writer = std::make_unique<TextWriter>(out);
    TextWriter& w = *writer;
    ProgressMeter progress("Writing RAW file", total, 1u << 17);
    std::uint64_t done = 0;
    for (const Mesh3d* mesh : meshes) {
        w.Put(HeaderName(mesh->name));
        w.Put('\n');
        const std::uint32_t* f = mesh->faceData;
        for (std::uint32_t i = 0; i < mesh->faceCount; ++i, f += kFaceWords) {
            for (int k = 0; k < 3; ++k) {
                const double* p = mesh->vertexData + 3 * std::size_t(f[k]);
                for (int c = 0; c < 3; ++c) {
                    w.PutDouble(p[c]);
                    w.Put(k == 2 && c == 2 ? '\n' : ' ');
                }
            }
            if ((i & 0xFFFF) == 0xFFFF)
                progress.Update(done + i);
        }
        done += mesh->faceCount;
    }
    w.Flush();
}

} // namespace polyvant::formats::raw
