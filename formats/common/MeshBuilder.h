#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>

namespace polyvant::formats {

// Collects one object's vertices and triangles as an importer reads them, then hands
// them over as a flat Mesh3d (topology pointers null, arrays from malloc, bounds over
// the vertices). Growth follows the data actually read, never a count a file declares.
// Running out of memory throws std::bad_alloc; more than 2^32 - 1 vertices or faces
// throws std::length_error (the plug-in boundary turns both into messages).
class MeshBuilder {
public:
    explicit MeshBuilder(std::string name = {});
    ~MeshBuilder();
    MeshBuilder(MeshBuilder&& other) noexcept;
    MeshBuilder& operator=(MeshBuilder&& other) noexcept;

    const std::string& Name() const noexcept { return name; }
    void SetName(std::string newName) { name = std::move(newName); }

    // Sets aside room for this many more vertices and triangles. The caller passes
    // what the remaining bytes of the file can hold, never a bare declared count.
    void Reserve(std::size_t vertices, std::size_t triangles);

    std::uint32_t AddVertex(double x, double y, double z)
    {
        if (vertexCount == vertexCapacity)
            GrowVertices(1);
        double* p = vertexData + 3 * vertexCount;
        p[0] = x;
        p[1] = y;
        p[2] = z;
        return static_cast<std::uint32_t>(vertexCount++);
    }
    void AddTriangle(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t word3 = 0)
    {
        if (faceCount == faceCapacity)
            GrowFaces(1);
        std::uint32_t* f = faceData + 4 * faceCount++;
        f[0] = a;
        f[1] = b;
        f[2] = c;
        f[3] = word3;
    }
    // Triangulates and adds a polygon (see TriangulatePolygon); indices must be valid.
    void AddPolygon(const std::uint32_t* corners, std::size_t n, std::uint32_t word3 = 0);

    std::size_t VertexCount() const noexcept { return vertexCount; }
    std::size_t TriangleCount() const noexcept { return faceCount; }
    const double* Vertices() const noexcept { return vertexData; }   // 3 per vertex
    const std::uint32_t* Faces() const noexcept { return faceData; } // 4 per face

    // A new flat Mesh3d that takes over the arrays without copying them (they live
    // in malloc'd, realloc-grown storage, so a big mesh is never held twice), or null
    // when a count exceeds 32 bits. The builder is left empty. The arrays are shrunk
    // to their size; bounds cover every vertex (boundsEmpty stays 1 without any).
    Mesh3d* Finish();

    // Hands over arrays that were built elsewhere with malloc (3 doubles per vertex,
    // 4 words per face); Finish then owns them. The builder must be empty.
    void Adopt(double* vertices, std::size_t vertexCount, std::uint32_t* faces,
               std::size_t faceCount) noexcept;

private:
    void GrowVertices(std::size_t more);
    void GrowFaces(std::size_t more);
    void Clear() noexcept;

    std::string name;
    double* vertexData = nullptr;
    std::uint32_t* faceData = nullptr;
    std::size_t vertexCount = 0, vertexCapacity = 0;
    std::size_t faceCount = 0, faceCapacity = 0;
    std::vector<std::uint32_t> scratch;
};

// Sets min, max and boundsEmpty of a mesh from its vertexData.
void ComputeBounds(Mesh3d& mesh) noexcept;

} // namespace polyvant::formats
