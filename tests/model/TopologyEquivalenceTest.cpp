// The optimised topology build must give exactly what the plain algorithm gives: the same
// vertices (which points merge), the same indices, and every adjacency list in the same
// order. The reference below is the algorithm written out as simply as possible.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include <polyvant/Obj3d.h>
#include <polyvant/Vector.h>

#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

using namespace polyvant;

namespace {

using Key3 = std::array<std::uint32_t, 3>;

struct Reference {
    explicit Reference(std::uint32_t hint)
    {
        const std::uint64_t n = hint ? hint : 1;
        bucketCount = static_cast<std::uint32_t>(std::max<std::uint64_t>(2048, 2 * n * 7 / 10));
        chains.resize(bucketCount);
    }

    std::uint32_t Hash(const double* p) const
    {
        std::uint32_t h = 0;
        for (int c = 0; c < 3; ++c) {
            signed char bytes[8];
            std::memcpy(bytes, &p[c], 8);
            for (signed char b : bytes)
                h = h * 31u + static_cast<std::uint32_t>(static_cast<int>(b));
            h %= bucketCount;
        }
        return h;
    }

    std::uint32_t AddVertex(const double* p)
    {
        auto& chain = chains[Hash(p)];
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) { // newest first
            if (VecEqual(positions[*it].data(), p))
                return *it;
        }
        const auto v = static_cast<std::uint32_t>(positions.size());
        positions.push_back({p[0], p[1], p[2]});
        faceLists.emplace_back();
        edgeLists.emplace_back();
        chain.push_back(v);
        return v;
    }

    std::uint32_t AddFace(std::uint32_t a, std::uint32_t b, std::uint32_t c)
    {
        Key3 key = {a, b, c};
        std::sort(key.begin(), key.end());
        auto found = faceIndex.find(key);
        if (found != faceIndex.end())
            return found->second;
        const auto f = static_cast<std::uint32_t>(faces.size());
        faces.push_back({a, b, c});
        faceEdges.push_back({kNoIndex, kNoIndex, kNoIndex});
        faceIndex[key] = f;
        return f;
    }

    std::uint32_t AddEdge(std::uint32_t a, std::uint32_t b)
    {
        const auto key = std::make_pair(std::min(a, b), std::max(a, b));
        auto found = edgeIndex.find(key);
        if (found != edgeIndex.end())
            return found->second;
        const auto e = static_cast<std::uint32_t>(edges.size());
        edges.push_back({a, b});
        edgeFaces.push_back({kNoIndex, kNoIndex});
        edgeIndex[key] = e;
        return e;
    }

    static void AddToList(std::vector<std::uint32_t>& list, std::uint32_t x)
    {
        if (std::find(list.begin(), list.end(), x) == list.end())
            list.insert(list.begin(), x); // newest first
    }

    void Extend(const double* p)
    {
        if (boundsEmpty) {
            VecCopy(min, p);
            VecCopy(max, p);
            boundsEmpty = false;
        } else {
            VecMax(max, max, p);
            VecMin(min, min, p);
        }
    }

    void AddTriangle(const double* p0, const double* p1, const double* p2)
    {
        Extend(p0);
        Extend(p1);
        Extend(p2);
        const std::uint32_t i0 = AddVertex(p0), i1 = AddVertex(p1), i2 = AddVertex(p2);
        const std::uint32_t f = AddFace(i0, i1, i2);
        const std::uint32_t e0 = AddEdge(i0, i1), e1 = AddEdge(i1, i2), e2 = AddEdge(i2, i0);
        AddToList(faceLists[i0], f);
        AddToList(faceLists[i1], f);
        AddToList(faceLists[i2], f);
        AddToList(edgeLists[i0], e0);
        AddToList(edgeLists[i1], e0);
        AddToList(edgeLists[i1], e1);
        AddToList(edgeLists[i2], e1);
        AddToList(edgeLists[i0], e2);
        AddToList(edgeLists[i2], e2);
        faceEdges[f] = {e0, e1, e2};
        for (std::uint32_t e : {e0, e1, e2}) {
            auto& slots = edgeFaces[e];
            (slots[0] == kNoIndex ? slots[0] : slots[1]) = f;
        }
    }

    std::uint32_t bucketCount;
    std::vector<std::vector<std::uint32_t>> chains;
    std::vector<std::array<double, 3>> positions;
    std::vector<std::vector<std::uint32_t>> faceLists, edgeLists;
    std::vector<Key3> faces, faceEdges;
    std::map<Key3, std::uint32_t> faceIndex;
    std::vector<std::array<std::uint32_t, 2>> edges, edgeFaces;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> edgeIndex;
    bool boundsEmpty = true;
    double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
};

