#include "LwoWriter.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {
namespace {

constexpr std::size_t kMaxIndex = 0x00FFFFFF; // VX indices carry 24 bits
constexpr std::size_t kMaxLayers = 0xFFFF;    // layer numbers are U2

// Appends big-endian IFF chunks and patches each size when its chunk ends.
class IffWriter {
public:
    explicit IffWriter(std::vector<unsigned char>& out) : out(out) {}

    void Begin(const char* id)
    {
        out.insert(out.end(), id, id + 4);
        open.push_back(out.size());
        U32(0);
    }
    // Pads odd chunks; false when a chunk grew past a 32-bit size.
    bool End()
    {
        const std::size_t at = open.back();
        open.pop_back();
        const std::size_t length = out.size() - at - 4;
        if (length > UINT32_MAX - 1)
            return false;
        for (int i = 0; i < 4; ++i)
            out[at + std::size_t(i)] = static_cast<unsigned char>(length >> (24 - 8 * i));
        if (length & 1)
            out.push_back(0);
        return true;
    }
    void U16(std::uint32_t v)
    {
        out.push_back(static_cast<unsigned char>(v >> 8));
        out.push_back(static_cast<unsigned char>(v));
    }
    void U32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<unsigned char>(v >> (24 - 8 * i)));
    }
    void F32(float f)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        U32(bits);
    }
    void VX(std::uint32_t index)
    {
        if (index < 0xFF00)
            U16(index);
        else
            U32(0xFF000000u | index);
    }
    void S0(const std::string& s)
    {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
        if ((s.size() + 1) & 1)
            out.push_back(0);
    }
    void Id(const char* id) { out.insert(out.end(), id, id + 4); }

private:
    std::vector<unsigned char>& out;
    std::vector<std::size_t> open;
};

std::string Check(const Mesh3d& mesh)
{
    const std::string name = mesh.name ? mesh.name : "";
    if ((mesh.vertexCount && !mesh.vertexData) || (mesh.faceCount && !mesh.faceData))
        return "mesh '" + name + "' has counts but no data";
    if (mesh.vertexCount > kMaxIndex + 1 || mesh.faceCount > kMaxIndex + 1)
        return "mesh '" + name +
               "' has more than 16777216 vertices or faces, more than a "
               "Lightwave layer can index";
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

std::string SurfaceName(std::uint32_t word3)
{
    return word3 ? "Surface" + std::to_string(word3) : "Default";
}

} // namespace

bool BuildLwoImage(const std::vector<const Mesh3d*>& meshes, LwoImage& image)
{
    if (meshes.size() > kMaxLayers) {
        image.error = "more than 65535 meshes, more than a Lightwave file has layers";
        return false;
    }
    std::vector<std::uint32_t> surfaces;
    for (const Mesh3d* mesh : meshes) {
        image.error = Check(*mesh);
        if (!image.error.empty())
            return false;
        for (std::uint32_t i = 0; i < mesh->faceCount; ++i)
            surfaces.push_back(mesh->faceData[kFaceWords * i + 3]);
        std::sort(surfaces.begin(), surfaces.end());
        surfaces.erase(std::unique(surfaces.begin(), surfaces.end()), surfaces.end());
    }
    if (surfaces.empty())
        surfaces.push_back(0);
    if (surfaces.size() > 0xFFFF) { // PTAG tags are U2
        image.error = "too many distinct surfaces for a Lightwave file";
        return false;
    }

    image.bytes.clear();
    IffWriter w(image.bytes);
    bool fits = true;
    w.Begin("FORM");
    w.Id("LWO2");
    w.Begin("TAGS");
    for (std::uint32_t s : surfaces)
        w.S0(SurfaceName(s));
    fits = w.End() && fits;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const Mesh3d& mesh = *meshes[m];
        w.Begin("LAYR");
        w.U16(std::uint32_t(m));
        w.U16(0); // visible
        for (int i = 0; i < 3; ++i)
            w.F32(0.0f); // pivot
        w.S0(mesh.name ? mesh.name : "");
        w.End();

        // Lightwave's Y is the program's Z: exchange them back.
        float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
        w.Begin("PNTS");
        for (std::uint32_t i = 0; i < mesh.vertexCount; ++i) {
            const double* v = mesh.vertexData + 3 * std::size_t(i);
            const float p[3] = {float(v[0]), float(v[2]), float(v[1])};
            for (int c = 0; c < 3; ++c) {
                w.F32(p[c]);
                lo[c] = i ? std::min(lo[c], p[c]) : p[c];
                hi[c] = i ? std::max(hi[c], p[c]) : p[c];
            }
        }
        fits = w.End() && fits;
        w.Begin("BBOX");
        for (float c : lo)
            w.F32(c);
        for (float c : hi)
            w.F32(c);
        w.End();

        w.Begin("POLS");
        w.Id("FACE");
        const std::uint32_t* f = mesh.faceData;
        for (std::uint32_t i = 0; i < mesh.faceCount; ++i, f += kFaceWords) {
            w.U16(3); // reversed back into Lightwave's clockwise order
            w.VX(f[2]);
            w.VX(f[1]);
            w.VX(f[0]);
        }
        fits = w.End() && fits;

        w.Begin("PTAG");
        w.Id("SURF");
        f = mesh.faceData;
        for (std::uint32_t i = 0; i < mesh.faceCount; ++i, f += kFaceWords) {
            w.VX(i);
            const auto tag = std::lower_bound(surfaces.begin(), surfaces.end(), f[3]);
            w.U16(std::uint32_t(tag - surfaces.begin()));
        }
        fits = w.End() && fits;
    }
    for (std::uint32_t s : surfaces) {
        w.Begin("SURF");
        w.S0(SurfaceName(s));
        w.S0("");
        w.Id("COLR"); // sub-chunks have U2 sizes: VEC12 colour + VX envelope
        w.U16(14);
        for (int i = 0; i < 3; ++i)
            w.F32(0.78f);
        w.U16(0);
        w.Id("DIFF");
        w.U16(6);
        w.F32(1.0f);
        w.U16(0);
        w.End();
    }
    fits = w.End() && fits;
    if (!fits) {
        image.error = "the scene is too big for a Lightwave file (over 4 GiB)";
        image.bytes.clear();
        return false;
    }
    return true;
}

} // namespace polyvant::formats
