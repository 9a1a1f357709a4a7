#include "LwoReader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>

#include "common/TextScan.h"

namespace polyvant::formats {
namespace {

constexpr std::size_t kProgressStep = 1 << 20;
// Ear clipping a concave polygon of n corners costs up to about n^2 steps. Past this much
// work in one file, the remaining polygons of five corners or more are fanned, so a file
// full of huge concave polygons cannot stall an import.
constexpr std::size_t kEarClipWork = std::size_t(1) << 26;

std::uint16_t U16(const unsigned char* p)
{
    return std::uint16_t(p[0] << 8 | p[1]);
}
std::uint32_t U32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}
float F32(const unsigned char* p)
{
    const std::uint32_t bits = U32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

bool Is(const unsigned char* p, const char (&id)[5])
{
    return std::memcmp(p, id, 4) == 0;
}

// The four id bytes, with anything unprintable shown as '?'.
std::string IdText(const unsigned char* p)
{
    std::string s(4, '?');
    for (int i = 0; i < 4; ++i)
        if (p[i] >= 0x20 && p[i] < 0x7F)
            s[std::size_t(i)] = char(p[i]);
    return s;
}

struct Layer {
    std::string name;
    std::vector<float> points;          // x, y, z per point, program axes
    std::vector<std::uint32_t> corners; // corners of every polygon, layer-wide indices
    std::vector<std::uint32_t> polyEnd; // end of each polygon's corners (skipped: empty)
    std::vector<std::uint32_t> polyWord3;
    std::size_t pointBase = 0; // first point of the latest PNTS chunk
    std::size_t polyBase = 0;  // first polygon of the latest POLS chunk
    bool tagsApply = false;    // whether PTAG may refer to the latest POLS chunk
};

// A VX index at p bounded by end (2 bytes, or 4 with a leading 0xFF and 24 bits that
// count); false when it does not fit. Hot: one call per polygon corner.
inline bool VX(const unsigned char* data, std::size_t& p, std::size_t end, std::uint32_t& out)
{
    if (end - p < 2)
        return false;
    if (data[p] != 0xFF) {
        out = U16(data + p);
        p += 2;
        return true;
    }
    if (end - p < 4)
        return false;
    out = U32(data + p) & 0x00FFFFFF;
    p += 4;
    return true;
}

// Lightwave's front faces run clockwise in its left-handed frame, which in the file's
// numbers means (p1 - p0) x (p2 - p0) points out of the face. Exchanging Y and Z mirrors
// that cross product, so the corners are reversed to keep it pointing out.
void ReverseLast(Layer& layer, std::size_t first)
{
    std::reverse(layer.corners.begin() + std::ptrdiff_t(first), layer.corners.end());
}

class Reader {
public:
    Reader(const unsigned char* data, std::size_t size, LwoScene& scene,
           const std::string& defaultName, const LwoProgress& progress)
        : data(data), size(size), scene(scene), defaultName(defaultName), progress(progress)
    {
    }

    bool Run();

private:
    bool Fail(std::size_t offset, std::string what)
    {
        scene.errorOffset = offset;
        scene.error = std::move(what);
        return false;
    }
    std::string Where(std::size_t offset) const { return "chunk '" + IdText(data + offset) + "'"; }
    bool Chunk(std::size_t offset, std::size_t body, std::size_t end);
    bool Points(std::size_t offset, std::size_t body, std::size_t end);
    bool Polygons2(std::size_t offset, std::size_t body, std::size_t end);
    bool PolygonsB(std::size_t offset, std::size_t body, std::size_t end);
    bool Tags(std::size_t offset, std::size_t body, std::size_t end);
    bool Names(std::size_t offset, std::size_t body, std::size_t end);
    bool NewLayer(std::size_t offset, std::size_t body, std::size_t end);
    // An S0 string at p (NUL-terminated, padded to even length) bounded by end.
    bool S0(std::size_t& p, std::size_t end, std::string& out) const;
    bool Ask(std::size_t at);
    Layer& Current();
    void Finish();

    const unsigned char* data;
    std::size_t size;
    LwoScene& scene;
    const std::string& defaultName;
    const LwoProgress& progress;
    bool lwo2 = false;
    std::vector<Layer> layers;
    std::size_t nextProgress = kProgressStep;
    std::size_t dropped = 0; // polygons with a corner past their layer's points
    std::size_t badTags = 0; // PTAG entries naming no polygon or no tag
    std::size_t earClipWork = 0;
    std::size_t fanned = 0; // big polygons fanned once earClipWork ran out
    std::map<std::string, std::size_t> skippedTypes;
};

bool Reader::Ask(std::size_t at)
{
    if (at < nextProgress)
        return true;
    nextProgress = at + kProgressStep;
    return !progress || progress(double(at) / double(size));
}

Layer& Reader::Current()
{
    if (layers.empty())
        layers.emplace_back().name = defaultName;
    return layers.back();
}

bool Reader::S0(std::size_t& p, std::size_t end, std::string& out) const
{
    const void* nul = p < end ? std::memchr(data + p, 0, end - p) : nullptr;
    if (!nul)
        return false;
    const std::size_t n = std::size_t(static_cast<const unsigned char*>(nul) - (data + p));
    out.assign(reinterpret_cast<const char*>(data + p), n);
    p += n + 1;
    if ((n + 1) % 2 && p < end)
        ++p;
    return true;
}

bool Reader::Run()
{
    if (size < 12)
        return Fail(0, "file too short for an IFF FORM (" + std::to_string(size) + " bytes)");
    if (!Is(data, "FORM"))
        return Fail(0, "not a Lightwave object: the file does not start with an IFF FORM");
    const std::uint32_t formSize = U32(data + 4);
    const unsigned char* type = data + 8;
    if (Is(type, "LXOB"))
        return Fail(8, "FORM type 'LXOB' is a later modeller's own format, not a Lightwave "
                       "object this plug-in reads");
    if (!Is(type, "LWO2") && !Is(type, "LWOB") && !Is(type, "LWLO"))
        return Fail(8, "not a Lightwave object: FORM type '" + IdText(type) + "'");
    scene.formType = IdText(type);
    lwo2 = Is(type, "LWO2");
    if (formSize < 4 || formSize > size - 8)
        return Fail(4, "FORM size " + std::to_string(formSize) + " does not fit the file (" +
                           std::to_string(size) + " bytes)");
    const std::size_t end = 8 + std::size_t(formSize);
    if (end + 1 < size) // one pad byte after an odd FORM is allowed
        scene.warnings.push_back("ignored " + std::to_string(size - end) + " bytes after the FORM");

    std::size_t p = 12;
    while (p < end) {
        if (end - p < 8) {
            scene.warnings.push_back("ignored " + std::to_string(end - p) +
                                     " stray bytes at offset " + std::to_string(p));
            break;
        }
        const std::uint32_t length = U32(data + p + 4);
        if (length > end - p - 8)
            return Fail(p, Where(p) + ": size " + std::to_string(length) +
                               " runs past the end of the FORM (" + std::to_string(end - p - 8) +
                               " bytes left)");
        if (!Ask(p))
            return Fail(p, "cancelled");
        const std::size_t body = p + 8;
        const std::size_t chunkEnd = body + length;
        if (!Chunk(p, body, chunkEnd))
            return false;
        // Odd sizes carry one pad byte, which a writer may leave off at the very end.
        p = chunkEnd + (length & 1);
        if (p > end)
            p = end;
    }
    Finish();
    return true;
}

bool Reader::Chunk(std::size_t offset, std::size_t body, std::size_t end)
{
    const unsigned char* id = data + offset;
    if (Is(id, "PNTS"))
        return Points(offset, body, end);
    if (Is(id, "POLS"))
        return lwo2 ? Polygons2(offset, body, end) : PolygonsB(offset, body, end);
    if (Is(id, "PTAG"))
        return lwo2 ? Tags(offset, body, end) : true;
    if (Is(id, "TAGS") || Is(id, "SRFS"))
        return Names(offset, body, end);
    if (Is(id, "LAYR"))
        return NewLayer(offset, body, end);
    if (Is(id, "CRVS") || Is(id, "PCHS"))
        ++skippedTypes[IdText(id)];
    return true; // surfaces, maps, envelopes, clips, bounding boxes: not geometry
}

bool Reader::NewLayer(std::size_t offset, std::size_t body, std::size_t end)
{
    // LWO2: U2 number, U2 flags, VEC12 pivot, S0 name [, U2 parent]; LWLO: no pivot.
    const std::size_t fixed = lwo2 ? 16 : 4;
    if (end - body < fixed)
        return Fail(offset, Where(offset) + ": too short for a layer header");
    const unsigned number = U16(data + body);
    std::size_t p = body + fixed;
    std::string name;
    if (!S0(p, end, name))
        return Fail(offset, Where(offset) + ": the layer name has no terminating NUL");
    Layer& layer = layers.emplace_back();
    layer.name = name.empty() ? "Layer " + std::to_string(number + (lwo2 ? 1 : 0)) : name;
    return true;
}

bool Reader::Names(std::size_t offset, std::size_t body, std::size_t end)
{
    std::size_t p = body;
    std::string name;
    while (p < end) {
        if (!S0(p, end, name))
            return Fail(p, Where(offset) + ": a name has no terminating NUL");
        scene.surfaces.push_back(name);
    }
    return true;
}

bool Reader::Points(std::size_t offset, std::size_t body, std::size_t end)
{
    if ((end - body) % 12)
        return Fail(offset, Where(offset) + ": size " + std::to_string(end - body) +
                                " is not a whole number of 12-byte points");
    Layer& layer = Current();
    layer.pointBase = layer.points.size() / 3;
    const std::size_t n = (end - body) / 12;
    const std::size_t first = layer.points.size();
    layer.points.resize(first + 3 * n);
    float* out = layer.points.data() + first;
    for (std::size_t i = 0; i < n; ++i, out += 3) {
        const unsigned char* v = data + body + 12 * i;
        out[0] = F32(v);
        out[1] = F32(v + 8);
        out[2] = F32(v + 4);
        // |c| <= limit is false for NaN too.
        if (!(std::fabs(out[0]) <= kMaxCoordinate && std::fabs(out[1]) <= kMaxCoordinate &&
              std::fabs(out[2]) <= kMaxCoordinate))
            return Fail(body + 12 * i, Where(offset) + ": point " + std::to_string(i) +
                                           " has a non-finite or huge coordinate");
    }
    return true;
}

bool Reader::Polygons2(std::size_t offset, std::size_t body, std::size_t end)
{
    if (end - body < 4)
        return Fail(offset, Where(offset) + ": no room for the polygon type");
    Layer& layer = Current();
    const std::string type = IdText(data + body);
    layer.polyBase = layer.polyEnd.size();
    layer.tagsApply = type == "FACE" || type == "PTCH" || type == "SUBD";
    if (!layer.tagsApply) {
        ++skippedTypes[type];
        return true;
    }
    const std::size_t pointCount = layer.points.size() / 3;
    // Every polygon takes at least 2 bytes and every corner 2: bounds from the chunk size.
    layer.corners.reserve(layer.corners.size() + (end - body) / 2);
    layer.polyEnd.reserve(layer.polyEnd.size() + (end - body) / 8);
    layer.polyWord3.reserve(layer.polyWord3.size() + (end - body) / 8);
    std::size_t p = body + 4;
    std::size_t polygons = 0;
    while (p < end) {
        if (end - p < 2)
            return Fail(p, Where(offset) + ": a polygon header runs past the chunk");
        const unsigned n = U16(data + p) & 0x03FF;
        const std::size_t start = p;
        p += 2;
        const std::size_t first = layer.corners.size();
        bool inside = true;
        for (unsigned k = 0; k < n; ++k) {
            std::uint32_t index;
            if (!VX(data, p, end, index))
                return Fail(start, Where(offset) + ": polygon " + std::to_string(polygons) +
                                       " runs past the end of the chunk");
            const std::size_t global = layer.pointBase + index;
            inside = inside && global < pointCount;
            layer.corners.push_back(std::uint32_t(global));
        }
        if (!inside) {
            ++dropped;
            layer.corners.resize(first);
        } else if (n < 3) {
            layer.corners.resize(first); // points and lines have no area
        } else {
            ReverseLast(layer, first);
        }
        layer.polyEnd.push_back(std::uint32_t(layer.corners.size()));
        layer.polyWord3.push_back(0);
        if ((++polygons & 0xFFFF) == 0 && !Ask(p))
            return Fail(p, "cancelled");
    }
    return true;
}

bool Reader::PolygonsB(std::size_t offset, std::size_t body, std::size_t end)
{
    // U2 count, count x U2 index, I2 surface; a negative surface is followed by a U2
    // count of detail polygons written the same way, so the run reads as one sequence.
    Layer& layer = Current();
    layer.polyBase = layer.polyEnd.size();
    const std::size_t pointCount = layer.points.size() / 3;
    std::size_t p = body;
    std::size_t polygons = 0;
    while (p < end) {
        const std::size_t start = p;
        if (end - p < 2)
            return Fail(p, Where(offset) + ": a polygon header runs past the chunk");
        const std::size_t n = U16(data + p);
        p += 2;
        if (n > (end - p) / 2 || end - p - 2 * n < 2)
            return Fail(start, Where(offset) + ": polygon " + std::to_string(polygons) + " with " +
                                   std::to_string(n) + " points runs past the end of the chunk");
        const std::size_t first = layer.corners.size();
        bool inside = true;
        for (std::size_t k = 0; k < n; ++k, p += 2) {
            const std::size_t global = layer.pointBase + U16(data + p);
            inside = inside && global < pointCount;
            layer.corners.push_back(std::uint32_t(global));
        }
        int surface = std::int16_t(U16(data + p));
        p += 2;
        if (surface < 0) {
            if (end - p < 2)
                return Fail(start, Where(offset) + ": polygon " + std::to_string(polygons) +
                                       " lacks its detail polygon count");
            p += 2;
            surface = -surface;
        }
        if (!inside) {
            ++dropped;
            layer.corners.resize(first);
        } else if (n < 3) {
            layer.corners.resize(first);
        } else {
            ReverseLast(layer, first);
        }
        layer.polyEnd.push_back(std::uint32_t(layer.corners.size()));
        layer.polyWord3.push_back(std::uint32_t(surface));
        if ((++polygons & 0xFFFF) == 0 && !Ask(p))
            return Fail(p, "cancelled");
    }
    return true;
}

bool Reader::Tags(std::size_t offset, std::size_t body, std::size_t end)
{
    if (end - body < 4)
        return Fail(offset, Where(offset) + ": no room for the tag type");
    if (!Is(data + body, "SURF"))
        return true; // parts, smoothing groups: not needed
    Layer& layer = Current();
    std::size_t p = body + 4;
    while (p < end) {
        std::uint32_t polygon;
        if (!VX(data, p, end, polygon) || end - p < 2)
            return Fail(p, Where(offset) + ": a polygon tag runs past the end of the chunk");
        const std::uint32_t tag = U16(data + p);
        p += 2;
        const std::size_t index = layer.polyBase + polygon;
        if (!layer.tagsApply)
            continue;
        if (index >= layer.polyWord3.size() || tag >= scene.surfaces.size()) {
            ++badTags;
            continue;
        }
        layer.polyWord3[index] = tag + 1;
    }
    return true;
}

void Reader::Finish()
{
    std::vector<std::uint32_t> triangle(3);
    for (Layer& layer : layers) {
        const std::size_t pointCount = layer.points.size() / 3;
        if (pointCount == 0 && layer.polyEnd.empty())
            continue;
        MeshBuilder mesh(layer.name);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < layer.polyEnd.size(); ++i)
            kept += layer.polyEnd[i] != (i ? layer.polyEnd[i - 1] : 0);
        mesh.Reserve(pointCount, layer.corners.size() - 2 * kept); // n corners, n - 2 triangles
        for (std::size_t i = 0; i < pointCount; ++i)
            mesh.AddVertex(layer.points[3 * i], layer.points[3 * i + 1], layer.points[3 * i + 2]);
        std::size_t start = 0;
        for (std::size_t i = 0; i < layer.polyEnd.size(); ++i) {
            const std::size_t stop = layer.polyEnd[i], n = stop - start;
            const std::uint32_t* c = layer.corners.data() + start;
            const std::uint32_t word3 = layer.polyWord3[i];
            if (n > 4)
                earClipWork += n * n;
            if (n == 3) {
                mesh.AddTriangle(c[0], c[1], c[2], word3);
            } else if (n > 3 && (n == 4 || earClipWork <= kEarClipWork)) {
                mesh.AddPolygon(c, n, word3);
            } else if (n > 3) {
                ++fanned;
                for (std::size_t k = 1; k + 1 < n; ++k)
                    mesh.AddTriangle(c[0], c[k], c[k + 1], word3);
            }
            start = stop;
        }
        scene.meshes.push_back(std::move(mesh));
        layer = Layer{}; // give the memory back as we go
    }
    if (dropped)
        scene.warnings.push_back("dropped " + std::to_string(dropped) +
                                 " polygons whose points lie past their layer's point list");
    if (fanned)
        scene.warnings.push_back("fanned " + std::to_string(fanned) +
                                 " polygons of five or more corners from corner 0: the file's "
                                 "big polygons need more work than an import may spend");
    if (badTags)
        scene.warnings.push_back("ignored " + std::to_string(badTags) +
                                 " surface tags naming no polygon or no surface");
    for (const auto& [type, count] : skippedTypes)
        scene.warnings.push_back("skipped " + std::to_string(count) + " '" + type +
                                 "' chunk(s): only polygon meshes are read");
}

} // namespace

bool ReadLwo(const unsigned char* data, std::size_t size, LwoScene& scene,
             const std::string& defaultName, const LwoProgress& progress)
{
    return Reader(data, size, scene, defaultName, progress).Run();
}

} // namespace polyvant::formats
