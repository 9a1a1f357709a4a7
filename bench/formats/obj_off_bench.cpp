// Timing program for the OBJ and OFF plug-ins, and the single-thread floor an OBJ reader
// is measured against. One measurement per process, so the peak memory belongs to it:
//   obj_off_bench import <plugin.so> <file> [runs]   import through the plug-in
//   obj_off_bench floor <file.obj> [runs]           map + fast_float into final arrays
//   obj_off_bench export <plugin.so> <in.obj> <out> [runs]
//                                                   OBJ import, then time the export
//   obj_off_bench convert <obj.so> <in.obj> <off.so> <out.off>
// Prints the least wall and CPU time of the runs (CPU time is the steadier on a
// shared machine), throughput, triangles and the peak
// resident memory of the first run against the file size and the final arrays.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <polyvant/sdk.h>

namespace {

double Wall()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double Cpu()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double PeakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double FileMb(const char* path)
{
    struct stat st {};
    return stat(path, &st) == 0 ? static_cast<double>(st.st_size) / (1 << 20) : 0;
}

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "obj_off_bench: %s\n", what.c_str());
    std::exit(2);
}

std::string savePath;

PvHostServices MakeHost()
{
    PvHostServices t{};
    t.version = polyvant::kHostServicesVersion;
    t.size = sizeof t;
    t.askSaveFile = [](void*, const char*, const char*, const char*) -> char* {
        return strdup(savePath.c_str());
    };
    t.askOpenFile = [](void*, const char*, const char*) -> char* { return nullptr; };
    t.report = [](void*, std::int32_t, const char* m) { std::fprintf(stderr, "%s\n", m); };
    t.progress = [](void*, double, const char*) -> std::int32_t { return 1; };
    t.showHelp = [](void*, const char*, const char*) {};
    t.editOptions = [](void*, const char*, PvOption*, std::uint32_t) -> std::int32_t { return 1; };
    return t;
}
PvHostServices host = MakeHost();

polyvant::ClassDescriptor* Load(const char* library, std::uint32_t superClass)
{
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        Die(std::string("cannot load ") + library + ": " + dlerror());
    auto count = reinterpret_cast<PvLibNumberClassesFn>(dlsym(handle, "LibNumberClasses"));
    auto describe = reinterpret_cast<PvLibClassDescriptionFn>(dlsym(handle, "LibClassDescription"));
    auto services = reinterpret_cast<PvLibSetHostServicesFn>(dlsym(handle, "LibSetHostServices"));
    if (!count || !describe || !services)
        Die(std::string(library) + " is not a format plug-in");
    services(&host);
    for (std::uint32_t i = 0; i < count(); ++i)
        if (describe(i)->SuperClassID() == superClass)
            return describe(i);
    Die(std::string(library) + " lacks the class");
}

struct Counts {
    std::uint64_t meshes = 0, vertices = 0, faces = 0;
    double checksum = 0;
};

Counts Count(const polyvant::ObjectList* list)
{
    Counts c;
    for (const polyvant::ListNode* n = list->head; n; n = n->next) {
        const auto* m = static_cast<const polyvant::Mesh3d*>(n->item);
        ++c.meshes;
        c.vertices += m->vertexCount;
        c.faces += m->faceCount;
        for (std::uint32_t i = 0; i < m->vertexCount; ++i)
            c.checksum += m->vertexData[3 * i];
    }
    return c;
}

double firstPeakMb = 0; // after the first run: later runs see a warmed-up malloc

void Print(const char* what, const char* file, double best, double cpu, const Counts& c,
           double baseMb)
{
    const double arraysMb = (24.0 * c.vertices + 16.0 * c.faces) / (1 << 20);
    const double fileMb = FileMb(file);
    const double peak = firstPeakMb - baseMb;
    std::printf("%-7s %-28s wall %.3f s  cpu %.3f s  %.0f MB/s  %.1f Mtri/s  meshes %llu  "
                "vertices %llu  triangles %llu  sum_x %.6f  peak %.0f MB (file %.0f + arrays "
                "%.0f; limit %.0f)\n",
                what, file, best, cpu, fileMb / best, c.faces / best / 1e6,
                static_cast<unsigned long long>(c.meshes),
                static_cast<unsigned long long>(c.vertices),
                static_cast<unsigned long long>(c.faces), c.checksum, peak, fileMb, arraysMb,
                fileMb + 1.5 * arraysMb);
}