std::vector<std::uint32_t> ToVector(IndexList list)
{
    return {list.begin(), list.end()};
}

bool SameBits(const double* a, const double* b)
{
    return std::memcmp(a, b, 3 * sizeof(double)) == 0;
}

void ExpectSameTopology(const Reference& ref, const Mesh3d& mesh)
{
    ASSERT_NE(mesh.vertices, nullptr);
    ASSERT_EQ(mesh.vertices->Count(), ref.positions.size());
    ASSERT_EQ(mesh.faces->Count(), ref.faces.size());
    ASSERT_EQ(mesh.edges->Count(), ref.edges.size());
    for (std::uint32_t v = 0; v < ref.positions.size(); ++v) {
        double p[3];
        ASSERT_EQ(mesh.vertices->GetVertex(p, v), 0u);
        ASSERT_TRUE(SameBits(p, ref.positions[v].data())) << "vertex " << v;
        ASSERT_EQ(ToVector(mesh.vertices->VertexFaceList(v)), ref.faceLists[v]) << "vertex " << v;
        ASSERT_EQ(ToVector(mesh.vertices->VertexEdgeList(v)), ref.edgeLists[v]) << "vertex " << v;
    }
    for (std::uint32_t f = 0; f < ref.faces.size(); ++f) {
        Key3 got, gotEdges;
        mesh.faces->GetFace(got.data(), f);
        mesh.faces->GetFaceEdges(gotEdges.data(), f);
        ASSERT_EQ(got, ref.faces[f]) << "face " << f;
        ASSERT_EQ(gotEdges, ref.faceEdges[f]) << "face " << f;
    }
    for (std::uint32_t e = 0; e < ref.edges.size(); ++e) {
        std::array<std::uint32_t, 2> ends, slots;
        mesh.edges->GetEdge(ends.data(), e);
        mesh.edges->GetEdgeFaces(slots.data(), e);
        ASSERT_EQ(ends, ref.edges[e]) << "edge " << e;
        ASSERT_EQ(slots, ref.edgeFaces[e]) << "edge " << e;
    }
    EXPECT_EQ(mesh.boundsEmpty, ref.boundsEmpty ? 1 : 0);
    EXPECT_TRUE(SameBits(mesh.min, ref.min));
    EXPECT_TRUE(SameBits(mesh.max, ref.max));
}

// Points a, b and r in one chain of a 2048-bucket table, with r within tolerance of both a
// and b while a and b are not of each other: which of them r joins shows the chain order.
struct ChainTrio {
    double a[3], b[3], r[3];
};

ChainTrio FindChainTrio()
{
    VertexArray probe(1);
    ChainTrio t = {{0.25, 0.5, 1.0}, {}, {}};
    const std::uint32_t bucket = probe.BucketOf(t.a);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> far(1.2e-6, 1.9e-6);
    do {
        VecSet(t.b, t.a[0], t.a[1], t.a[2] + far(rng));
    } while (probe.BucketOf(t.b) != bucket);
    std::uniform_real_distribution<double> between(t.b[2] - t.a[2] - 0.99e-6, 0.99e-6);
    do {
        VecSet(t.r, t.a[0], t.a[1], t.a[2] + between(rng));
    } while (probe.BucketOf(t.r) != bucket);
    return t;
}

// Flat data over a small grid of points, with near-duplicates (within and beyond the
// tolerance, -0.0), a NaN point, the chain trio, repeated faces in every rotation and
// reflection, and degenerate triangles.
struct FlatMesh {
    std::vector<double> points;
    std::vector<std::uint32_t> records;
};

