#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <polyvant/Obj3d.h>

#include "common/GrowArray.h"
#include "common/MeshBuilder.h"

namespace polyvant::formats::obj {

// Turns the statements of a whole file, in file order, into meshes: one per object or
// group with faces. Faces are checked against the vertices read before them; those with
// bad corners are skipped and counted for one warning. Takes statements from a
// StatementReader, or from logs of them replayed (StatementLog).
class MeshAssembler {
public:
    // `vertices` holds every vertex read so far; `path` names the file in messages,
    // unnamed geometry takes `baseName`. Sizes the face array for a file of `fileSize`.
    MeshAssembler(const std::string& path, const std::string& baseName, GrowArray<double>& vertices,
                  std::size_t fileSize);

    // A face as written: raw indices, 1-based or negative (counting back from
    // vertexCount); see StatementReader.
    void Face(std::size_t line, const std::int64_t* corners, std::size_t n,
              const std::string* syntax, std::uint64_t vertexCount)
    {
        // Nearly every face: a triangle of vertices read before it.
        if (n == 3 && !syntax) {
            const std::int64_t a = corners[0] - 1, b = corners[1] - 1, c = corners[2] - 1;
            const auto count = static_cast<std::int64_t>(vertexCount);
            if (a >= 0 && b >= 0 && c >= 0 && a < count && b < count && c < count) {
                Triangle(line, groups.back(), static_cast<std::uint32_t>(a),
                         static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(c));
                return;
            }
        }
        AnyFace(line, corners, n, syntax, vertexCount);
    }
    // Triangles already checked, kFaceWords each, with indices into the whole file: they
    // join the current group with the current material.
    void AppendTriangles(const std::uint32_t* faces, std::size_t count);
    void Group(std::string name);
    void Material(std::string name);
    void Ignored(std::size_t line, std::string_view word);

    // Reports the warnings and appends the meshes. Uses up the arrays.
    void Finish(std::vector<std::unique_ptr<Mesh3d>>& meshes);

private:
    static constexpr std::size_t kMostFaceWords = std::size_t(0xFFFFFFFFu) * kFaceWords;

    struct GroupFaces {
        std::string name;
        GrowArray<std::uint32_t> faces; // kFaceWords per triangle, indices into the whole file
    };

    void AnyFace(std::size_t line, const std::int64_t* corners, std::size_t n,
                 const std::string* syntax, std::uint64_t vertexCount);
    void Triangle(std::size_t line, GroupFaces& group, std::uint32_t a, std::uint32_t b,
                  std::uint32_t c)
    {
        if (group.faces.Size() >= kMostFaceWords) [[unlikely]]
            TooManyTriangles(line);
        std::uint32_t* f = group.faces.Extend(kFaceWords);
        f[0] = a;
        f[1] = b;
        f[2] = c;
        f[3] = material;
        group.faces.Commit(kFaceWords);
    }
    [[noreturn]] void TooManyTriangles(std::size_t line) const;
    void BadFace(std::size_t line, std::string why);
    void ReportWarnings();
    void FinishOnly(GroupFaces& group, std::size_t vertexCount,
                    std::vector<std::unique_ptr<Mesh3d>>& meshes);
    void FinishOne(GroupFaces& group, std::size_t vertexCount,
                   std::vector<std::unique_ptr<Mesh3d>>& meshes);

    const std::string& path;
    const std::string& fallbackName;
    GrowArray<double>& vertices;
    std::vector<GroupFaces> groups;
    std::vector<std::uint32_t> corners;
    std::vector<std::uint32_t> scratch;
    std::vector<std::uint32_t> localOf;
    std::unordered_map<std::string, std::uint32_t> materialIndex;
    std::uint32_t material = 0;

    std::size_t badFaces = 0;
    std::size_t firstBadLine = 0;
    std::string firstBadWhy;
    std::size_t ignoredCommandLine = 0;
    std::string ignoredCommand;
};

} // namespace polyvant::formats::obj
