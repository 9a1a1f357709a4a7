// Import speed of the AutoCad DXF and Imagine readers, next to `assimp info` on the same
// files in the same run (when the assimp command is installed).
//
//   dxf_iob_bench [--runs N] [--torus OBJ] [FILE.dxf|FILE.iob ...]
//
// Without files it times the shared DXF samples and a big DXF and Imagine file that it
// writes once with our own exporters from the generated torus (default
// /tmp/pvperf/torus_1m.obj, made by gen_mesh.py --out /tmp/pvperf 1m). Each figure is
// the fastest of N runs (default 5); an import is mapping the file, reading it and
// handing over finished meshes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "dxf/DxfReader.h"
#include "dxf/DxfWriter.h"
#include "iob/IobReader.h"
#include "iob/IobWriter.h"
#include "obj/ObjReader.h"

extern char** environ;

namespace {

using namespace polyvant;
using namespace polyvant::formats;

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool EndsWith(const std::string& s, const char* tail)
{
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// One import; returns the triangle count (so the work cannot be optimised away), or -1.
long long ImportOnce(const std::string& path)
{
    MappedFile file;
    std::string error;
    if (!file.Open(path.c_str(), error))
        return -1;
    long long triangles = 0;
    auto finish = [&](std::vector<MeshBuilder>& builders) {
        for (MeshBuilder& b : builders) {
            std::unique_ptr<Mesh3d> mesh(b.Finish());
            triangles += mesh ? mesh->faceCount : 0;
        }
    };
    if (EndsWith(path, ".iob")) {
        iob::IobResult r;
        if (!iob::ReadIob(file.Data(), file.Size(), r))
            return -1;
        finish(r.meshes);
    } else {
        dxf::DxfResult r;
        if (!dxf::ReadDxf(file.Data(), file.Size(), r))
            return -1;
        finish(r.meshes);
    }
    return triangles;
}

// Wall time of `assimp info FILE` with its output discarded; negative when it fails.
double AssimpOnce(const std::string& path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"assimp", "info", path.c_str(), nullptr};
    const double start = Now();
    pid_t pid = 0;
    const int rc =
        posix_spawnp(&pid, "assimp", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double elapsed = Now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

// Writes the torus as DXF and Imagine files beside it with our exporters (once).
std::vector<std::string> MakeTorusFiles(const std::string& objPath)
{
    const std::string base = objPath.substr(0, objPath.size() - 4);
    const std::vector<std::string> outputs = {base + ".dxf", base + ".iob"};
    if (std::filesystem::exists(outputs[0]) && std::filesystem::exists(outputs[1]))
        return outputs;
    MappedFile file;
    std::string error;
    if (!file.Open(objPath.c_str(), error)) {
        std::fprintf(stderr, "%s: %s (make it with gen_mesh.py)\n", objPath.c_str(), error.c_str());
        return {};
    }
    std::vector<std::unique_ptr<Mesh3d>> meshes;
    obj::ReadObj(file.Data(), file.Size(), objPath, "torus", meshes, nullptr);
    std::vector<const Mesh3d*> scene;
    for (const auto& m : meshes)
        scene.push_back(m.get());
    for (const std::string& out : outputs) {
        AtomicFileWriter writer;
        std::vector<std::string> warnings;
        if (!writer.Open(out.c_str(), error))
            return {};
        const auto sink = [&](std::string_view bytes) { return writer.Write(bytes); };
        const bool ok = EndsWith(out, ".dxf") ? dxf::WriteDxf(scene, sink, warnings, error)
                                              : iob::WriteIob(scene, sink, warnings, error);
        if (!ok || !writer.Commit(error)) {
            std::fprintf(stderr, "%s: %s\n", out.c_str(), error.c_str());
            return {};
        }
    }
    return outputs;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    std::string torus = "/tmp/pvperf/torus_1m.obj";
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--torus" && i + 1 < argc)
            torus = argv[++i];
        else
            files.push_back(arg);
    }
    if (files.empty()) {
        for (const char* name :
             {"3dface.dxf", "Minimal_DXF_AC1006.dxf", "POLI-ALL210_12.DXF", "PinkEggFromLW.dxf",
              "issue_2229.dxf", "lineTest.dxf", "rifle.dxf", "wuson.dxf"})
            files.push_back(std::string(POLYVANT_TESTDATA_DIR) + "/dxf/" + name);
        for (const std::string& f : MakeTorusFiles(torus))
            files.push_back(f);
    }

    std::printf("%-28s %10s %10s %10s %9s %11s %8s\n", "file", "bytes", "triangles", "ours ms",
                "MB/s", "assimp ms", "speedup");
    int failures = 0;
    for (const std::string& path : files) {
        double best = 1e30, bestAssimp = 1e30;
        long long triangles = -1;
        for (int r = 0; r < runs; ++r) {
            const double start = Now();
            triangles = ImportOnce(path);
            best = std::min(best, Now() - start);
        }
        const bool assimpReads = !EndsWith(path, ".iob");
        for (int r = 0; assimpReads && r < runs; ++r) {
            const double t = AssimpOnce(path);
            if (t < 0) {
                bestAssimp = -1;
                break;
            }
            bestAssimp = std::min(bestAssimp, t);
        }
        const double bytes = double(std::filesystem::file_size(path));
        const std::string name = std::filesystem::path(path).filename().string();
        char assimpText[32] = "-", ratioText[32] = "-";
        if (assimpReads && bestAssimp > 0) {
            std::snprintf(assimpText, sizeof assimpText, "%.2f", bestAssimp * 1e3);
            std::snprintf(ratioText, sizeof ratioText, "%.1fx", bestAssimp / best);
        }
        std::printf("%-28s %10.0f %10lld %10.2f %9.1f %11s %8s\n", name.c_str(), bytes, triangles,
                    best * 1e3, bytes / best / 1e6, assimpText, ratioText);
        failures += triangles < 0;
    }
    return failures ? 1 : 0;
}
