// Topology build and feature-edge extraction on the benchmark torus, beside OpenMesh
// building a TriMesh with its halfedge adjacency from the same indexed arrays.
//   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOLYVANT_BUILD_BENCH=ON
//   cmake --build build-rel --target topology_bench && build-rel/bench/topology_bench
// Each size runs 5 times; the _min rows are the figures.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <map>
#include <time.h>

#include <polyvant/Obj3d.h>

#include "TorusMesh.h"
#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

#ifdef POLYVANT_BENCH_OPENMESH
#include <OpenMesh/Core/Mesh/TriMesh_ArrayKernelT.hh>
#endif

namespace {

constexpr int kRepetitions = 5;

const bench::TorusMesh& Torus(std::uint32_t triangles)
{
    static std::map<std::uint32_t, bench::TorusMesh> cache;
    auto found = cache.find(triangles);
    if (found == cache.end())
        found = cache.emplace(triangles, bench::MakeTorus(triangles)).first;
    return found->second;
}

// A flat mesh over copies of the torus arrays, as an import plug-in hands it over.
polyvant::Mesh3d* FlatCopy(const bench::TorusMesh& torus)
{
    auto* mesh = new polyvant::Mesh3d("torus", polyvant::Mesh3d::kFlat);
    mesh->vertexCount = torus.VertexCount();
    mesh->faceCount = torus.FaceCount();
    mesh->vertexData = static_cast<double*>(std::malloc(torus.points.size() * sizeof(double)));
    mesh->faceData =
        static_cast<std::uint32_t*>(std::malloc(torus.records.size() * sizeof(std::uint32_t)));
    std::memcpy(mesh->vertexData, torus.points.data(), torus.points.size() * sizeof(double));
    std::memcpy(mesh->faceData, torus.records.data(), torus.records.size() * sizeof(std::uint32_t));
    return mesh;
}

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// CPU time of this thread, user and system (page faults included): the build machine is
// shared, and wall time there mostly measures the neighbours.
template <class F>
double Seconds(F&& work)
{
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

void Report(benchmark::State& state, const bench::TorusMesh& torus)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * torus.FaceCount());
    state.counters["faces"] = torus.FaceCount();
}

void BM_BuildTopology(benchmark::State& state)
{
    const bench::TorusMesh& torus = Torus(static_cast<std::uint32_t>(state.range(0)));
    polyvant::Mesh3d* mesh = FlatCopy(torus);
    for (auto _ : state) {
        int built = 0;
        state.SetIterationTime(Seconds([&] { built = mesh->BuildTopology(); }));
        if (built != 1 || mesh->edges->Count() != 3 * torus.FaceCount() / 2) {
            state.SkipWithError("topology build gave a wrong result");
            break;
        }
        benchmark::DoNotOptimize(mesh->vertices->Count());
        mesh->FreeTopology();
    }
    Report(state, torus);
    delete mesh;
}

void BM_ExtractEdges(benchmark::State& state)
{
    const bench::TorusMesh& torus = Torus(static_cast<std::uint32_t>(state.range(0)));
    polyvant::Mesh3d* mesh = FlatCopy(torus);
    mesh->BuildTopology();
    std::uint32_t lines = 0;
    for (auto _ : state) {
        polyvant::Mesh3d* edges = nullptr;
        // The display build's crease angle for feature edges.
        state.SetIterationTime(Seconds([&] { edges = mesh->ExtractEdges(1.0); }));
        if (!edges) {
            state.SkipWithError("no edge mesh");
            break;
        }
        lines = edges->edges->Count();
        delete edges;
    }
    state.counters["lines"] = lines;
    Report(state, torus);
    delete mesh;
}

#ifdef POLYVANT_BENCH_OPENMESH
using TriMesh = OpenMesh::TriMesh_ArrayKernelT<>;

void OpenMeshBuild(benchmark::State& state, bool reserve)
{
    const bench::TorusMesh& torus = Torus(static_cast<std::uint32_t>(state.range(0)));
    const std::uint32_t vertexCount = torus.VertexCount(), faceCount = torus.FaceCount();
    for (auto _ : state) {
        auto* mesh = new TriMesh;
        state.SetIterationTime(Seconds([&] {
            if (reserve)
                mesh->reserve(vertexCount, 3 * faceCount / 2, faceCount);
            std::vector<TriMesh::VertexHandle> handles(vertexCount);
            const double* p = torus.points.data();
            for (std::uint32_t v = 0; v < vertexCount; ++v, p += 3)
                handles[v] = mesh->add_vertex(TriMesh::Point(p[0], p[1], p[2]));
            const std::uint32_t* r = torus.records.data();
            for (std::uint32_t f = 0; f < faceCount; ++f, r += 4)
                mesh->add_face(handles[r[0]], handles[r[1]], handles[r[2]]);
        }));
        if (mesh->n_edges() != 3 * static_cast<std::size_t>(faceCount) / 2) {
            state.SkipWithError("OpenMesh gave a wrong edge count");
            break;
        }
        delete mesh;
    }
    Report(state, torus);
}

void BM_OpenMeshTriMesh(benchmark::State& state)
{
    OpenMeshBuild(state, false);
}

void BM_OpenMeshTriMeshReserved(benchmark::State& state)
{
    OpenMeshBuild(state, true);
}
#endif

void Sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(100000)->Arg(1000000)->Arg(4000000);
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    b->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

} // namespace

BENCHMARK(BM_BuildTopology)->Apply(Sizes);
BENCHMARK(BM_ExtractEdges)->Apply(Sizes);
#ifdef POLYVANT_BENCH_OPENMESH
BENCHMARK(BM_OpenMeshTriMesh)->Apply(Sizes);
BENCHMARK(BM_OpenMeshTriMeshReserved)->Apply(Sizes);
#endif

BENCHMARK_MAIN();
