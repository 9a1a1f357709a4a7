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
class MeshBuilder {
public:
    explicit MeshBuilder(std::string name = {});
    ~MeshBuilder();
    MeshBuilder(MeshBuilder&& other) noexcept;
    MeshBuilder& operator=(MeshBuilder&& other) noexcept;

    const std::string& Name() const noexcept { return name; }
    void SetName(std::string newName) { name = std::move(newName); }

    // Caps what Reserve may set aside (the caller passes what the file can hold).
    void Reserve(std::size_t vertices, std::size_t triangles);
    std::uint32_t AddVertex(double x, double y, double z);
    void AddTriangle(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t word3 = 0);
    // Triangulates and adds a polygon (see TriangulatePolygon); indices must be valid.
    void AddPolygon(const std::uint32_t* corners, std::size_t n, std::uint32_t word3 = 0);

    std::size_t VertexCount() const noexcept { return vertexCount; }
    std::size_t TriangleCount() const noexcept { return faceCount; }
    const double* Vertices() const noexcept { return vertexData; }      // 3 per vertex
    const std::uint32_t* Faces() const noexcept { return faceData; }    // 4 per face

    // A new flat Mesh3d that takes over the arrays without copying them (they live
    // in malloc'd, realloc-grown storage, so a big mesh is never held twice), or null
    // when a count exceeds 32 bits. The builder is left empty.
    Mesh3d* Finish();

private:
    std::string name;
    double* vertexData = nullptr;
    std::uint32_t* faceData = nullptr;
    std::size_t vertexCount = 0, vertexCapacity = 0;
    std::size_t faceCount = 0, faceCapacity = 0;
    std::vector<std::uint32_t> scratch;
};

} // namespace polyvant::formats
