#include "ThreeDsReader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "ThreeDsChunks.h"
#include "common/TextScan.h"

namespace polyvant::formats {
namespace {

using namespace tds;

constexpr std::size_t kMaxDepth = 64;
constexpr std::size_t kProgressStep = 1 << 20;

std::uint16_t U16(const unsigned char* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}
std::uint32_t U32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
float F32(const unsigned char* p)
{
    const std::uint32_t bits = U32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::string Label(std::uint16_t id)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "chunk 0x%04X (%s)", unsigned(id), ChunkName(id));
    return buf;
}

std::array<double, 16> Identity()
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

// Sub-chunks the reader descends into, each only below the parent where it belongs.
bool IsContainer(std::uint16_t id, std::uint16_t parent)
{
    switch (id) {
    case kEditor:
        return parent == kMain || parent == kProject;
    case kMaterial:
        return parent == kEditor;
    case kNamedObject:
        return parent == kEditor;
    case kTriangleMesh:
        return parent == kNamedObject;
    case kFaceList:
        return parent == kTriangleMesh;
    default:
        return false;
    }
}

// What one triangle mesh chunk holds, collected until the chunk ends, because the
// vertex list, face list and groups may come in any order.
struct PendingMesh {
    std::string name;
    std::vector<float> points;          // 3 per vertex
    std::vector<std::uint16_t> corners; // 3 per face
    std::vector<std::uint32_t> word3;   // per face
    std::array<double, 16> transform = Identity();
    std::size_t groupMisses = 0;
};

class Reader {
public:
    Reader(const unsigned char* data, std::size_t size, ThreeDsScene& scene,
           const ReadProgress& progress)
        : data(data), size(size), scene(scene), progress(progress)
    {
    }

    bool Run();

private:
    struct Frame {
        std::uint16_t id;
        std::size_t end;
    };

    bool Fail(std::size_t offset, std::string what)
    {
        scene.errorOffset = offset;
        scene.error = std::move(what);
        return false;
    }
    bool Enter(std::uint16_t id, std::size_t offset, std::size_t body, std::size_t end,
               std::size_t& subChunks);
    bool Leaf(std::uint16_t id, std::uint16_t parent, std::size_t offset, std::size_t body,
              std::size_t end);
    void Leave(const Frame& frame);
    // The NUL-terminated string at [p, end); false when it has no terminator.
    bool CString(std::size_t p, std::size_t end, std::string& out, std::size_t& next) const;
    std::uint32_t Material(const std::string& name);
    void Warn(std::string text) { scene.warnings.push_back(std::move(text)); }