// The floor: map the file, convert every number of the v and f lines straight into
// the final arrays, one thread, no checks beyond staying inside the buffer.
Counts Floor(const char* path)
{
    const int fd = open(path, O_RDONLY);
    if (fd < 0)
        Die(std::string("cannot open ") + path);
    struct stat st {};
    fstat(fd, &st);
    const auto size = static_cast<std::size_t>(st.st_size);
    const char* data = static_cast<const char*>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
    close(fd);
    const char* p = data;
    const char* end = data + size;
    std::size_t vCount = 0, vCap = 1 << 16, fCount = 0, fCap = 1 << 16;
    auto* v = static_cast<double*>(std::malloc(3 * sizeof(double) * vCap));
    auto* f = static_cast<std::uint32_t*>(std::malloc(4 * sizeof(std::uint32_t) * fCap));
    while (p < end) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!eol)
            eol = end;
        if (p[0] == 'v' && p + 1 < eol && p[1] == ' ') {
            if (vCount == vCap)
                v = static_cast<double*>(std::realloc(v, 3 * sizeof(double) * (vCap *= 2)));
            const char* q = p + 2;
            for (int k = 0; k < 3; ++k) {
                while (q < eol && *q == ' ')
                    ++q;
                q = fast_float::from_chars(q, eol, v[3 * vCount + k]).ptr;
            }
            ++vCount;
        } else if (p[0] == 'f' && p + 1 < eol && p[1] == ' ') {
            if (fCount == fCap)
                f = static_cast<std::uint32_t*>(
                    std::realloc(f, 4 * sizeof(std::uint32_t) * (fCap *= 2)));
            const char* q = p + 2;
            for (int k = 0; k < 3; ++k) {
                while (q < eol && *q == ' ')
                    ++q;
                std::uint32_t i = 0;
                q = std::from_chars(q, eol, i).ptr;
                f[4 * fCount + k] = i - 1;
            }
            f[4 * fCount + 3] = 0;
            ++fCount;
        }
        p = eol + 1;
    }
    Counts c{1, vCount, fCount, 0};
    for (std::size_t i = 0; i < vCount; ++i)
        c.checksum += v[3 * i];
    std::free(v);
    std::free(f);
    munmap(const_cast<char*>(data), size);
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        Die("usage: see the comment at the top of obj_off_bench.cpp");
    const std::string mode = argv[1];
    const double baseMb = PeakMb();
    double best = 1e30, cpu = 0;
    Counts counts;
    if (mode == "floor") {
        const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
        for (int r = 0; r < runs; ++r) {
            const double t0 = Wall(), c0 = Cpu();
            counts = Floor(argv[2]);
            const double t = Wall() - t0, c = Cpu() - c0;
            if (r == 0)
                firstPeakMb = PeakMb();
            best = std::min(best, t);
            cpu = r == 0 ? c : std::min(cpu, c);
        }
        Print("floor", argv[2], best, cpu, counts, baseMb);
    } else if (mode == "import" && argc >= 4) {
        auto* cls = Load(argv[2], polyvant::kImportSuperClassId);
        const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
        for (int r = 0; r < runs; ++r) {
            auto* importer = static_cast<polyvant::Importer*>(cls->Create());
            const double t0 = Wall(), c0 = Cpu();
            polyvant::ObjectList* list = importer->ImportFile(argv[3]);
            const double t = Wall() - t0, c = Cpu() - c0;
            if (!list)
                Die("import failed");
            counts = Count(list);
            if (r == 0)
                firstPeakMb = PeakMb();
            importer->Release();
            best = std::min(best, t);
            cpu = r == 0 ? c : std::min(cpu, c);
        }
        Print("import", argv[3], best, cpu, counts, baseMb);
    } else if (mode == "export" && argc >= 5) {
        auto* in = Load(argv[2], polyvant::kImportSuperClassId);
        auto* out = Load(argv[2], polyvant::kExportSuperClassId);
        auto* importer = static_cast<polyvant::Importer*>(in->Create());
        polyvant::ObjectList* list = importer->ImportFile(argv[3]);
        if (!list)
            Die("import failed");
        counts = Count(list);
        savePath = argv[4];
        const int runs = argc > 5 ? std::atoi(argv[5]) : 3;
        for (int r = 0; r < runs; ++r) {
            auto* exporter = static_cast<polyvant::Exporter*>(out->Create());
            const double t0 = Wall(), c0 = Cpu();
            const int ok = exporter->Export(list);
            const double t = Wall() - t0, c = Cpu() - c0;
            exporter->Release();
            if (!ok)
                Die("export failed");
            if (r == 0)
                firstPeakMb = PeakMb();
            best = std::min(best, t);
            cpu = r == 0 ? c : std::min(cpu, c);
        }
        Print("export", argv[4], best, cpu, counts, baseMb);
        importer->Release();
    } else if (mode == "convert" && argc >= 6) {
        auto* in = Load(argv[2], polyvant::kImportSuperClassId);
        auto* out = Load(argv[4], polyvant::kExportSuperClassId);
        auto* importer = static_cast<polyvant::Importer*>(in->Create());
        polyvant::ObjectList* list = importer->ImportFile(argv[3]);
        savePath = argv[5];
        auto* exporter = static_cast<polyvant::Exporter*>(out->Create());
        if (!list || !exporter->Export(list))
            Die("conversion failed");
        exporter->Release();
        importer->Release();
    } else {
        Die("unknown mode " + mode);
    }
    return 0;
}
