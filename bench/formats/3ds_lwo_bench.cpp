// Import speed of the 3D Studio and Lightwave readers, timed next to `assimp info` on the
// same files in the same run (when the assimp command is installed).
//
//   3ds_lwo_bench [--runs N] [--torus OBJ] [FILE.3ds|FILE.lwo ...]
//
// Without files it times every shared 3DS and LWO sample plus a big .3ds and .lwo that it
// writes once with our own exporters from the generated torus (default
// /tmp/pvperf/torus_1m.obj, from gen_mesh.py --out /tmp/pvperf 1m). A figure is the
// fastest of N runs (default 5) of: map the file, read it, hand over finished meshes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "3ds/ThreeDsReader.h"
#include "3ds/ThreeDsWriter.h"
#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "lwo/LwoReader.h"
#include "lwo/LwoWriter.h"
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

bool IsLwo(const std::string& path)
{
    const std::string ext = std::filesystem::path(path).extension().string();
    return ext == ".lwo" || ext == ".LWO";
}

// One import; the triangle count (which keeps the work from being optimised away), or -1.
long long ImportOnce(const std::string& path)
{
    MappedFile file;
    std::string error;
    if (!file.Open(path.c_str(), error))
        return -1;
    const auto* data = reinterpret_cast<const unsigned char*>(file.Data());
    long long triangles = 0;
    auto hand = [&triangles](MeshBuilder& builder) {
        std::unique_ptr<Mesh3d> mesh(builder.Finish());
        triangles += mesh ? mesh->faceCount : 0;
    };
    if (IsLwo(path)) {
        LwoScene scene;
        if (!ReadLwo(data, file.Size(), scene, "object"))
            return -1;
        for (MeshBuilder& m : scene.meshes)
            hand(m);
    } else {
        ThreeDsScene scene;
        if (!Read3ds(data, file.Size(), scene))
            return -1;
        for (ThreeDsObject& o : scene.objects)
            hand(o.mesh);
    }
    return triangles;
}

// Wall time of `assimp info FILE`, output discarded; negative when it fails.
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

bool Save(const std::string& path, const std::vector<unsigned char>& bytes)
{
    AtomicFileWriter out;
    std::string error;
    if (out.Open(path.c_str(), error) && out.Write(bytes.data(), bytes.size()) && out.Commit(error))
        return true;
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return false;
}

// Writes the torus as .3ds and .lwo beside it with our exporters, unless already there.
std::vector<std::string> TorusFiles(const std::string& objPath)
{
    const std::string base = objPath.substr(0, objPath.rfind('.'));
    const std::vector<std::string> outputs = {base + ".3ds", base + ".lwo"};
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
    ThreeDsImage tds;
    LwoImage lwo;
    if (!Build3dsImage(scene, tds) || !BuildLwoImage(scene, lwo)) {
        std::fprintf(stderr, "export failed: %s%s\n", tds.error.c_str(), lwo.error.c_str());
        return {};
    }
    if (!Save(outputs[0], tds.bytes) || !Save(outputs[1], lwo.bytes))
        return {};
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
        for (const char* dir : {"3ds", "lwo"}) {
            std::vector<std::string> found;
            for (const auto& entry : std::filesystem::directory_iterator(
                     std::string(POLYVANT_TESTDATA_DIR) + "/" + dir))
                found.push_back(entry.path().string());
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        }
        for (const std::string& f : TorusFiles(torus))
            files.push_back(f);
    }

    std::printf("%-40s %10s %10s %10s %9s %11s %8s\n", "file", "bytes", "triangles", "ours ms",
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
        for (int r = 0; r < runs; ++r) {
            const double t = AssimpOnce(path);
            if (t < 0) {
                bestAssimp = -1;
                break;
            }
            bestAssimp = std::min(bestAssimp, t);
        }
        const double bytes = double(std::filesystem::file_size(path));
        const std::string name = std::filesystem::path(path).filename().string();
        char assimpText[32] = "fails", ratioText[32] = "-";
        if (bestAssimp > 0) {
            std::snprintf(assimpText, sizeof assimpText, "%.2f", bestAssimp * 1e3);
            std::snprintf(ratioText, sizeof ratioText, "%.1fx", bestAssimp / best);
        }
        std::printf("%-40s %10.0f %10lld %10.3f %9.1f %11s %8s\n", name.c_str(), bytes, triangles,
                    best * 1e3, bytes / best / 1e6, assimpText, ratioText);
        failures += triangles < 0;
    }
    return failures ? 1 : 0;
}
