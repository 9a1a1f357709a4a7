#include "obj/ObjMeshAssembler.h"

#include <algorithm>
#include <cstring>

#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"
#include "common/Triangulate.h"

namespace polyvant::formats::obj {

MeshAssembler::MeshAssembler(const std::string& filePath, const std::string& baseName,
                             GrowArray<double>& vertexArray, std::size_t fileSize)
    : path(filePath), fallbackName(baseName), vertices(vertexArray)
{
    groups.emplace_back();
    groups.back().name = fallbackName;
    // A typical mesh file spends some 24 bytes per triangle (half a v line and an f
    // line). Setting that much aside up front saves the copies of repeated growth; big
    // blocks are mapped lazily, so an overestimate costs address space, not memory, and
    // Finish gives the rest back.
    groups.back().faces.Reserve(kFaceWords * (fileSize / 24));
}

void MeshAssembler::AnyFace(std::size_t line, const std::int64_t* raw, std::size_t n,
                            const std::string* syntax, std::uint64_t vertexCount)
{
    const auto count = static_cast<std::int64_t>(vertexCount);
    // Triangles and quads stay in `fixed`; longer polygons go into `corners`.
    std::uint32_t fixed[4];
    std::uint32_t* out = fixed;
    if (n > 4) {
        corners.resize(n);
        out = corners.data();
    }
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t index = raw[k];
        // Negative indices count back from the last vertex read so far.
        const std::int64_t zeroBased = index > 0 ? index - 1 : count + index;
        if (index == 0)
            return BadFace(line, "vertex index 0 (indices start at 1)");
        if (zeroBased < 0 || zeroBased >= count)
            return BadFace(line, "vertex index " + std::to_string(index) + " with " +
                                     std::to_string(count) + " vertices read so far");
        out[k] = static_cast<std::uint32_t>(zeroBased);
    }
    if (syntax)
        return BadFace(line, *syntax);
    if (n < 3)
        return BadFace(line, "a face needs at least three corners");

    GroupFaces& group = groups.back();
    if (n == 3) {
        Triangle(line, group, fixed[0], fixed[1], fixed[2]);
        return;
    }
    scratch.clear();
    TriangulatePolygon(vertices.Data(), out, n, scratch);
    for (std::size_t t = 0; t + 2 < scratch.size(); t += 3)
        Triangle(line, group, scratch[t], scratch[t + 1], scratch[t + 2]);
}

void MeshAssembler::TooManyTriangles(std::size_t line) const
{
    const char* what = "more than 4294967295 triangles in one group";
    throw FormatError(line ? LineMessage(path, line, what) : path + ": " + what);
}

void MeshAssembler::AppendTriangles(const std::uint32_t* faces, std::size_t count)
{
    GroupFaces& group = groups.back();
    const std::size_t words = kFaceWords * count;
    if (words > kMostFaceWords - group.faces.Size())
        TooManyTriangles(0);
    std::uint32_t* f = group.faces.Extend(words);
    std::memcpy(f, faces, words * sizeof(std::uint32_t));
    if (material != 0)
        for (std::size_t i = 3; i < words; i += kFaceWords)
            f[i] = material;
    group.faces.Commit(words);
}

void MeshAssembler::BadFace(std::size_t line, std::string why)
{
    if (badFaces++ == 0) {
        firstBadLine = line;
        firstBadWhy = std::move(why);
    }
}

void MeshAssembler::Group(std::string name)
{
    if (name.empty())
        name = fallbackName;
    if (groups.back().faces.Size() == 0) {
        groups.back().name = std::move(name);
        return;
    }
    groups.emplace_back();
    groups.back().name = std::move(name);
}

void MeshAssembler::Material(std::string name)
{
    auto [it, added] = materialIndex.try_emplace(std::move(name), 0);
    if (added)
        it->second = static_cast<std::uint32_t>(materialIndex.size());
    material = it->second;
}

void MeshAssembler::Ignored(std::size_t line, std::string_view word)
{
    if (!ignoredCommandLine) {
        ignoredCommandLine = line;
        ignoredCommand = std::string(word);
    }
}