FlatMesh RandomFlatMesh(std::mt19937& rng, std::size_t faceTotal)
{
    FlatMesh m;
    std::uniform_int_distribution<int> coord(-3, 3);
    std::uniform_int_distribution<int> kind(0, 9);
    const std::size_t pointTotal = faceTotal / 2 + 8;
    for (std::size_t i = 0; i < pointTotal; ++i) {
        double p[3] = {coord(rng) * 0.5, coord(rng) * 0.5, coord(rng) * 0.5};
        switch (kind(rng)) {
        case 0:
            p[0] += 4e-7;
            break;
        case 1:
            p[1] -= 3e-6;
            break;
        case 2:
            p[2] = -0.0 * p[2];
            break;
        case 3:
            p[0] += 1e-7 * coord(rng);
            break;
        default:
            break;
        }
        m.points.insert(m.points.end(), p, p + 3);
    }
    const ChainTrio t = FindChainTrio();
    for (const double* p : {t.a, t.r, t.b, t.r})
        m.points.insert(m.points.end(), p, p + 3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    m.points.insert(m.points.end(), {nan, 0.0, 1.0});

    const auto n = static_cast<std::uint32_t>(m.points.size() / 3);
    std::uniform_int_distribution<std::uint32_t> anyPoint(0, n - 1);
    std::uniform_int_distribution<int> shape(0, 19);
    for (std::size_t i = 0; i < faceTotal; ++i) {
        std::uint32_t r[4] = {anyPoint(rng), anyPoint(rng), anyPoint(rng),
                              static_cast<std::uint32_t>(i)};
        const int s = shape(rng);
        if (s < 4 && i > 0) { // an earlier face again, turned or mirrored
            const std::size_t j = std::uniform_int_distribution<std::size_t>(0, i - 1)(rng) * 4;
            const std::uint32_t* o = &m.records[j];
            const std::uint32_t turns[4][3] = {{0, 1, 2}, {1, 2, 0}, {2, 1, 0}, {0, 2, 1}};
            for (int k = 0; k < 3; ++k)
                r[k] = o[turns[s][k]];
        } else if (s == 4) {
            r[1] = r[0]; // degenerate
        } else if (s == 5) {
            r[1] = r[0];
            r[2] = r[0];
        } else if (s == 6) {
            r[0] = n - 5 + (i % 4); // the chain trio
        }
        m.records.insert(m.records.end(), r, r + 4);
    }
    return m;
}

// A flat mesh whose arrays are malloc'd, as a plug-in hands them over.
Mesh3d* MakeFlatMesh(const FlatMesh& data)
{
    auto* mesh = new Mesh3d("random", Mesh3d::kFlat);
    mesh->vertexCount = static_cast<std::uint32_t>(data.points.size() / 3);
    mesh->faceCount = static_cast<std::uint32_t>(data.records.size() / 4);
    mesh->vertexData = static_cast<double*>(std::malloc(data.points.size() * sizeof(double)));
    mesh->faceData =
        static_cast<std::uint32_t*>(std::malloc(data.records.size() * sizeof(std::uint32_t) + 4));
    std::memcpy(mesh->vertexData, data.points.data(), data.points.size() * sizeof(double));
    std::memcpy(mesh->faceData, data.records.data(), data.records.size() * sizeof(std::uint32_t));
    return mesh;
}

Reference ReferenceOf(const FlatMesh& data)
{
    const auto faceTotal = static_cast<std::uint32_t>(data.records.size() / 4);
    Reference ref(faceTotal);
    for (std::size_t i = 0; i < faceTotal; ++i) {
        const std::uint32_t* r = &data.records[4 * i];
        ref.AddTriangle(&data.points[3 * r[0]], &data.points[3 * r[1]], &data.points[3 * r[2]]);
    }
    return ref;
}

// Feature edges written out plainly from the reference topology.
Reference ReferenceEdges(const Reference& ref, double angle)
{
    Reference lines(static_cast<std::uint32_t>(ref.positions.size()));
    auto normal = [&](std::uint32_t f, double* n) {
        double tri[9];
        for (int k = 0; k < 3; ++k)
            VecCopy(tri + 3 * k, ref.positions[ref.faces[f][k]].data());
        TriangleNormal(tri, n);
    };
    for (std::size_t e = 0; e < ref.edges.size(); ++e) {
        const auto& slots = ref.edgeFaces[e];
        if (angle > 0 && slots[0] != kNoIndex && slots[1] != kNoIndex) {
            double n0[3], n1[3];
            normal(slots[0], n0);
            normal(slots[1], n1);
            if (!(VecAngle(n0, n1) >= angle))
                continue;
        }
        const std::uint32_t a = lines.AddVertex(ref.positions[ref.edges[e][0]].data());
        const std::uint32_t b = lines.AddVertex(ref.positions[ref.edges[e][1]].data());
        lines.AddEdge(a, b);
    }
    return lines;
}

} // namespace

