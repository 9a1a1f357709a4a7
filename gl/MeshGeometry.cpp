#include "MeshGeometry.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <thread>

#include <polyvant/Obj3d.h>
#include <polyvant/Vector.h>

#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

namespace polyvant {

namespace {

constexpr double kDegrees = 0.017453292519943295;
// Below this many faces a thread costs more than it saves.
constexpr std::uint32_t kFacesPerThread = 16384;
constexpr unsigned kMaxThreads = 8;

// Cosine bounds between which VecAngle itself decides whether an angle lies below a limit,
// so that the test without acos agrees with it to the last bit.
struct AngleTest {
    explicit AngleTest(double limit)
        : limit(limit), cosLow(std::cos((limit + 1e-6) * kDegrees)),
          cosHigh(std::cos((limit - 1e-6) * kDegrees))
    {
    }
    // VecAngle(a, b) < limit, with la and lb the vectors' VecLength.
    bool Below(const double* a, double la, const double* b, double lb) const
    {
        const double d = la * lb;
        if (d == 0.0 || std::isnan(d)) {
            return true; // VecAngle answers 0
        }
        const double c = VecDot(a, b) / d;
        if (c > cosHigh) {
            return true;
        }
        if (c < cosLow || std::isnan(c)) {
            return false;
        }
        return VecAngle(a, b) < limit;
    }
    double limit;
    double cosLow;
    double cosHigh;
};

void PutFloats(float* out, const double* p)
{
    for (int i = 0; i < 3; ++i) {
        out[i] = static_cast<float>(p[i]);
    }
}

// Runs every task once on up to threads threads (this one included). The first exception
// of any task is thrown again here after all have ended.
void RunTasks(const std::vector<std::function<void()>>& tasks, unsigned threads)
{
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (std::size_t i = next++; i < tasks.size(); i = next++) {
            try {
                tasks[i]();
            } catch (...) {
                if (!failed.exchange(true)) {
                    failure = std::current_exception();
                }
            }
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && t < tasks.size(); ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads to be had: the others share the work
        }
    }
    work();
    for (std::thread& h : helpers) {
        h.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

unsigned ThreadsFor(std::uint32_t faceCount, unsigned wanted)
{
    if (wanted == 0) {
        wanted = std::max(1u, std::min(kMaxThreads, std::thread::hardware_concurrency()));
    }
    const std::uint32_t useful = std::max<std::uint32_t>(1, faceCount / kFacesPerThread);
    return unsigned(std::min<std::uint32_t>(wanted, useful));
}

// The mesh's topology, built for the collection when it had none.
class TopologyScope {
public:
    explicit TopologyScope(Mesh3d& mesh)
        : m_mesh(mesh), m_owned(!mesh.vertices && !mesh.faces && !mesh.edges)
    {
        m_ok = !m_owned || mesh.BuildTopology() == 1;
    }
    ~TopologyScope()
    {
        if (m_owned) {
            m_mesh.FreeTopology();
        }
    }
    TopologyScope(const TopologyScope&) = delete;
    TopologyScope& operator=(const TopologyScope&) = delete;
    bool Ok() const { return m_ok; }

private:
    Mesh3d& m_mesh;
    bool m_owned;
    bool m_ok = false;
};

class Collector {
public:
    Collector(const Mesh3d& mesh, double normalLength, MeshGeometry& out)
        : m_vertices(*mesh.vertices), m_faces(*mesh.faces), m_edges(mesh.edges),
          m_normalLength(normalLength), m_out(out)
    {
    }

    void Run(unsigned wanted)
    {
        m_vertexCount = m_vertices.Count();
        m_faceCount = m_faces.Count();
        if (m_vertexCount == kNoIndex || m_faceCount == kNoIndex) {
            return;
        }
        const unsigned threads = ThreadsFor(m_faceCount, wanted);
        m_corners.resize(std::size_t(m_faceCount) * 3);
        m_faceNormals.resize(std::size_t(m_faceCount) * 3);
        m_lengths.resize(m_faceCount);

        // Ranges of faces (and of edges) per task: a few per thread evens out the load.
        const std::size_t parts = threads == 1 ? 1 : std::size_t(threads) * 4;
        std::vector<std::size_t> faceBounds = Split(m_faceCount, parts);
        std::vector<std::size_t> kept(parts, 0);
        std::vector<std::function<void()>> tasks;
        for (std::size_t i = 0; i < parts; ++i) {
            tasks.push_back([&, i] { kept[i] = FaceNormals(faceBounds[i], faceBounds[i + 1]); });
        }
        RunTasks(tasks, threads);

        std::vector<std::size_t> firstSlot(parts + 1, 0);
        for (std::size_t i = 0; i < parts; ++i) {
            firstSlot[i + 1] = firstSlot[i] + kept[i];
        }
        const std::size_t drawable = firstSlot[parts];
        m_out.corners.resize(drawable * 9);
        m_out.normals.resize(drawable * 9);
        m_out.normalLines.resize(drawable * 6);

        const std::vector<std::size_t> vertexBounds = Split(m_vertexCount, parts);
        m_smoothNormals.resize(std::size_t(m_vertexCount) * 3);
        m_smooth.resize(m_vertexCount);
        tasks.clear();
        for (std::size_t i = 0; i < parts; ++i) {
            tasks.push_back([&, i] { SmoothVertices(vertexBounds[i], vertexBounds[i + 1]); });
        }
        RunTasks(tasks, threads);

        const std::uint32_t edgeCount = m_edges ? m_edges->Count() : 0;
        const std::vector<std::size_t> edgeBounds =
            Split(edgeCount == kNoIndex ? 0 : edgeCount, parts);
        std::vector<std::vector<float>> edgeParts(parts);
        tasks.clear();
        for (std::size_t i = 0; i < parts; ++i) {
            tasks.push_back([&, i] { Faces(faceBounds[i], faceBounds[i + 1], firstSlot[i]); });
            tasks.push_back([&, i] { Edges(edgeBounds[i], edgeBounds[i + 1], edgeParts[i]); });
        }
        RunTasks(tasks, threads);

        std::size_t edgeFloats = 0;
        for (const std::vector<float>& part : edgeParts) {
            edgeFloats += part.size();
        }
        m_out.edges.reserve(edgeFloats);
        for (const std::vector<float>& part : edgeParts) {
            m_out.edges.insert(m_out.edges.end(), part.begin(), part.end());
        }
    }

private:
    static std::vector<std::size_t> Split(std::size_t count, std::size_t parts)
    {
        std::vector<std::size_t> bounds(parts + 1);
        for (std::size_t i = 0; i <= parts; ++i) {
            bounds[i] = count * i / parts;
        }
        return bounds;
    }

    // Corners and unit normal of each face in [first, last); a face with a corner outside
    // the vertex array is marked and keeps a zero normal. Returns how many are drawable.
    std::size_t FaceNormals(std::size_t first, std::size_t last)
    {
        std::size_t drawable = 0;
        for (std::size_t f = first; f < last; ++f) {
            std::uint32_t* v = &m_corners[f * 3];
            double* n = &m_faceNormals[f * 3];
            if (m_faces.GetFace(v, std::uint32_t(f)) != 0 || v[0] >= m_vertexCount ||
                v[1] >= m_vertexCount || v[2] >= m_vertexCount) {
                v[0] = v[1] = v[2] = kNoIndex;
                VecSet(n, 0.0, 0.0, 0.0);
                m_lengths[f] = 0.0;
                continue;
            }
            double tri[9];
            for (int k = 0; k < 3; ++k) {
                VecCopy(tri + 3 * k, m_vertices.Position(v[k]));
            }
            TriangleNormal(tri, n);
            m_lengths[f] = VecLength(n);
            ++drawable;
        }
        return drawable;
    }

    // A corner's normal sums the normals of the vertex's faces that lie within the crease
    // angle of the corner's face. Where all of them lie within half of it from one another,
    // every corner of the vertex takes them all, in the same order: that sum is made once.
    void SmoothVertices(std::size_t first, std::size_t last)
    {
        const double cosHalf = std::cos(0.5 * (kFaceCreaseAngle - 1.0) * kDegrees);
        for (std::size_t v = first; v < last; ++v) {
            const double* reference = nullptr;
            double referenceLength = 0.0;
            bool smooth = true;
            double sum[3] = {0.0, 0.0, 0.0};
            for (std::uint32_t g : m_vertices.VertexFaceList(std::uint32_t(v))) {
                if (g >= m_faceCount || m_corners[std::size_t(g) * 3] == kNoIndex) {
                    continue;
                }
                const double* gn = &m_faceNormals[std::size_t(g) * 3];
                const double gl = m_lengths[g];
                // A face without a direction lies within the crease of every other.
                if (gl != 0.0 && !std::isnan(gl)) {
                    if (!reference) {
                        reference = gn;
                        referenceLength = gl;
                    } else if (!(VecDot(reference, gn) / (referenceLength * gl) > cosHalf)) {
                        smooth = false;
                        break;
                    }
                }
                VecAdd(sum, sum, gn);
            }
            m_smooth[v] = smooth ? 1 : 0;
            if (smooth) {
                VecNormalize(sum);
                PutFloats(&m_smoothNormals[v * 3], sum);
            }
        }
    }

    // Corners, vertex normals and normal lines of the drawable faces in [first, last),
    // written from output slot `slot` on.
    void Faces(std::size_t first, std::size_t last, std::size_t slot)
    {
        const AngleTest crease(kFaceCreaseAngle);
        for (std::size_t f = first; f < last; ++f) {
            const std::uint32_t* v = &m_corners[f * 3];
            if (v[0] == kNoIndex) {
                continue;
            }
            const double* fn = &m_faceNormals[f * 3];
            const double fl = m_lengths[f];
            double centroid[3] = {0.0, 0.0, 0.0};
            for (int k = 0; k < 3; ++k) {
                const double* p = m_vertices.Position(v[k]);
                PutFloats(&m_out.corners[slot * 9 + k * 3], p);
                VecAdd(centroid, centroid, p);
                if (m_smooth[v[k]]) {
                    std::copy_n(&m_smoothNormals[std::size_t(v[k]) * 3], 3,
                                &m_out.normals[slot * 9 + k * 3]);
                    continue;
                }
                double sum[3] = {0.0, 0.0, 0.0};
                for (std::uint32_t g : m_vertices.VertexFaceList(v[k])) {
                    if (g >= m_faceCount || m_corners[std::size_t(g) * 3] == kNoIndex) {
                        continue;
                    }
                    const double* gn = &m_faceNormals[std::size_t(g) * 3];
                    if (crease.Below(gn, m_lengths[g], fn, fl)) {
                        VecAdd(sum, sum, gn);
                    }
                }
                VecNormalize(sum);
                PutFloats(&m_out.normals[slot * 9 + k * 3], sum);
            }
            VecScale(centroid, centroid, 0.3333333333333333);
            double tip[3];
            VecScale(tip, fn, m_normalLength);
            VecAdd(tip, tip, centroid);
            PutFloats(&m_out.normalLines[slot * 6], centroid);
            PutFloats(&m_out.normalLines[slot * 6 + 3], tip);
            ++slot;
        }
    }

    // Both ends of every feature edge in [first, last): an edge with fewer than two faces,
    // or whose faces' normals differ by the crease angle or more.
    void Edges(std::size_t first, std::size_t last, std::vector<float>& out)
    {
        const AngleTest crease(kEdgeCreaseAngle);
        static const double kNoNormal[3] = {0.0, 0.0, 0.0};
        auto normalOf = [&](std::uint32_t f) {
            return f < m_faceCount ? &m_faceNormals[std::size_t(f) * 3] : kNoNormal;
        };
        auto lengthOf = [&](std::uint32_t f) { return f < m_faceCount ? m_lengths[f] : 0.0; };
        for (std::size_t e = first; e < last; ++e) {
            std::uint32_t f[2];
            m_edges->GetEdgeFaces(f, std::uint32_t(e));
            if (f[0] != kNoIndex && f[1] != kNoIndex &&
                crease.Below(normalOf(f[0]), lengthOf(f[0]), normalOf(f[1]), lengthOf(f[1]))) {
                continue;
            }
            std::uint32_t ends[2];
            if (m_edges->GetEdge(ends, std::uint32_t(e)) != 0 || ends[0] >= m_vertexCount ||
                ends[1] >= m_vertexCount) {
                continue; // an edge over a vertex that does not exist has nothing to draw
            }
            float line[6];
            PutFloats(line, m_vertices.Position(ends[0]));
            PutFloats(line + 3, m_vertices.Position(ends[1]));
            out.insert(out.end(), line, line + 6);
        }
    }

    const VertexArray& m_vertices;
    const FaceArray& m_faces;
    const EdgeArray* m_edges;
    double m_normalLength;
    MeshGeometry& m_out;
    std::uint32_t m_vertexCount = 0;
    std::uint32_t m_faceCount = 0;
    std::vector<std::uint32_t> m_corners;
    std::vector<double> m_faceNormals;
    std::vector<double> m_lengths;
    std::vector<float> m_smoothNormals; // per vertex, where m_smooth is set
    std::vector<std::uint8_t> m_smooth;
};

} // namespace

void CollectMeshGeometry(Mesh3d& mesh, double normalLength, MeshGeometry& out, unsigned threads)
{
    out = MeshGeometry{};
    TopologyScope topology(mesh);
    if (!topology.Ok() || !mesh.vertices || !mesh.faces) {
        return;
    }
    Collector(mesh, normalLength, out).Run(threads);
}

} // namespace polyvant
