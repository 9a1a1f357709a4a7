#include "iob/IobWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

namespace polyvant::formats::iob {
namespace {

constexpr std::size_t kNameBytes = 18;
constexpr std::size_t kShortLimit = 0xFFFF;

void Put32(std::string& out, std::uint32_t v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(b, 4);
}
void Put16(std::string& out, std::uint32_t v)
{
    const char b[2] = {char(v >> 8), char(v)};
    out.append(b, 2);
}
void PutCount(std::string& out, std::uint32_t v, bool wide)
{
    wide ? Put32(out, v) : Put16(out, v);
}

// Starts a chunk; EndChunk fills in its length and pads it to an even size.
std::size_t BeginChunk(std::string& out, const char* id)
{
    out.append(id, 4);
    Put32(out, 0);
    return out.size();
}
void EndChunk(std::string& out, std::size_t dataStart)
{
    const auto length = static_cast<std::uint32_t>(out.size() - dataStart);
    for (int i = 0; i < 4; ++i)
        out[dataStart - 4 + i] = char(length >> (24 - 8 * i));
    if (length & 1)
        out += '\0';
}

bool Fixed(double v, std::int32_t& out)
{
    const double scaled = std::round(v * 65536.0);
    if (!std::isfinite(scaled) || scaled < -2147483648.0 || scaled > 2147483647.0)
        return false;
    out = static_cast<std::int32_t>(scaled);
    return true;
}

bool PutVector(std::string& out, const double* v)
{
    for (int k = 0; k < 3; ++k) {
        std::int32_t f;
        if (!Fixed(v[k], f))
            return false;
        Put32(out, static_cast<std::uint32_t>(f));
    }
    return true;
}

// One object as a DESC chunk (appended to `out`).
bool WriteObject(const Mesh3d& mesh, std::string& out, std::vector<std::string>& warnings,
                 std::string& error)
{
    const std::string original = mesh.GetName() ? mesh.GetName() : "";
    const std::string label = original.empty() ? "(unnamed)" : original;

    // Triangles that can be stored, and their edges.
    std::vector<std::uint32_t> edges; // pairs
    std::vector<std::uint32_t> faces; // edge triples
    std::unordered_map<std::uint64_t, std::uint32_t> edgeIndex;
    std::size_t skipped = 0;
    const std::uint32_t* faceData = mesh.faceData;
    const std::uint32_t faceCount = faceData && mesh.vertexData ? mesh.faceCount : 0;
    edgeIndex.reserve(std::size_t(faceCount) * 3 / 2 + 1);
    faces.reserve(std::size_t(faceCount) * 3);
    auto edge = [&](std::uint32_t a, std::uint32_t b) {
        const std::uint64_t key = std::uint64_t(std::min(a, b)) << 32 | std::max(a, b);
        const auto [it, added] = edgeIndex.try_emplace(key, std::uint32_t(edges.size() / 2));
        if (added) {
            edges.push_back(a);
            edges.push_back(b);
        }
        return it->second;
    };
    for (std::uint32_t f = 0; f < faceCount; ++f) {
        const std::uint32_t* c = faceData + std::size_t(f) * kFaceWords;
        if (c[0] >= mesh.vertexCount || c[1] >= mesh.vertexCount || c[2] >= mesh.vertexCount ||
            c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) {
            ++skipped;
            continue;
        }
        // Edges in corner order: a reader rebuilds the corners in the same winding.
        faces.push_back(edge(c[0], c[1]));
        faces.push_back(edge(c[1], c[2]));
        faces.push_back(edge(c[2], c[0]));
    }
    if (skipped)
        warnings.push_back("object '" + label + "': " + std::to_string(skipped) +
                           " face(s) with a repeated or missing corner left out");

    const std::size_t pointCount = mesh.vertexData ? mesh.vertexCount : 0;
    const bool wide = pointCount > kShortLimit || edges.size() / 2 > kShortLimit ||
                      faces.size() / 3 > kShortLimit;

    const std::size_t desc = BeginChunk(out, "DESC");

    std::string name = original.substr(0, kNameBytes);
    if (name.size() < original.size())
        warnings.push_back("object '" + original + "' named '" + name + "' (18 characters)");
    std::size_t c = BeginChunk(out, "NAME");
    out += name;
    out.append(kNameBytes - name.size(), '\0');
    EndChunk(out, c);

    c = BeginChunk(out, "SHAP");
    Put16(out, 2); // an axis object: one with points, edges and faces
    Put16(out, 0); // not a lamp
    EndChunk(out, c);

    for (std::size_t i = 0; i < pointCount * 3; ++i) {
        const double v = mesh.vertexData[i];
        if (!std::isfinite(v) || std::fabs(v) >= 32768.0) {
            error = "object '" + label + "': coordinate " + std::to_string(v) +
                    " lies outside the +-32768 range of Imagine's fixed point numbers";
            return false;
        }
    }
    // The editing frame is the world's own (origin, world axes, the editor's default
    // axis length): the points then mean the same whether a reader takes them as
    // world coordinates or relative to the object's frame.
    const double origin[3] = {0, 0, 0}, size[3] = {32, 32, 32};
    const double axes[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    c = BeginChunk(out, "POSI");
    PutVector(out, origin);
    EndChunk(out, c);
    c = BeginChunk(out, "AXIS");
    for (int k = 0; k < 3; ++k)
        PutVector(out, axes + 3 * k);
    EndChunk(out, c);
    c = BeginChunk(out, "SIZE");
    PutVector(out, size);
    EndChunk(out, c);

    c = BeginChunk(out, wide ? "PNT2" : "PNTS");
    PutCount(out, static_cast<std::uint32_t>(pointCount), wide);
    for (std::size_t i = 0; i < pointCount; ++i)
        PutVector(out, mesh.vertexData + i * 3);
    EndChunk(out, c);

    c = BeginChunk(out, wide ? "EDG2" : "EDGE");
    PutCount(out, static_cast<std::uint32_t>(edges.size() / 2), wide);
    for (std::uint32_t v : edges)
        PutCount(out, v, wide);
    EndChunk(out, c);

    c = BeginChunk(out, wide ? "FAC2" : "FACE");
    PutCount(out, static_cast<std::uint32_t>(faces.size() / 3), wide);
    for (std::uint32_t e : faces)
        PutCount(out, e, wide);
    EndChunk(out, c);

    EndChunk(out, desc);
    BeginChunk(out, "TOBJ");
    return true;
}

} // namespace

bool WriteIob(const std::vector<const Mesh3d*>& meshes, const IobSink& sink,
              std::vector<std::string>& warnings, std::string& error)
{
    // The lengths come first in IFF, so the objects are assembled before writing.
    std::string body;
    for (const Mesh3d* mesh : meshes) {
        if (!WriteObject(*mesh, body, warnings, error))
            return false;
        if (body.size() > 0xFFFFFFF0u) {
            error = "the file would pass the 4 GiB that IFF lengths can describe";
            return false;
        }
    }
    std::string head;
    head += "FORM";
    Put32(head, static_cast<std::uint32_t>(4 + 8 + body.size()));
    head += "TDDD";
    head += "OBJ ";
    Put32(head, static_cast<std::uint32_t>(body.size()));
    if (!sink(head) || !sink(body)) {
        error = "writing the file failed";
        return false;
    }
    return true;
}

} // namespace polyvant::formats::iob