TEST(TopologyEquivalenceTest, ChainTrioJoinsTheNewerOfTwoMatchingVertices)
{
    const ChainTrio t = FindChainTrio();
    VertexArray vertices(1);
    EXPECT_EQ(vertices.AddVertex(t.a), 0u);
    EXPECT_EQ(vertices.AddVertex(t.b), 1u);
    EXPECT_EQ(vertices.AddVertex(t.r), 1u);
}

TEST(TopologyEquivalenceTest, BuildTopologyMatchesThePlainAlgorithmOnRandomMeshes)
{
    std::mt19937 rng(12345);
    for (std::size_t faceTotal : {1u, 2u, 7u, 60u, 500u, 3000u, 20000u}) {
        SCOPED_TRACE(faceTotal);
        const FlatMesh data = RandomFlatMesh(rng, faceTotal);
        const Reference ref = ReferenceOf(data);
        Mesh3d* mesh = MakeFlatMesh(data);
        ASSERT_EQ(mesh->BuildTopology(), 1);
        ExpectSameTopology(ref, *mesh);
        delete mesh;
    }
}

TEST(TopologyEquivalenceTest, AddTriangleMatchesThePlainAlgorithmOnRandomMeshes)
{
    std::mt19937 rng(99);
    for (std::size_t faceTotal : {5u, 400u, 5000u}) {
        SCOPED_TRACE(faceTotal);
        const FlatMesh data = RandomFlatMesh(rng, faceTotal);
        const Reference ref = ReferenceOf(data);
        Mesh3d mesh("direct", static_cast<std::uint32_t>(faceTotal));
        for (std::size_t i = 0; i < faceTotal; ++i) {
            const std::uint32_t* r = &data.records[4 * i];
            mesh.AddTriangle(&data.points[3 * r[0]], &data.points[3 * r[1]],
                             &data.points[3 * r[2]]);
        }
        ExpectSameTopology(ref, mesh);
    }
}

TEST(TopologyEquivalenceTest, PointThatMergedIsLookedUpAgainAfterANewerMatchArrives)
{
    // r first joins a; once b exists r joins b, so the build must not remember r's answer.
    const ChainTrio t = FindChainTrio();
    FlatMesh data;
    const double other[3] = {5, 5, 5}, another[3] = {6, 5, 5};
    for (const double* p : {t.a, t.r, t.b, other, another})
        data.points.insert(data.points.end(), p, p + 3);
    data.records = {0, 1, 3, 0, 2, 1, 4, 0, 1, 3, 4, 0};
    const Reference ref = ReferenceOf(data);
    Mesh3d* mesh = MakeFlatMesh(data);
    ASSERT_EQ(mesh->BuildTopology(), 1);
    ExpectSameTopology(ref, *mesh);
    std::uint32_t last[3];
    mesh->faces->GetFace(last, 2);
    EXPECT_EQ(last[0], 2u) << "r must join b, the newer vertex";
    delete mesh;
}

TEST(TopologyEquivalenceTest, ExtractEdgesMatchesThePlainAlgorithm)
{
    std::mt19937 rng(2024);
    for (std::size_t faceTotal : {3u, 300u, 4000u}) {
        const FlatMesh data = RandomFlatMesh(rng, faceTotal);
        const Reference ref = ReferenceOf(data);
        Mesh3d* mesh = MakeFlatMesh(data);
        ASSERT_EQ(mesh->BuildTopology(), 1);
        for (double angle : {0.0, 1.0, 30.0, 90.0, 179.0}) {
            SCOPED_TRACE(testing::Message() << faceTotal << " faces, angle " << angle);
            const Reference expected = ReferenceEdges(ref, angle);
            Mesh3d* lines = mesh->ExtractEdges(angle);
            ASSERT_NE(lines, nullptr);
            ASSERT_EQ(lines->vertices->Count(), expected.positions.size());
            ASSERT_EQ(lines->edges->Count(), expected.edges.size());
            for (std::uint32_t v = 0; v < expected.positions.size(); ++v) {
                double p[3];
                lines->vertices->GetVertex(p, v);
                ASSERT_TRUE(SameBits(p, expected.positions[v].data())) << "vertex " << v;
                ASSERT_TRUE(lines->vertices->VertexEdgeList(v).Empty());
            }
            for (std::uint32_t e = 0; e < expected.edges.size(); ++e) {
                std::array<std::uint32_t, 2> ends;
                lines->edges->GetEdge(ends.data(), e);
                ASSERT_EQ(ends, expected.edges[e]) << "edge " << e;
            }
            delete lines;
        }
        delete mesh;
    }
}
