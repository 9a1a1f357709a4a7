#include <cstring>
#include <new>
#include <utility>

#include <polyvant/CheckedAlloc.h>
#include <polyvant/Obj3d.h>
#include <polyvant/Vector.h>

#include "EdgeArray.h"
#include "FaceArray.h"
#include "VertexArray.h"

namespace polyvant {

namespace {

// The steps of one triangle over arrays that anyone may have filled: every
// duplicate is found through the arrays' own lookups. False when an array refused.
bool AddTriangleTo(VertexArray& vertices, FaceArray& faces, EdgeArray& edges, const double* p0,
                   const double* p1, const double* p2) noexcept
{
    const std::uint32_t i0 = vertices.AddVertex(p0);
    const std::uint32_t i1 = vertices.AddVertex(p1);
    const std::uint32_t i2 = vertices.AddVertex(p2);
    if (i0 == kNoIndex || i1 == kNoIndex || i2 == kNoIndex)
        return false;

    const std::uint32_t faceCount = faces.Count();
    const std::uint32_t f = faces.AddFace(i0, i1, i2);
    if (f == kNoIndex)
        return false;
    const bool newFace = f == faceCount;

    const std::uint32_t corners[3][2] = {{i0, i1}, {i1, i2}, {i2, i0}};
    std::uint32_t e[3];
    bool newEdge[3];
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t edgeCount = edges.Count();
        e[k] = edges.AddEdge(corners[k][0], corners[k][1]);
        if (e[k] == kNoIndex)
            return false;
        newEdge[k] = e[k] == edgeCount;
    }

    // A face or edge made just now is in no list yet: skip the membership walk, but put it
    // only once into the list of a vertex that a degenerate triangle names twice.
    const std::uint32_t v[3] = {i0, i1, i2};
    for (int k = 0; k < 3; ++k) {
        const bool repeated = (k > 0 && v[k] == v[0]) || (k > 1 && v[k] == v[1]);
        bool ok = true;
        if (!newFace || repeated)
            ok = vertices.AddVertexFace(f, v[k]) != kNoIndex;
        else
            ok = vertices.PushVertexFace(f, v[k]);
        if (!ok)
            return false;
    }
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = corners[k][0];
        const std::uint32_t b = corners[k][1];
        bool ok;
        if (newEdge[k])
            ok = vertices.PushVertexEdge(e[k], a) && (a == b || vertices.PushVertexEdge(e[k], b));
        else
            ok = vertices.AddVertexEdge(e[k], a) != kNoIndex &&
                 vertices.AddVertexEdge(e[k], b) != kNoIndex;
        if (!ok)
            return false;
    }

    faces.SetFaceEdges(e[0], e[1], e[2], f);
    for (int k = 0; k < 3; ++k)
        edges.AddEdgeFace(f, e[k]);
    return true;
}

// Builds the topology of fresh arrays from flat data, giving exactly what AddTriangleTo
// would. It relies on what only a build from empty arrays guarantees: every face is in the
// face lists of its vertices and every edge in the edge lists of both ends, so duplicates
// are found by walking a few list entries that were touched recently instead of probing
// hash tables, and a duplicate needs no membership walk at all.
class TopologyBuilder {
public:
    TopologyBuilder(Mesh3d& mesh) noexcept
        : m_mesh(mesh), m_vertices(*mesh.vertices), m_faces(*mesh.faces), m_edges(*mesh.edges)
    {
        m_resolved = static_cast<std::uint32_t*>(
            mesh.vertexCount ? CheckedCalloc(mesh.vertexCount, sizeof(std::uint32_t)) : nullptr);
        for (auto& ring : m_buckets)
            ring[0] = ring[1] = ring[2] = kNoIndex;
        // Every face puts itself into three face lists; on a closed surface every edge is in
        // two edge lists, which makes as many entries again.
        const std::size_t entries = 3 * static_cast<std::size_t>(mesh.faceCount);
        m_vertices.ReserveLists(entries, entries);
    }
    ~TopologyBuilder() { CheckedFree(m_resolved); }
    TopologyBuilder(const TopologyBuilder&) = delete;
    TopologyBuilder& operator=(const TopologyBuilder&) = delete;