    const unsigned char* data;
    std::size_t size;
    ThreeDsScene& scene;
    const ReadProgress& progress;
    std::vector<Frame> stack;
    std::string objectName;
    PendingMesh mesh;
    std::unordered_map<std::string, std::uint32_t> materialIndex;
};

bool Reader::CString(std::size_t p, std::size_t end, std::string& out, std::size_t& next) const
{
    const void* nul = p < end ? std::memchr(data + p, 0, end - p) : nullptr;
    if (!nul)
        return false;
    const std::size_t n = std::size_t(static_cast<const unsigned char*>(nul) - (data + p));
    out.assign(reinterpret_cast<const char*>(data + p), n);
    next = p + n + 1;
    return true;
}

std::uint32_t Reader::Material(const std::string& name)
{
    auto [it, added] = materialIndex.emplace(name, std::uint32_t(scene.materials.size()));
    if (added)
        scene.materials.push_back(name);
    return it->second;
}

bool Reader::Run()
{
    if (size < kChunkHeader)
        return Fail(0, "file too short for a 3D Studio chunk (" + std::to_string(size) + " bytes)");
    const std::uint16_t rootId = U16(data);
    const std::uint32_t rootLength = U32(data + 2);
    if (rootId != kMain && rootId != kProject && rootId != kEditor) {
        char buf[128];
        std::snprintf(buf, sizeof buf,
                      "not a 3D Studio file: first chunk is 0x%04X, not 0x4D4D (.3ds) or "
                      "0xC23D (.prj)",
                      unsigned(rootId));
        return Fail(0, buf);
    }
    if (rootLength < kChunkHeader || rootLength > size)
        return Fail(0, Label(rootId) + ": length " + std::to_string(rootLength) +
                           " does not fit the file (" + std::to_string(size) + " bytes)");
    if (rootLength < size)
        Warn("ignored " + std::to_string(size - rootLength) + " bytes after the main chunk");

    stack.push_back({rootId, rootLength});
    std::size_t p = kChunkHeader;
    std::size_t nextProgress = kProgressStep;
    while (!stack.empty()) {
        const Frame top = stack.back();
        if (p == top.end) {
            Leave(top);
            stack.pop_back();
            continue;
        }
        if (top.end - p < kChunkHeader) {
            Warn("ignored " + std::to_string(top.end - p) + " stray bytes at offset " +
                 std::to_string(p) + " in " + Label(top.id));
            p = top.end;
            continue;
        }
        if (p >= nextProgress) {
            nextProgress = p + kProgressStep;
            if (progress && !progress(double(p) / double(size)))
                return Fail(p, "cancelled");
        }
        const std::uint16_t id = U16(data + p);
        const std::uint32_t length = U32(data + p + 2);
        if (length < kChunkHeader)
            return Fail(p, Label(id) + ": length " + std::to_string(length) +
                               " is shorter than the 6-byte chunk header");
        if (length > top.end - p)
            return Fail(p, Label(id) + ": length " + std::to_string(length) +
                               " runs past the end of its parent " + Label(top.id) + " (" +
                               std::to_string(top.end - p) + " bytes left)");
        const std::size_t body = p + kChunkHeader;
        const std::size_t end = p + length;
        if (IsContainer(id, top.id)) {
            if (stack.size() >= kMaxDepth)
                return Fail(p, Label(id) + ": chunks nested deeper than " +
                                   std::to_string(kMaxDepth) + " levels");
            std::size_t subChunks = body;
            if (!Enter(id, p, body, end, subChunks))
                return false;
            stack.push_back({id, end});
            p = subChunks;
            continue;
        }
        if (!Leaf(id, top.id, p, body, end))
            return false;
        p = end;
    }
    return true;
}

// A container's own data comes before its sub-chunks; `subChunks` receives where they start.
bool Reader::Enter(std::uint16_t id, std::size_t offset, std::size_t body, std::size_t end,
                   std::size_t& subChunks)
{
    switch (id) {
    case kNamedObject:
        if (!CString(body, end, objectName, subChunks))
            return Fail(offset, Label(id) + ": the object name has no terminating NUL");
        return true;
    case kTriangleMesh:
        mesh = PendingMesh{};
        mesh.name = objectName;
        return true;
    case kFaceList: {
        if (end - body < 2)
            return Fail(offset, Label(id) + ": no room for the face count");
        const std::size_t n = U16(data + body);
        if (n > (end - body - 2) / kFaceRecord)
            return Fail(offset, Label(id) + ": " + std::to_string(n) + " faces need " +
                                    std::to_string(n * kFaceRecord) + " bytes, the chunk has " +
                                    std::to_string(end - body - 2));
        if (!mesh.corners.empty())
            Warn("object '" + mesh.name + "': a second face list replaces the first");
        mesh.corners.resize(3 * n);
        mesh.word3.assign(n, 0);
        mesh.groupMisses = 0;
        const unsigned char* f = data + body + 2;
        for (std::size_t i = 0; i < n; ++i, f += kFaceRecord) {
            mesh.corners[3 * i] = U16(f);
            mesh.corners[3 * i + 1] = U16(f + 2);
            mesh.corners[3 * i + 2] = U16(f + 4);
        }
        subChunks = body + 2 + n * kFaceRecord;
        return true;
    }
    default:
        return true;
    }
}

bool Reader::Leaf(std::uint16_t id, std::uint16_t parent, std::size_t offset, std::size_t body,
                  std::size_t end)
{
    switch (id) {
    case kMaterialName:
        if (parent == kMaterial) {
            std::string name;
            std::size_t next;
            if (!CString(body, end, name, next))
                return Fail(offset, Label(id) + ": the name has no terminating NUL");
            Material(name);
        }
        return true;
    case kVertexList: {
        if (parent != kTriangleMesh)
            return true;
        if (end - body < 2)
            return Fail(offset, Label(id) + ": no room for the vertex count");
        const std::size_t n = U16(data + body);
        if (n > (end - body - 2) / 12)
            return Fail(offset, Label(id) + ": " + std::to_string(n) + " vertices need " +
                                    std::to_string(n * 12) + " bytes, the chunk has " +
                                    std::to_string(end - body - 2));
        if (!mesh.points.empty())
            Warn("object '" + mesh.name + "': a second vertex list replaces the first");
        mesh.points.resize(3 * n);
        const unsigned char* v = data + body + 2;
        for (std::size_t i = 0; i < 3 * n; ++i, v += 4) {
            const float c = F32(v);
            if (!std::isfinite(c) || std::fabs(c) > kMaxCoordinate)
                return Fail(std::size_t(v - data), Label(id) + ": vertex " + std::to_string(i / 3) +
                                                       " has a non-finite or huge coordinate");
            mesh.points[i] = c;
        }
        return true;
    }
    case kFaceMaterial: {
        if (parent != kFaceList)
            return true;
        std::string name;
        std::size_t p;
        if (!CString(body, end, name, p))
            return Fail(offset, Label(id) + ": the material name has no terminating NUL");
        if (end - p < 2)
            return Fail(offset, Label(id) + ": no room for the face count");
        const std::size_t k = U16(data + p);
        if (k > (end - p - 2) / 2)
            return Fail(offset, Label(id) + ": " + std::to_string(k) + " face indices need " +
                                    std::to_string(2 * k) + " bytes, the chunk has " +
                                    std::to_string(end - p - 2));
        const std::uint32_t word3 = Material(name) + 1;
        const unsigned char* f = data + p + 2;
        for (std::size_t i = 0; i < k; ++i, f += 2) {
            const std::size_t face = U16(f);
            if (face < mesh.word3.size())
                mesh.word3[face] = word3;
            else
                ++mesh.groupMisses;
        }
        return true;
    }
    case kLocalAxes: {
        if (parent != kTriangleMesh)
            return true;
        if (end - body < 48) {
            Warn("object '" + mesh.name + "': local axes chunk at offset " +
                 std::to_string(offset) + " is too short, ignored");
            return true;
        }
        float m[12];
        bool finite = true;
        for (int i = 0; i < 12; ++i) {
            m[i] = F32(data + body + 4 * i);
            finite = finite && std::isfinite(m[i]);
        }
        if (!finite) {
            Warn("object '" + mesh.name + "': local axes at offset " + std::to_string(offset) +
                 " are not finite, ignored");
            return true;
        }
        for (int axis = 0; axis < 4; ++axis)
            for (int c = 0; c < 3; ++c)
                mesh.transform[4 * axis + c] = m[3 * axis + c];
        return true;
    }
    case kLight:
        if (parent == kNamedObject)
            ++scene.lights;
        return true;
    case kCamera:
        if (parent == kNamedObject)
            ++scene.cameras;
        return true;
    default:
        return true; // unknown or unneeded: skipped by its length
    }
}

void Reader::Leave(const Frame& frame)
{
    if (frame.id != kTriangleMesh)
        return;
    const std::size_t vertexCount = mesh.points.size() / 3;
    const std::size_t faceCount = mesh.word3.size();
    if (vertexCount == 0 && faceCount == 0)
        return; // a mesh chunk without geometry
    ThreeDsObject object{MeshBuilder(mesh.name), mesh.transform};
    object.mesh.Reserve(vertexCount, faceCount);
    for (std::size_t i = 0; i < vertexCount; ++i)
        object.mesh.AddVertex(mesh.points[3 * i], mesh.points[3 * i + 1], mesh.points[3 * i + 2]);
    std::size_t dropped = 0;
    for (std::size_t i = 0; i < faceCount; ++i) {
        const std::uint16_t* c = &mesh.corners[3 * i];
        if (c[0] >= vertexCount || c[1] >= vertexCount || c[2] >= vertexCount) {
            ++dropped;
            continue;
        }
        object.mesh.AddTriangle(c[0], c[1], c[2], mesh.word3[i]);
    }
    if (dropped)
        Warn("object '" + mesh.name + "': dropped " + std::to_string(dropped) +
             " faces whose corners lie past its " + std::to_string(vertexCount) + " vertices");
    if (mesh.groupMisses)
        Warn("object '" + mesh.name + "': ignored " + std::to_string(mesh.groupMisses) +
             " material group entries past its " + std::to_string(faceCount) + " faces");
    scene.objects.push_back(std::move(object));
    mesh = PendingMesh{};
}

} // namespace

bool Read3ds(const unsigned char* data, std::size_t size, ThreeDsScene& scene,
             const ReadProgress& progress)
{
    return Reader(data, size, scene, progress).Run();
}

} // namespace polyvant::formats