void MeshAssembler::ReportWarnings()
{
    if (badFaces) {
        HostLink::Warning(LineMessage(path, firstBadLine,
                                      firstBadWhy + "; skipped " + std::to_string(badFaces) +
                                          (badFaces == 1 ? " face" : " faces") +
                                          " with bad corners, kept the rest")
                              .c_str());
    }
    if (ignoredCommandLine) {
        HostLink::Warning(LineMessage(path, ignoredCommandLine,
                                      "\"" + ignoredCommand +
                                          "\" statements are not followed: other "
                                          "files and commands are never opened or run")
                              .c_str());
    }
}

void MeshAssembler::Finish(std::vector<std::unique_ptr<Mesh3d>>& meshes)
{
    ReportWarnings();
    std::erase_if(groups, [](const GroupFaces& g) { return g.faces.Size() == 0; });
    if (groups.empty()) {
        HostLink::Warning((path + ": the file holds no faces; nothing to show").c_str());
        return;
    }
    const std::size_t vertexCount = vertices.Size() / 3;
    if (groups.size() == 1)
        FinishOnly(groups.front(), vertexCount, meshes);
    else
        for (GroupFaces& group : groups)
            FinishOne(group, vertexCount, meshes);
}

// The whole file is one object: hand the vertex array over as it is when every
// vertex is used, else squeeze out the unused ones in place.
void MeshAssembler::FinishOnly(GroupFaces& group, std::size_t vertexCount,
                               std::vector<std::unique_ptr<Mesh3d>>& meshes)
{
    std::uint32_t* f = group.faces.Data();
    const std::size_t words = group.faces.Size();
    // A bit per vertex stays in cache where a full index map would not.
    std::vector<std::uint64_t> used((vertexCount + 63) / 64, 0);
    for (std::size_t i = 0; i < words; i += kFaceWords)
        for (std::size_t k = 0; k < 3; ++k)
            used[f[i + k] >> 6] |= std::uint64_t(1) << (f[i + k] & 63);
    std::size_t usedCount = 0;
    for (std::uint64_t bits : used)
        usedCount += static_cast<std::size_t>(__builtin_popcountll(bits));
    if (usedCount != vertexCount) {
        std::vector<std::uint32_t> remap(vertexCount, 0);
        double* v = vertices.Data();
        std::size_t next = 0;
        for (std::size_t i = 0; i < vertexCount; ++i) {
            if (!(used[i >> 6] >> (i & 63) & 1))
                continue;
            if (next != i)
                std::memmove(v + 3 * next, v + 3 * i, 3 * sizeof(double));
            remap[i] = static_cast<std::uint32_t>(next++);
        }
        for (std::size_t i = 0; i < words; i += kFaceWords)
            for (std::size_t k = 0; k < 3; ++k)
                f[i + k] = remap[f[i + k]];
        vertices.Resize(3 * usedCount);
    }
    used = {};
    MeshBuilder builder(group.name);
    const std::size_t faceCount = words / kFaceWords;
    builder.Adopt(vertices.Release(), usedCount, group.faces.Release(), faceCount);
    meshes.emplace_back(builder.Finish());
}

// One of several groups: its own vertices, those it uses in file order.
void MeshAssembler::FinishOne(GroupFaces& group, std::size_t vertexCount,
                              std::vector<std::unique_ptr<Mesh3d>>& meshes)
{
    if (localOf.size() != vertexCount)
        localOf.assign(vertexCount, 0);
    std::uint32_t* f = group.faces.Data();
    const std::size_t words = group.faces.Size();
    std::vector<std::uint32_t> ids;
    ids.reserve(words / kFaceWords * 3);
    for (std::size_t i = 0; i < words; i += kFaceWords)
        ids.insert(ids.end(), {f[i], f[i + 1], f[i + 2]});
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    GrowArray<double> own;
    own.Resize(3 * ids.size());
    const double* v = vertices.Data();
    for (std::size_t k = 0; k < ids.size(); ++k) {
        localOf[ids[k]] = static_cast<std::uint32_t>(k);
        std::memcpy(own.Data() + 3 * k, v + 3 * std::size_t(ids[k]), 3 * sizeof(double));
    }
    for (std::size_t i = 0; i < words; i += kFaceWords) {
        f[i] = localOf[f[i]];
        f[i + 1] = localOf[f[i + 1]];
        f[i + 2] = localOf[f[i + 2]];
    }
    MeshBuilder builder(group.name);
    builder.Adopt(own.Release(), ids.size(), group.faces.Release(), words / kFaceWords);
    meshes.emplace_back(builder.Finish());
}

} // namespace polyvant::formats::obj