    bool Run() noexcept
    {
        const std::uint32_t* record = m_mesh.faceData;
        const std::uint32_t total = m_mesh.faceCount;
        for (std::uint32_t i = 0; i < total; ++i, record += kFaceWords) {
            // Face i uses its ring entry before face i + kLookAhead takes it over.
            if (!AddFace(record, m_buckets[i % kLookAhead]))
                return false;
            if (i + kLookAhead < total)
                Prefetch(record + kLookAhead * kFaceWords, i % kLookAhead);
            if (i + kLookAhead / 2 < total) {
                for (std::uint32_t bucket : m_buckets[(i + kLookAhead / 2) % kLookAhead]) {
                    if (bucket != kNoIndex)
                        m_vertices.PrefetchChainHead(bucket);
                }
            }
        }
        return true;
    }

private:
    // Vertex hash chains are spread over a table much larger than the cache: their heads
    // are fetched this many faces before they are needed, and the vertices they name half
    // as many faces before.
    static constexpr std::uint32_t kLookAhead = 16;

    void Prefetch(const std::uint32_t* record, std::uint32_t ring) noexcept
    {
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t flat = record[k];
            m_buckets[ring][k] = kNoIndex;
            if (flat < m_mesh.vertexCount && m_resolved[flat] == 0) {
                m_buckets[ring][k] = m_vertices.BucketOf(
                    m_mesh.vertexData + static_cast<std::size_t>(flat) * kVertexDoubles);
                m_vertices.PrefetchBucket(m_buckets[ring][k]);
            }
        }
    }

    bool AddFace(const std::uint32_t* record, const std::uint32_t* buckets) noexcept
    {
        const std::uint32_t n = m_mesh.vertexCount;
        if (record[0] >= n || record[1] >= n || record[2] >= n)
            return false;
        const double* p[3];
        for (int k = 0; k < 3; ++k) {
            p[k] = m_mesh.vertexData + static_cast<std::size_t>(record[k]) * kVertexDoubles;
            m_mesh.ExtendBounds(p[k]);
        }
        std::uint32_t v[3];
        bool fresh[3]; // made by this face, so in no list before it
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t before = m_vertices.Count();
            v[k] = Resolve(record[k], p[k], buckets[k]);
            if (v[k] == kNoIndex)
                return false;
            fresh[k] = v[k] == before;
        }

        std::uint32_t e[3];
        bool anyNewEdge = false;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t a = v[k];
            const std::uint32_t b = v[(k + 1) % 3];
            e[k] = kNoIndex;
            for (int j = 0; j < k; ++j) { // an edge this face has made or found already
                const std::uint32_t c = v[j], d = v[(j + 1) % 3];
                if ((c == a && d == b) || (c == b && d == a))
                    e[k] = e[j];
            }
            if (e[k] != kNoIndex)
                continue;
            const std::uint32_t before = m_edges.Count();
            // No edge can join a vertex that had none.
            e[k] = fresh[k] || fresh[(k + 1) % 3] ? AddNewEdge(a, b) : FindOrAddEdge(a, b);
            if (e[k] == kNoIndex)
                return false;
            anyNewEdge = anyNewEdge || e[k] == before;
        }

        // A face that exists has all its edges already.
        std::uint32_t f = anyNewEdge ? kNoIndex : FindFace(v);
        const bool newFace = f == kNoIndex;
        if (newFace) {
            f = m_faces.AppendNew(v[0], v[1], v[2]);
            if (f == kNoIndex)
                return false;
        }
        if (newFace) {
            if (!m_vertices.PushVertexFace(f, v[0]))
                return false;
            if (v[1] != v[0] && !m_vertices.PushVertexFace(f, v[1]))
                return false;
            if (v[2] != v[0] && v[2] != v[1] && !m_vertices.PushVertexFace(f, v[2]))
                return false;
        }
        m_faces.SetFaceEdges(e[0], e[1], e[2], f);
        for (int k = 0; k < 3; ++k)
            m_edges.AddEdgeFace(f, e[k]);
        return true;
    }

    // Flat vertex k at p. A point stored bit for bit as a new vertex is found again for
    // the same bytes: any later point in its chain within tolerance would have merged
    // into it, so the answer can be remembered. Points that merged into another vertex
    // and points that equal nothing (NaN) are looked up every time.
    std::uint32_t Resolve(std::uint32_t k, const double* p, std::uint32_t bucket) noexcept
    {
        if (m_resolved[k] != 0)
            return m_resolved[k] - 1;
        if (bucket == kNoIndex)
            bucket = m_vertices.BucketOf(p);
        const std::uint32_t v = m_vertices.AddVertexInBucket(p, bucket);
        if (v != kNoIndex && VecEqual(p, p) &&
            std::memcmp(m_vertices.Position(v), p, 3 * sizeof(double)) == 0)
            m_resolved[k] = v + 1;
        return v;
    }

    std::uint32_t FindFace(const std::uint32_t* v) const noexcept
    {
        std::uint32_t key[3] = {v[0], v[1], v[2]};
        Sort(key);
        for (std::uint32_t f : m_vertices.VertexFaceList(v[0])) {
            const std::uint32_t* w = m_faces.Vertices(f);
            std::uint32_t other[3] = {w[0], w[1], w[2]};
            Sort(other);
            if (other[0] == key[0] && other[1] == key[1] && other[2] == key[2])
                return f;
        }
        return kNoIndex;
    }

    std::uint32_t FindOrAddEdge(std::uint32_t a, std::uint32_t b) noexcept
    {
        for (std::uint32_t e : m_vertices.VertexEdgeList(a)) {
            const std::uint32_t* w = m_edges.Vertices(e);
            if ((w[0] == a && w[1] == b) || (w[0] == b && w[1] == a))
                return e;
        }
        return AddNewEdge(a, b);
    }

    std::uint32_t AddNewEdge(std::uint32_t a, std::uint32_t b) noexcept
    {
        const std::uint32_t e = m_edges.AppendNew(a, b);
        if (e == kNoIndex || !m_vertices.PushVertexEdge(e, a) ||
            (b != a && !m_vertices.PushVertexEdge(e, b)))
            return kNoIndex;
        return e;
    }

    static void Sort(std::uint32_t* k) noexcept
    {
        if (k[0] > k[1])
            std::swap(k[0], k[1]);
        if (k[1] > k[2])
            std::swap(k[1], k[2]);
        if (k[0] > k[1])
            std::swap(k[0], k[1]);
    }

    Mesh3d& m_mesh;
    VertexArray& m_vertices;
    FaceArray& m_faces;
    EdgeArray& m_edges;
    std::uint32_t* m_resolved; // vertex index + 1 per flat vertex, 0 when not remembered
    // Buckets of the corners of the faces ahead, kNoIndex where not computed.
    std::uint32_t m_buckets[kLookAhead][3];
};

} // namespace

