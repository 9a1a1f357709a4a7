#include "common/MeshBuilder.h"

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

#include "common/Triangulate.h"

namespace polyvant::formats {

namespace {

constexpr std::size_t kMaxElements = 0xFFFFFFFFu;

// realloc keeps big blocks in place where it can (mremap), so growing never holds the
// old and the new array at once in memory that has been touched.
template <typename T>
T* Resize(T* p, std::size_t elements)
{
    void* q = std::realloc(p, elements * sizeof(T));
    if (!q)
        throw std::bad_alloc();
    return static_cast<T*>(q);
}

std::size_t NextCapacity(std::size_t capacity, std::size_t needed)
{
    std::size_t grown = capacity + capacity / 2 + 64;
    if (grown < needed)
        grown = needed;
    return grown > kMaxElements ? kMaxElements : grown;
}

} // namespace

MeshBuilder::MeshBuilder(std::string meshName) : name(std::move(meshName)) {}

MeshBuilder::~MeshBuilder()
{
    Clear();
}

MeshBuilder::MeshBuilder(MeshBuilder&& other) noexcept
    : name(std::move(other.name)), vertexData(std::exchange(other.vertexData, nullptr)),
      faceData(std::exchange(other.faceData, nullptr)),
      vertexCount(std::exchange(other.vertexCount, 0)),
      vertexCapacity(std::exchange(other.vertexCapacity, 0)),
      faceCount(std::exchange(other.faceCount, 0)),
      faceCapacity(std::exchange(other.faceCapacity, 0)), scratch(std::move(other.scratch))
{
}

MeshBuilder& MeshBuilder::operator=(MeshBuilder&& other) noexcept
{
    if (this != &other) {
        Clear();
        name = std::move(other.name);
        vertexData = std::exchange(other.vertexData, nullptr);
        faceData = std::exchange(other.faceData, nullptr);
        vertexCount = std::exchange(other.vertexCount, 0);
        vertexCapacity = std::exchange(other.vertexCapacity, 0);
        faceCount = std::exchange(other.faceCount, 0);
        faceCapacity = std::exchange(other.faceCapacity, 0);
        scratch = std::move(other.scratch);
    }
    return *this;
}

void MeshBuilder::Clear() noexcept
{
    std::free(vertexData);
    std::free(faceData);
    vertexData = nullptr;
    faceData = nullptr;
    vertexCount = vertexCapacity = faceCount = faceCapacity = 0;
}

void MeshBuilder::Reserve(std::size_t vertices, std::size_t triangles)
{
    if (vertices > kMaxElements - vertexCount)
        vertices = kMaxElements - vertexCount;
    if (triangles > kMaxElements - faceCount)
        triangles = kMaxElements - faceCount;
    if (vertexCount + vertices > vertexCapacity) {
        vertexData = Resize(vertexData, 3 * (vertexCount + vertices));
        vertexCapacity = vertexCount + vertices;
    }
    if (faceCount + triangles > faceCapacity) {
        faceData = Resize(faceData, 4 * (faceCount + triangles));
        faceCapacity = faceCount + triangles;
    }
}

void MeshBuilder::GrowVertices(std::size_t more)
{
    if (vertexCount + more > kMaxElements)
        throw std::length_error("more than 4294967295 vertices in one object");
    const std::size_t capacity = NextCapacity(vertexCapacity, vertexCount + more);
    vertexData = Resize(vertexData, 3 * capacity);
    vertexCapacity = capacity;
}

void MeshBuilder::GrowFaces(std::size_t more)
{
    if (faceCount + more > kMaxElements)
        throw std::length_error("more than 4294967295 triangles in one object");
    const std::size_t capacity = NextCapacity(faceCapacity, faceCount + more);
    faceData = Resize(faceData, 4 * capacity);
    faceCapacity = capacity;
}

void MeshBuilder::AddPolygon(const std::uint32_t* corners, std::size_t n, std::uint32_t word3)
{
    if (n < 3)
        return;
    if (n == 3) {
        AddTriangle(corners[0], corners[1], corners[2], word3);
        return;
    }
    scratch.clear();
    TriangulatePolygon(vertexData, corners, n, scratch);
    const std::size_t triangles = scratch.size() / 3;
    if (faceCount + triangles > faceCapacity)
        GrowFaces(triangles);
    for (std::size_t t = 0; t < triangles; ++t)
        AddTriangle(scratch[3 * t], scratch[3 * t + 1], scratch[3 * t + 2], word3);
}

void MeshBuilder::Adopt(double* vertices, std::size_t vertexTotal, std::uint32_t* faces,
                        std::size_t faceTotal) noexcept
{
    Clear();
    vertexData = vertices;
    vertexCount = vertexCapacity = vertexTotal;
    faceData = faces;
    faceCount = faceCapacity = faceTotal;
}

Mesh3d* MeshBuilder::Finish()
{
    if (vertexCount > kMaxElements || faceCount > kMaxElements)
        return nullptr;
    // Give back the unused tail; shrinking in place never fails in practice, and if it
    // did the larger block is still valid.
    if (vertexData && vertexCapacity > vertexCount && vertexCount > 0) {
        if (void* q = std::realloc(vertexData, 3 * vertexCount * sizeof(double)))
            vertexData = static_cast<double*>(q);
    }
    if (faceData && faceCapacity > faceCount && faceCount > 0) {
        if (void* q = std::realloc(faceData, 4 * faceCount * sizeof(std::uint32_t)))
            faceData = static_cast<std::uint32_t*>(q);
    }
    auto* mesh = new Mesh3d(name.c_str(), Mesh3d::kFlat);
    mesh->vertexData = vertexCount ? vertexData : nullptr;
    mesh->faceData = faceCount ? faceData : nullptr;
    if (!vertexCount)
        std::free(vertexData);
    if (!faceCount)
        std::free(faceData);
    mesh->vertexCount = static_cast<std::uint32_t>(vertexCount);
    mesh->faceCount = static_cast<std::uint32_t>(faceCount);
    vertexData = nullptr;
    faceData = nullptr;
    vertexCount = vertexCapacity = faceCount = faceCapacity = 0;
    ComputeBounds(*mesh);
    return mesh;
}

void ComputeBounds(Mesh3d& mesh) noexcept
{
    if (!mesh.vertexData || mesh.vertexCount == 0) {
        mesh.boundsEmpty = 1;
        for (int k = 0; k < 3; ++k)
            mesh.min[k] = mesh.max[k] = 0;
        return;
    }
    const double* p = mesh.vertexData;
    double lo[3] = {p[0], p[1], p[2]}, hi[3] = {p[0], p[1], p[2]};
    for (std::size_t i = 1; i < mesh.vertexCount; ++i) {
        const double* q = p + 3 * i;
        for (int k = 0; k < 3; ++k) {
            lo[k] = q[k] < lo[k] ? q[k] : lo[k];
            hi[k] = q[k] > hi[k] ? q[k] : hi[k];
        }
    }
    for (int k = 0; k < 3; ++k) {
        mesh.min[k] = lo[k];
        mesh.max[k] = hi[k];
    }
    mesh.boundsEmpty = 0;
}

} // namespace polyvant::formats
