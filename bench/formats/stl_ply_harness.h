#pragma once
// What the STL and PLY timing programs share: loading a format plug-in the way the
// host does, a host-services table that answers save prompts and option edits, a
// clock, peak memory and mapping a file for the floor programs.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <polyvant/sdk.h>

namespace pvbench {

// CPU time of this (single-threaded) process, user and system: on a machine shared
// with other work it varies far less than the wall clock, which is reported beside it.
inline double Now()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

inline double Wall()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Peak resident set of this process so far, in MB.
inline double PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

inline std::uint64_t FileSize(const char* path)
{
    struct stat st {};
    return stat(path, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

[[noreturn]] inline void Die(const std::string& what)
{
    std::fprintf(stderr, "bench: %s\n", what.c_str());
    std::exit(2);
}

// A read-only mapping of a whole file.
struct Mapping {
    const char* data = nullptr;
    std::size_t size = 0;
    explicit Mapping(const char* path)
    {
        const int fd = open(path, O_RDONLY);
        if (fd < 0)
            Die(std::string("cannot open ") + path);
        size = static_cast<std::size_t>(lseek(fd, 0, SEEK_END));
        void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (p == MAP_FAILED)
            Die(std::string("cannot map ") + path);
        data = static_cast<const char*>(p);
    }
    ~Mapping() { munmap(const_cast<char*>(data), size); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
};

// Host services for benchmarks: errors to stderr, save prompts answered with
// `savePath`, the first option of every edit set to `choice`.
struct BenchHost {
    static inline std::string savePath;
    static inline std::int64_t choice = 0;

    PvHostServices table{};
    BenchHost()
    {
        table.version = polyvant::kHostServicesVersion;
        table.size = sizeof(PvHostServices);
        table.askSaveFile = [](void*, const char*, const char*, const char*) -> char* {
            return strdup(savePath.c_str());
        };
        table.askOpenFile = [](void*, const char*, const char*) -> char* { return nullptr; };
        table.report = [](void*, std::int32_t severity, const char* message) {
            std::fprintf(stderr, "%s: %s\n", severity == PV_ERROR ? "error" : "note", message);
        };
        table.progress = [](void*, double, const char*) -> std::int32_t { return 1; };
        table.showHelp = [](void*, const char*, const char*) {};
        table.editOptions = [](void*, const char*, PvOption* options,
                               std::uint32_t count) -> std::int32_t {
            if (count)
                options[0].intValue = choice;
            return 1;
        };
    }
};

// A plug-in library opened as the host opens it, with its import and export classes.
struct Plugin {
    void* handle = nullptr;
    polyvant::ClassDescriptor* importClass = nullptr;
    polyvant::ClassDescriptor* exportClass = nullptr;
    BenchHost host;

    explicit Plugin(const std::string& path)
    {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            Die(std::string("cannot load ") + path + ": " + dlerror());
        auto count = reinterpret_cast<PvLibNumberClassesFn>(dlsym(handle, "LibNumberClasses"));
        auto describe =
            reinterpret_cast<PvLibClassDescriptionFn>(dlsym(handle, "LibClassDescription"));
        auto services =
            reinterpret_cast<PvLibSetHostServicesFn>(dlsym(handle, "LibSetHostServices"));
        if (!count || !describe || !services)
            Die(path + " is not a format plug-in");
        services(&host.table);
        for (std::uint32_t i = 0; i < count(); ++i) {
            polyvant::ClassDescriptor* d = describe(i);
            if (d->SuperClassID() == polyvant::kImportSuperClassId)
                importClass = d;
            else if (d->SuperClassID() == polyvant::kExportSuperClassId)
                exportClass = d;
        }
        if (!importClass || !exportClass)
            Die(path + " lacks an import or export class");
    }
    // Keeps the library loaded: the importers' objects live in it until exit.
};

struct Totals {
    std::uint64_t meshes = 0, vertices = 0, faces = 0;
    double checksum = 0; // consumed so nothing is optimised away
};

inline Totals Count(const polyvant::ObjectList* list)
{
    Totals t;
    int seen = 0;
    for (const polyvant::ListNode* n = list ? list->head : nullptr; n && seen < list->count;
         n = n->next, ++seen) {
        const auto* mesh = static_cast<const polyvant::Mesh3d*>(n->item);
        if (mesh->type != polyvant::kMeshType)
            continue;
        ++t.meshes;
        t.vertices += mesh->vertexCount;
        t.faces += mesh->faceCount;
        if (mesh->vertexCount)
            t.checksum += mesh->vertexData[3 * (mesh->vertexCount - 1)];
        if (mesh->faceCount)
            t.checksum += mesh->faceData[4 * (mesh->faceCount - 1)];
    }
    return t;
}

// One timed run of `work` (returning Totals) in a child process, so that every run
// starts with a fresh heap: in one long process the allocator keeps freed blocks of up
// to 32 MiB and later runs of a small mesh would skip the page faults a real import
// pays, while big meshes pay them every time. Sets cpu and wall seconds of the run.
template <typename Work>
Totals ColdRun(Work work, double& cpu, double& wall)
{
    struct Result {
        double cpu, wall;
        Totals totals;
    } result{};
    int fds[2];
    if (pipe(fds) != 0)
        Die("pipe failed");
    const pid_t child = fork();
    if (child < 0)
        Die("fork failed");
    if (child == 0) {
        close(fds[0]);
        const double start = Now(), startWall = Wall();
        result.totals = work();
        result.cpu = Now() - start;
        result.wall = Wall() - startWall;
        const ssize_t written = write(fds[1], &result, sizeof(result));
        _exit(written == sizeof(result) ? 0 : 1);
    }
    close(fds[1]);
    const ssize_t got = read(fds[0], &result, sizeof(result));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != sizeof(result) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Die("a timed run failed");
    cpu = result.cpu;
    wall = result.wall;
    return result.totals;
}

inline std::string PluginDir(const char* argv0)
{
    if (const char* dir = std::getenv("POLYVANT_PLUGIN_DIR"))
        return dir;
    std::string self = argv0;
    const std::size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) +
           "/../bin/plugin";
}

// `seconds` is CPU time, `wall` the wall clock of the same (fastest) run.
inline void Report(const char* what, const char* path, double seconds, double wall, const Totals& t)
{
    const double mb = static_cast<double>(FileSize(path)) / 1e6;
    std::printf(
        "%-14s %-30s cpu %7.4f s wall %7.4f s %7.1f MB/s %6.2f Mfaces/s  meshes %llu "
        "vertices %llu faces %llu  (check %.6g)\n",
        what, path, seconds, wall, mb / seconds, static_cast<double>(t.faces) / seconds / 1e6,
        static_cast<unsigned long long>(t.meshes), static_cast<unsigned long long>(t.vertices),
        static_cast<unsigned long long>(t.faces), t.checksum);
}

// Runs asked for on the command line (argument `at`), or `fallback`.
inline int Runs(int argc, char** argv, int at, int fallback)
{
    return argc > at ? std::atoi(argv[at]) : fallback;
}

inline Totals ImportOnce(Plugin& plugin, const char* path)
{
    auto* importer = static_cast<polyvant::Importer*>(plugin.importClass->Create());
    polyvant::ObjectList* list = importer->ImportFile(path);
    if (!list)
        Die(std::string("import failed: ") + path);
    const Totals t = Count(list);
    importer->Release();
    return t;
}

// "export FILE OUT ascii|binary [runs]": imports FILE once, then times exporting it to OUT
// with the format option chosen through the host (0 binary, 1 ascii).
inline void ExportMode(Plugin& plugin, int argc, char** argv)
{
    const char* path = argv[2];
    auto* importer = static_cast<polyvant::Importer*>(plugin.importClass->Create());
    polyvant::ObjectList* list = importer->ImportFile(path);
    if (!list)
        Die("import failed");
    const Totals t = Count(list);
    BenchHost::savePath = argv[3];
    BenchHost::choice = std::strcmp(argv[4], "ascii") == 0 ? 1 : 0;
    auto* options = static_cast<polyvant::Exporter*>(plugin.exportClass->Create());
    options->Options();
    options->Release();
    double best = 1e30, bestWall = 0;
    for (int run = 0, runs = Runs(argc, argv, 5, 5); run < runs; ++run) {
        double cpu = 0, wall = 0;
        ColdRun(
            [&] {
                auto* exporter = static_cast<polyvant::Exporter*>(plugin.exportClass->Create());
                if (!exporter->Export(list))
                    Die("export failed");
                exporter->Release();
                return t;
            },
            cpu, wall);
        if (cpu < best)
            best = cpu, bestWall = wall;
    }
    Report((std::string("export-") + argv[4]).c_str(), argv[3], best, bestWall, t);
    importer->Release();
}

// "memory FILE": the peak memory of one import against the file and its arrays.
inline void MemoryMode(Plugin& plugin, const char* path)
{
    const double before = PeakRssMb();
    auto* importer = static_cast<polyvant::Importer*>(plugin.importClass->Create());
    polyvant::ObjectList* list = importer->ImportFile(path);
    if (!list)
        Die("import failed");
    const Totals t = Count(list);
    const double peak = PeakRssMb() - before;
    const double arrays = (24.0 * t.vertices + 16.0 * t.faces) / (1 << 20);
    const double file = static_cast<double>(FileSize(path)) / (1 << 20);
    std::printf("memory         %-34s peak %.1f MiB (file %.1f + arrays %.1f; budget file + "
                "1.5 x arrays = %.1f MiB)\n",
                path, peak, file, arrays, file + 1.5 * arrays);
    importer->Release();
}

} // namespace pvbench