Mesh3d::Mesh3d(const char* meshName, std::uint32_t capacityHint) noexcept
    : Obj3d(meshName, kMeshType), boundsEmpty(1),
      vertices(new (std::nothrow) VertexArray(capacityHint)),
      faces(new (std::nothrow) FaceArray(capacityHint)),
      edges(new (std::nothrow) EdgeArray(capacityHint)), vertexData(nullptr), faceData(nullptr),
      vertexCount(0), faceCount(0), min{0, 0, 0}, max{0, 0, 0}
{
    MatIdentity(transform);
}

Mesh3d::Mesh3d(const char* meshName, FlatTag) noexcept
    : Obj3d(meshName, kMeshType), boundsEmpty(1), vertices(nullptr), faces(nullptr), edges(nullptr),
      vertexData(nullptr), faceData(nullptr), vertexCount(0),
      faceCount(0), min{0, 0, 0}, max{0, 0, 0}
{
    MatIdentity(transform);
}

Mesh3d::~Mesh3d()
{
    FreeTopology();
    if (vertexData) {
        CheckedFree(vertexData);
        vertexData = nullptr;
        vertexCount = 0;
    }
    if (faceData) {
        CheckedFree(faceData);
        faceData = nullptr;
        faceCount = 0;
    }
}

int Mesh3d::BuildTopology() noexcept
{
    if (vertices || faces || edges)
        return vertices && faces && edges ? 1 : 0;
    if (!vertexData || !faceData)
        return 0;

    // The hint sizes the vertex hash exactly as for any other array (it decides which
    // points merge), but no more slots are reserved than the flat data can fill.
    ArrayLimits vertexLimits;
    const std::size_t corners = 3 * static_cast<std::size_t>(faceCount);
    vertexLimits.maxInitialCapacity = vertexCount < corners ? vertexCount : corners;
    vertices = new (std::nothrow) VertexArray(faceCount, vertexLimits);
    faces = new (std::nothrow) FaceArray(faceCount);
    edges = new (std::nothrow) EdgeArray(faceCount);
    if (!vertices || !faces || !edges) {
        FreeTopology();
        return 0;
    }

    const std::int32_t savedEmpty = boundsEmpty;
    double savedMin[3];
    double savedMax[3];
    VecCopy(savedMin, min);
    VecCopy(savedMax, max);
    bool built;
    {
        TopologyBuilder builder(*this);
        built = builder.Run();
    }
    if (!built) {
        // Bad indices or an array at its limit: leave the mesh as it was.
        FreeTopology();
        boundsEmpty = savedEmpty;
        VecCopy(min, savedMin);
        VecCopy(max, savedMax);
        return 0;
    }
    return 1;
}

void Mesh3d::FreeTopology() noexcept
{
    delete vertices;
    vertices = nullptr;
    delete faces;
    faces = nullptr;
    delete edges;
    edges = nullptr;
}

