// Times PLY import and export through the plug-in, against floor programs that do the
// least work for the same result. Run on a Release build:
//   ply_bench import FILE [runs]   plug-in import into Mesh3d records
//   ply_bench floor FILE [runs]    map and convert straight into final arrays (binary
//                                  little endian or ascii; float x y z first in the
//                                  vertex, faces "list uchar int|uint" only)
//   ply_bench export FILE OUT binary|ascii [runs]   plug-in export of FILE's mesh (also
//                                  makes the binary copies the import figures need)
//   ply_bench memory FILE          one import: peak memory against the budget
// Each figure is the minimum over the runs; every run is a fresh child process.

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fast_float/fast_float.h>
#include <string>
#include <vector>

#include "stl_ply_harness.h"

namespace {

using namespace pvbench;

// The layout the floor handles; the header is read with plain string functions (it is
// not on the hot path).
struct Layout {
    bool ascii = false;
    std::size_t body = 0, vertices = 0, faces = 0, vertexStride = 0, vertexProperties = 0;
};

Layout ReadLayout(const Mapping& file)
{
    Layout l;
    const char* end = static_cast<const char*>(memmem(file.data, file.size, "end_header\n", 11));
    if (!end)
        Die("no end_header");
    l.body = static_cast<std::size_t>(end - file.data) + 11;
    const std::string header(file.data, l.body);
    l.ascii = header.find("format ascii") != std::string::npos;
    std::sscanf(header.c_str() + header.find("element vertex"), "element vertex %zu", &l.vertices);
    std::sscanf(header.c_str() + header.find("element face"), "element face %zu", &l.faces);
    const std::size_t faceAt = header.find("element face");
    for (std::size_t at = header.find("property"); at < faceAt;
         at = header.find("property", at + 1)) {
        ++l.vertexProperties;
        l.vertexStride += header.compare(at, 15, "property double") == 0 ? 8 : 4;
    }
    return l;
}

Totals Floor(const char* path)
{
    Mapping file(path);
    const Layout l = ReadLayout(file);
    auto* vertices = static_cast<double*>(std::malloc(24 * l.vertices));
    auto* faces = static_cast<std::uint32_t*>(std::malloc(16 * l.faces));
    const char* p = file.data + l.body;
    const char* end = file.data + file.size;
    // The bounds are part of the result, as in the Mesh3d record.
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    if (!l.ascii) {
        for (std::size_t v = 0; v < l.vertices; ++v, p += l.vertexStride) {
            float xyz[3];
            std::memcpy(xyz, p, 12);
            for (int k = 0; k < 3; ++k) {
                vertices[3 * v + k] = xyz[k];
                lo[k] = xyz[k] < lo[k] ? xyz[k] : lo[k];
                hi[k] = xyz[k] > hi[k] ? xyz[k] : hi[k];
            }
        }
        for (std::size_t f = 0; f < l.faces; ++f) {
            std::memcpy(faces + 4 * f, p + 1, 12); // count byte 3, three indices
            faces[4 * f + 3] = 0;
            p += 13;
        }
    } else {
        auto skip = [&] {
            while (p != end && (*p == ' ' || *p == '\n' || *p == '\r'))
                ++p;
        };
        for (std::size_t v = 0; v < l.vertices; ++v) {
            for (std::size_t k = 0; k < l.vertexProperties; ++k) {
                skip();
                float value;
                p = fast_float::from_chars(p, end, value).ptr;
                if (k < 3) {
                    vertices[3 * v + k] = value;
                    lo[k] = value < lo[k] ? value : lo[k];
                    hi[k] = value > hi[k] ? value : hi[k];
                }
            }
        }
        for (std::size_t f = 0; f < l.faces; ++f) {
            std::uint32_t n = 0;
            skip();
            p = std::from_chars(p, end, n).ptr;
            for (int k = 0; k < 3; ++k) {
                skip();
                p = std::from_chars(p, end, faces[4 * f + k]).ptr;
            }
            faces[4 * f + 3] = 0;
        }
    }
    Totals t;
    t.meshes = 1;
    t.vertices = l.vertices;
    t.faces = l.faces;
    t.checksum = vertices[3 * (l.vertices - 1)] + faces[4 * (l.faces - 1)] + lo[0] + hi[2];
    std::free(vertices);
    std::free(faces);
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: ply_bench import|floor|export|memory FILE ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const char* path = argv[2];
    Plugin plugin(PluginDir(argv[0]) + "/ply.so");
    double best = 1e30, bestWall = 0;
    Totals t;
    if (mode == "import" || mode == "floor") {
        for (int run = 0, runs = Runs(argc, argv, 3, 5); run < runs; ++run) {
            double cpu = 0, wall = 0;
            t = ColdRun([&] { return mode == "import" ? ImportOnce(plugin, path) : Floor(path); },
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
