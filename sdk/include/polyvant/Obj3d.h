#pragma once
#include <cstdint>

// Scene objects as they cross the plug-in boundary. The memory layout of Obj3d and
// Mesh3d is part of the plug-in interface (x86-64, Itanium C++ ABI):
//   Mesh3d: vtable 0, name 8, type 16, boundsEmpty 20, vertices 24, faces 32,
//   edges 40, vertexData 48, faceData 56, vertexCount 64, faceCount 68, min 72,
//   max 96, transform 120; 248 bytes.
// Strings and arrays inside the records come from malloc, so either side may free them.

namespace polyvant {

class VertexArray;
class FaceArray;
class EdgeArray;

enum ObjectType : std::int32_t {
    kMeshType = 0,
    kLightType = 2,
};

// Four 32-bit words per face: three zero-based vertex indices in winding order,
// then one word that belongs to the plug-in (material or group index).
constexpr unsigned kFaceWords = 4;
constexpr unsigned kVertexDoubles = 3;

class Obj3d {
public:
    Obj3d(const char* name, std::int32_t type) noexcept;
    virtual ~Obj3d();
    Obj3d(const Obj3d&) = delete;
    Obj3d& operator=(const Obj3d&) = delete;

    const char* GetName() const noexcept { return name; }
    std::int32_t GetType() const noexcept { return type; }
    // Frees the current name and keeps a copy of newName (null keeps no name).
    void SetName(const char* newName) noexcept;

    char* name;
    std::int32_t type;
};

// The item deleter of light lists: destroys meshes and lights, leaves other types alone.
void DeleteSceneObject(void* item) noexcept;

class Mesh3d : public Obj3d {
public:
    struct FlatTag {};
    static constexpr FlatTag kFlat{};

    // Creates the three topology arrays with the capacity hint (host use).
    Mesh3d(const char* name, std::uint32_t capacityHint) noexcept;
    // Creates a mesh with null topology pointers: what import plug-ins hand over.
    Mesh3d(const char* name, FlatTag) noexcept;
    ~Mesh3d() override;

    // Builds vertices, faces and edges from the flat data. Returns 1 when the topology
    // is complete (or was already present), 0 when it could not be built; then the
    // partial topology has been freed again.
    int BuildTopology() noexcept;
    void FreeTopology() noexcept;
    void AddTriangle(const double* p0, const double* p1, const double* p2) noexcept;
    void ExtendBounds(const double* p) noexcept;
    void GetFaceTriangle(std::uint32_t face, double* p0, double* p1, double* p2) const noexcept;
    // A new mesh (vertices and edges only) of the edges whose faces meet at angle
    // degrees or more, plus boundary edges; every edge when angle <= 0. Null when
    // this mesh has no topology. The caller deletes the result.
    Mesh3d* ExtractEdges(double angle) const noexcept;
    // Swaps words 1 and 2 of every face record.
    void ReverseWinding() noexcept;

    std::int32_t boundsEmpty;
    VertexArray* vertices;
    FaceArray* faces;
    EdgeArray* edges;
    double* vertexData;
    std::uint32_t* faceData;
    std::uint32_t vertexCount;
    std::uint32_t faceCount;
    double min[3];
    double max[3];
    double transform[16];
};

class Light3d : public Obj3d {
public:
    Light3d(const char* name, const double* colour, const double* position,
            const double* target, double falloff, double radius) noexcept;
    ~Light3d() override = default;

    // normalise(target - position); left unnormalised when its length is 0.
    void SpotDirection(double* out) const noexcept;

    std::int32_t spot;
    std::int32_t on;
    double colour[3];
    double position[3];
    double target[3];
    double falloff;
    double radius;
};

} // namespace polyvant