void Mesh3d::AddTriangle(const double* p0, const double* p1, const double* p2) noexcept
{
    if (!vertices || !faces || !edges)
        return;
    ExtendBounds(p0);
    ExtendBounds(p1);
    ExtendBounds(p2);
    AddTriangleTo(*vertices, *faces, *edges, p0, p1, p2);
}

void Mesh3d::ExtendBounds(const double* p) noexcept
{
    if (boundsEmpty) {
        VecCopy(min, p);
        VecCopy(max, p);
        boundsEmpty = 0;
    } else {
        VecMax(max, max, p);
        VecMin(min, min, p);
    }
}

void Mesh3d::GetFaceTriangle(std::uint32_t face, double* p0, double* p1, double* p2) const noexcept
{
    if (!vertices || !faces)
        return;
    std::uint32_t v[3];
    if (faces->GetFace(v, face) == kNoIndex)
        return;
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
        if (vertices->GetVertex(p[k], v[k]) == kNoIndex)
            return;
    }
    VecCopy(p0, p[0]);
    VecCopy(p1, p[1]);
    VecCopy(p2, p[2]);
}

Mesh3d* Mesh3d::ExtractEdges(double angle) const noexcept
{
    if (!vertices || !edges)
        return nullptr;
    auto* result = new (std::nothrow) Mesh3d(name, vertices->Count());
    if (!result)
        return nullptr;
    if (!result->vertices || !result->edges) {
        delete result;
        return nullptr;
    }

    const bool everyEdge = !(angle > 0.0); // also for NaN
    // Each face's normal serves up to three edges: compute it once.
    double* normals = nullptr;
    const std::uint32_t faceTotal = faces ? faces->Count() : 0;
    if (!everyEdge && faceTotal != 0) {
        normals = static_cast<double*>(CheckedCalloc(faceTotal, 3 * sizeof(double)));
        for (std::uint32_t f = 0; f < faceTotal; ++f) {
            double tri[9] = {};
            GetFaceTriangle(f, tri, tri + 3, tri + 6);
            TriangleNormal(tri, normals + 3 * static_cast<std::size_t>(f));
        }
    }
    static const double kNoNormal[3] = {0, 0, 0};
    auto normalOf = [&](std::uint32_t f) {
        return f < faceTotal ? normals + 3 * static_cast<std::size_t>(f) : kNoNormal;
    };

    // A source vertex that became a new vertex of the result, bit for bit, is found again
    // for the same bytes (see TopologyBuilder::Resolve): remember it.
    const std::uint32_t vertexTotal = vertices->Count();
    auto* resolved = static_cast<std::uint32_t*>(CheckedCalloc(vertexTotal, sizeof(std::uint32_t)));
    auto resultVertex = [&](std::uint32_t source, const double* p) {
        if (resolved[source] != 0)
            return resolved[source] - 1;
        const std::uint32_t v = result->vertices->AddVertex(p);
        if (v != kNoIndex && VecEqual(p, p) &&
            std::memcmp(result->vertices->Position(v), p, 3 * sizeof(double)) == 0)
            resolved[source] = v + 1;
        return v;
    };

    bool ok = true;
    const std::uint32_t edgeTotal = edges->Count();
    for (std::uint32_t e = 0; e < edgeTotal && ok; ++e) {
        if (!everyEdge) {
            std::uint32_t f[2];
            edges->GetEdgeFaces(f, e);
            if (f[0] != kNoIndex && f[1] != kNoIndex &&
                VecAngle(normalOf(f[0]), normalOf(f[1])) < angle)
                continue;
        }
        std::uint32_t ends[2];
        edges->GetEdge(ends, e);
        if (ends[0] >= vertexTotal || ends[1] >= vertexTotal)
            continue; // an edge over a vertex that does not exist has nothing to draw
        const std::uint32_t ia = resultVertex(ends[0], vertices->Position(ends[0]));
        const std::uint32_t ib = resultVertex(ends[1], vertices->Position(ends[1]));
        ok = ia != kNoIndex && ib != kNoIndex && result->edges->AddEdge(ia, ib) != kNoIndex;
    }
    CheckedFree(resolved);
    CheckedFree(normals);
    if (!ok) {
        delete result;
        return nullptr;
    }
    return result;
}

void Mesh3d::ReverseWinding() noexcept
{
    if (!vertexData || !faceData)
        return;
    std::uint32_t* record = faceData;
    for (std::uint32_t i = 0; i < faceCount; ++i, record += kFaceWords)
        std::swap(record[1], record[2]);
}

} // namespace polyvant
