// Times STL import and export through the plug-in, against floor programs that do the
// least work for the same result. Run on a Release build:
//   stl_bench import FILE [runs]        plug-in import into Mesh3d records
//   stl_bench floor FILE [runs]         map, convert and weld straight into final arrays
//   stl_bench floor-noweld FILE [runs]  map and convert only (three vertices a triangle)
//   stl_bench export FILE OUT binary|ascii [runs]   plug-in export of FILE's meshes
//   stl_bench memory FILE               one import: peak memory against the budget
// Each figure is the minimum over the runs; every run is a fresh child process.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stl_ply_harness.h"

namespace {

using namespace pvbench;

std::uint64_t Mix(std::uint64_t k)
{
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return k;
}

// The least work that gives the importer's result: one pass over the mapped records,
// each corner converted and looked up in an open-addressing table keyed on its bits,
// vertices and faces written straight into their final malloc'd arrays. No checks.
Totals Floor(const char* path, bool weld)
{
    Mapping file(path);
    std::uint32_t n;
    std::memcpy(&n, file.data + 80, 4);
    Totals t;
    auto* faces = static_cast<std::uint32_t*>(std::malloc(16 * std::size_t(n)));
    // Room for every corner; untouched pages cost nothing.
    auto* vertices = static_cast<double*>(std::malloc(72 * std::size_t(n)));
    std::uint32_t count = 0;
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    std::size_t capacity = 1024;
    while (capacity < n)
        capacity *= 2;
    std::vector<std::uint64_t> table(weld ? capacity : 0);
    std::size_t mask = capacity - 1;
    const char* r = file.data + 84;
    for (std::uint32_t f = 0; f < n; ++f, r += 50) {
        for (int c = 0; c < 3; ++c) {
            float v[3];
            std::memcpy(v, r + 12 + 12 * c, 12);
            double* out = vertices + 3 * std::size_t(count);
            for (int k = 0; k < 3; ++k) {
                out[k] = v[k];
                // The bounds are part of the result, as in the Mesh3d record.
                lo[k] = v[k] < lo[k] ? v[k] : lo[k];
                hi[k] = v[k] > hi[k] ? v[k] : hi[k];
            }
            if (!weld) {
                faces[4 * f + c] = count++;
                continue;
            }
            std::uint64_t bits[3];
            std::memcpy(bits, out, 24);
            const std::uint64_t h = Mix(bits[0] ^ Mix(bits[1] ^ Mix(bits[2])));
            std::size_t i = h & mask;
            std::uint32_t index;
            for (;; i = (i + 1) & mask) {
                const std::uint64_t slot = table[i];
                if (slot == 0) {
                    index = count++;
                    table[i] = (h >> 32 << 32) | (index + 1ULL);
                    break;
                }
                if ((slot >> 32) == (h >> 32) &&
                    std::memcmp(vertices + 3 * ((slot & 0xFFFFFFFF) - 1), out, 24) == 0) {
                    index = static_cast<std::uint32_t>(slot) - 1;
                    break;
                }
            }
            faces[4 * f + c] = index;
            if (2 * std::size_t(count) > capacity) {
                std::vector<std::uint64_t> bigger(2 * capacity);
                const std::size_t biggerMask = 2 * capacity - 1;
                for (std::uint64_t slot : table) {
                    if (!slot)
                        continue;
                    std::uint64_t b[3];
                    std::memcpy(b, vertices + 3 * ((slot & 0xFFFFFFFF) - 1), 24);
                    std::size_t j = Mix(b[0] ^ Mix(b[1] ^ Mix(b[2]))) & biggerMask;
                    while (bigger[j])
                        j = (j + 1) & biggerMask;
                    bigger[j] = slot;
                }
                table.swap(bigger);
                capacity *= 2;
                mask = biggerMask;
            }
        }
        faces[4 * f + 3] = 0;
    }
    t.meshes = 1;
    t.vertices = count;
    t.faces = n;
    t.checksum = vertices[3 * (count - 1)] + faces[4 * (n - 1)] + lo[0] + hi[2];
    std::free(vertices);
    std::free(faces);
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: stl_bench import|floor|floor-noweld|export|memory FILE ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const char* path = argv[2];
    Plugin plugin(PluginDir(argv[0]) + "/stl.so");
    double best = 1e30, bestWall = 0;
    Totals t;
    if (mode == "import" || mode == "floor" || mode == "floor-noweld") {
        for (int run = 0, runs = Runs(argc, argv, 3, 5); run < runs; ++run) {
            double cpu = 0, wall = 0;
            t = ColdRun(
                [&] {
                    return mode == "import" ? ImportOnce(plugin, path)
                                            : Floor(path, mode == "floor");
                },
                cpu, wall);
            if (cpu < best)
                best = cpu, bestWall = wall;
        }
        Report(mode.c_str(), path, best, bestWall, t);
    } else if (mode == "export" && argc >= 5) {
        ExportMode(plugin, argc, argv);
    } else if (mode == "memory") {
        MemoryMode(plugin, path);
    } else {
        Die("unknown mode " + mode);
    }
    return 0;
}
