#include "Worker.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Plugin.h>

#include "HeadlessHost.h"
#include "ImportCheck.h"
#include "PluginManager.h"
#include "model/SanitizerBuild.h"
#include "tools/common/ToolSupport.h"

namespace polyvant::tools {
namespace {

FILE* g_report = nullptr;
bool g_resultSent = false;

// Tabs and line breaks would split a report line.
std::string OneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

void Send(const char* kind, const std::string& a, const std::string& b = std::string())
{
    if (!g_report)
        return;
    std::fprintf(g_report, "%s\t%s\t%s\n", kind, OneLine(a).c_str(), OneLine(b).c_str());
    std::fflush(g_report);
}

void SendResult(bool ok, const std::string& detail, const std::string& more = std::string())
{
    g_resultSent = true;
    Send("result", ok ? "ok" : "fail", ok ? detail + " " + more : detail);
}

[[noreturn]] void OutOfMemory()
{
    // No allocation from here on: the report is a fixed text.
    static const char kText[] = "result\tfail\tout of memory\n";
    if (g_report)
        (void)!write(kReportFd, kText, sizeof kText - 1);
    _exit(4);
}

// The messages go to the parent as they arrive, so a crash later loses none.
class WorkerHost final : public HeadlessHost {
public:
    void Report(PvSeverity severity, const char* message) override
    {
        static const char* const kNames[] = {"info", "warning", "error"};
        HeadlessHost::Report(severity, message);
        Send("message", kNames[severity >= PV_INFO && severity <= PV_ERROR ? severity : PV_ERROR],
             message ? message : "");
    }
};

// What --verify compares, at one precision of the positions.
struct Totals {
    std::uint64_t faces = 0;     // faces whose three corners are distinct positions
    std::uint64_t positions = 0; // distinct positions the faces use
    bool hasBounds = false;
    double min[3] = {0, 0, 0};
    double max[3] = {0, 0, 0};
};

// Formats that store positions in single precision or in Imagine's 16.16 fixed point
// merge positions closer than their step, and a reader may drop a face whose corners
// then coincide. --verify reports that as the difference it is, and says when rounding
// to one of these precisions explains it.
enum Precision { kExact, kSingle, kFixed16, kPrecisions };

double Rounded(double v, int precision)
{
    switch (precision) {
    case kSingle:
        return double(float(v));
    case kFixed16:
        return std::round(v * 65536.0) / 65536.0;
    default:
        return v + 0.0; // 0.0 and -0.0 are one position
    }
}

struct Measured {
    std::uint64_t faces = 0; // as the meshes hold them
    std::uint64_t vertices = 0;
    Totals at[kPrecisions];
};

// Counts for the report and, at the first `precisions` precisions (none, the exact one,
// or all), the totals --verify compares. Formats
// differ in how many vertex records they keep for one position (split at normals, one
// per corner, welded), so what must survive a conversion is the set of positions the
// faces use, the faces that have three distinct corners, and the bounds.
Measured Measure(const std::vector<Obj3d*>& objects, int precisions)
{
    Measured m;
    std::vector<const Mesh3d*> meshes;
    for (const Obj3d* object : objects) {
        if (object->type != kMeshType)
            continue;
        const auto* mesh = static_cast<const Mesh3d*>(object);
        m.faces += mesh->faceCount;
        m.vertices += mesh->vertexCount;
        meshes.push_back(mesh);
    }
    for (int precision = 0; precision < precisions; ++precision) {
        Totals& t = m.at[precision];
        std::vector<std::array<double, 3>> positions;
        for (const Mesh3d* mesh : meshes) {
            const auto at = [&](std::uint32_t v) {
                const double* p = mesh->vertexData + 3 * std::size_t(v);
                return std::array<double, 3>{Rounded(p[0], precision), Rounded(p[1], precision),
                                             Rounded(p[2], precision)};
            };
            std::vector<bool> used(mesh->vertexCount, false);
            for (std::size_t i = 0; i < std::size_t(mesh->faceCount) * kFaceWords;
                 i += kFaceWords) {
                const std::uint32_t* f = mesh->faceData + i;
                const auto a = at(f[0]), b = at(f[1]), c = at(f[2]);
                if (a != b && b != c && a != c)
                    ++t.faces;
                for (unsigned k = 0; k < 3; ++k)
                    used[f[k]] = true;
            }
            for (std::uint32_t v = 0; v < mesh->vertexCount; ++v) {
                if (!used[v])
                    continue;
                const auto p = at(v);
                positions.push_back(p);
                for (int c = 0; c < 3; ++c) {
                    t.min[c] = t.hasBounds ? std::fmin(t.min[c], p[c]) : p[c];
                    t.max[c] = t.hasBounds ? std::fmax(t.max[c], p[c]) : p[c];
                }
                t.hasBounds = true;
            }
        }
        std::sort(positions.begin(), positions.end());
        t.positions =
            std::uint64_t(std::unique(positions.begin(), positions.end()) - positions.begin());
    }
    return m;
}

struct Difference {
    std::string text;      // "" when none
    bool rounding = false; // only what storing positions at a coarser precision does
};

// What differs between the source and what was read back. Bounds agree within a small
// part of the model's size, or within the rounding of 16.16 fixed point. Counts that
// differ exactly as rounding the positions to a common coarser precision makes them are
// the format's precision at work, not a fault of the writer: the caller reports them
// without failing the file.
Difference Compare(const Measured& source, const Measured& read)
{
    const Totals& back = read.at[kExact];
    const Totals& exact = source.at[kExact];
    Difference d;
    std::string& why = d.text;
    if (exact.faces != back.faces)
        why += "faces with three distinct corners " + std::to_string(exact.faces) + " written, " +
               std::to_string(back.faces) + " read back; ";
    if (exact.positions != back.positions)
        why += "distinct positions " + std::to_string(exact.positions) + " written, " +
               std::to_string(back.positions) + " read back; ";
    if (!why.empty()) {
        static const char* const kNames[] = {"", "single precision", "16.16 fixed point"};
        for (int precision = kSingle; precision < kPrecisions; ++precision) {
            if (source.at[precision].faces == back.faces &&
                source.at[precision].positions == back.positions) {
                why.resize(why.size() - 2);
                why += std::string(", as the format's ") + kNames[precision] + " makes them; ";
                d.rounding = true;
                break;
            }
        }
    }
    if (exact.hasBounds != back.hasBounds) {
        why += "bounds differ; ";
        d.rounding = false;
    } else if (exact.hasBounds) {
        double size = 0;
        for (int c = 0; c < 3; ++c)
            size = std::fmax(size, std::fabs(exact.max[c] - exact.min[c]));
        for (int c = 0; c < 3; ++c)
            size = std::fmax(size, std::fmax(std::fabs(exact.min[c]), std::fabs(exact.max[c])));
        const double tolerance = std::fmax(1e-5 * size, 1.0 / 131072.0);
        for (int c = 0; c < 3; ++c) {
            if (std::fabs(exact.min[c] - back.min[c]) > tolerance ||
                std::fabs(exact.max[c] - back.max[c]) > tolerance) {
                char text[400];
                std::snprintf(text, sizeof text,
                              "bounds (%g %g %g)-(%g %g %g) written, (%g %g %g)-(%g %g %g) read "
                              "back; ",
                              exact.min[0], exact.min[1], exact.min[2], exact.max[0], exact.max[1],
                              exact.max[2], back.min[0], back.min[1], back.min[2], back.max[0],
                              back.max[1], back.max[2]);
                why += text;
                d.rounding = false;
                break;
            }
        }
    }
    if (!why.empty())
        why.resize(why.size() - 2);
    return d;
}

// Gives a plug-in's object back to its library.
struct Releaser {
    void operator()(PluginObject* object) const noexcept { object->Release(); }
};

// The last error message of this step, for the result line.
std::string LastError(const HeadlessHost& host, std::size_t from, const std::string& fallback)
{
    const auto& messages = host.Messages();
    for (std::size_t i = messages.size(); i > from; --i) {
        if (messages[i - 1].severity == PV_ERROR)
            return messages[i - 1].text;
    }
    return fallback;
}

int Work(const WorkerJob& job)
{
    WorkerHost host;
    // The batch flushes the finished files to the disk, many at a time, while this
    // process has ended and the next file converts.
    host.SetFlags(PV_HOST_FLUSHES_EXPORTS);
    for (const std::string& option : job.options)
        host.SetOption(option);
    double lastFraction = -1;
    // Nothing in the first 50 ms: a bar for a file that is done by then only flickers.
    double lastTime = MonotonicSeconds() - 0.15;
    // Import, export and the verifying import each get their share of the bar.
    const double phases = job.verifyClass >= 0 ? 3 : 2;
    double phase = 0;
    host.SetProgressCallback([&](double part, const std::string& text) {
        if (!job.reportProgress)
            return true;
        const double fraction = (phase + std::clamp(part, 0.0, 1.0)) / phases;
        const double now = MonotonicSeconds();
        if (now - lastTime >= 0.2 || (now - lastTime >= 0.05 && fraction - lastFraction >= 0.01)) {
            char number[32];
            std::snprintf(number, sizeof number, "%.3f", fraction);
            Send("progress", number, text);
            lastFraction = fraction;
            lastTime = now;
        }
        return true;
    });

    PluginManager ownManager;
    PluginManager& manager = job.plugins ? *job.plugins : ownManager;
    if (job.plugins) {
        // Only the libraries this job calls: waking every loaded plug-in costs a small
        // file's worker a page fault or two for each.
        for (int cls : {job.importClass, job.exportClass, job.verifyClass})
            manager.SetHostServices(host.Services(), manager.GetClassLibrary(cls));
    } else {
        manager.SetHostServices(host.Services());
        manager.ScanDirectory(job.pluginDir.c_str(), kPluginInterfaceVersion);
    }
    ClassDescriptor* importClass = manager.GetClass(job.importClass);
    ClassDescriptor* exportClass = manager.GetClass(job.exportClass);
    ClassDescriptor* verifyClass =
        job.verifyClass >= 0 ? manager.GetClass(job.verifyClass) : nullptr;
    if (!importClass || importClass->SuperClassID() != kImportSuperClassId || !exportClass ||
        exportClass->SuperClassID() != kExportSuperClassId ||
        (job.verifyClass >= 0 &&
         (!verifyClass || verifyClass->SuperClassID() != kImportSuperClassId))) {
        SendResult(false, "the plug-in directory changed while converting");
        return 1;
    }

    // Released when the worker is done, after its result: what it imported is freed
    // while the batch already puts the output in place.
    std::unique_ptr<Importer, Releaser> importer(static_cast<Importer*>(importClass->Create()));
    if (!importer) {
        SendResult(false, "the import class \"" + ClassNameOf(importClass) + "\" did not start");
        return 1;
    }
    std::unique_ptr<Exporter, Releaser> exporter(static_cast<Exporter*>(exportClass->Create()));
    if (!exporter) {
        SendResult(false, "the export class \"" + ClassNameOf(exportClass) + "\" did not start");
        return 1;
    }
    // Both classes take their options before anything is read: a value that does not
    // fit, or a name neither class offers, fails the file rather than converting it
    // with defaults the user did not ask for.
    if (host.HasOptions()) {
        const std::size_t mark = host.Messages().size();
        importer->Options();
        exporter->Options();
        std::string problem = LastError(host, mark, "");
        for (const std::string& name : host.UnusedOptions())
            problem += (problem.empty() ? "" : "; ") + std::string("neither \"") +
                       ClassNameOf(importClass) + "\" nor \"" + ClassNameOf(exportClass) +
                       "\" has an option " + name;
        if (!problem.empty()) {
            SendResult(false, problem);
            return 1;
        }
    }
    ObjectList* imported = importer->ImportFile(job.input.c_str());
    const CheckedImport checked = CheckImportedList(imported);
    for (const ImportProblem& problem : checked.problems)
        host.Report(PV_WARNING,
                    ("object " + problem.object + " skipped: " + problem.reason).c_str());
    // The source at every precision a format may round to, for --verify's comparison.
    const Measured source = Measure(checked.objects, verifyClass ? kPrecisions : 0);
    if (source.faces == 0) {
        SendResult(false, LastError(host, 0, imported ? "no faces to convert" : "not imported"));
        return 1;
    }

    ObjectList scene;
    for (Obj3d* object : checked.objects)
        scene.Append(object);
    phase = 1;
    host.QueueSavePath(job.temporary);
    const std::size_t before = host.Messages().size();
    const int written = exporter->Export(&scene);
    exporter.reset();
    if (verifyClass)
        importer.reset(); // room for reading the output back
    struct stat st {};
    bool exportErrors = false;
    for (std::size_t i = before; i < host.Messages().size(); ++i)
        exportErrors = exportErrors || host.Messages()[i].severity == PV_ERROR;
    if (!written || exportErrors || ::stat(job.temporary.c_str(), &st) != 0) {
        SendResult(false, LastError(host, before, "the export wrote no file"));
        return 1;
    }

    if (verifyClass) {
        auto* checker = static_cast<Importer*>(verifyClass->Create());
        if (!checker) {
            SendResult(false, "verify: the import class did not start");
            return 1;
        }
        phase = 2;
        const std::size_t mark = host.Messages().size();
        ObjectList* back = checker->ImportFile(job.temporary.c_str());
        const CheckedImport reread = CheckImportedList(back);
        const Measured result = Measure(reread.objects, kExact + 1); // as it was read
        checker->Release();
        if (!back) {
            SendResult(false,
                       "verify: " + LastError(host, mark, "the written file was not read back"));
            return 1;
        }
        const Difference difference = Compare(source, result);
        if (difference.rounding) {
            host.Report(PV_WARNING, ("verify: " + difference.text).c_str());
        } else if (!difference.text.empty()) {
            SendResult(false, "verify: " + difference.text);
            return 1;
        }
    }

    // A replaced output keeps its permissions. The batch puts the file in place.
    struct stat existing {};
    if (::stat(job.output.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::chmod(job.temporary.c_str(), existing.st_mode & 07777);
    SendResult(true, std::to_string(source.faces), std::to_string(source.vertices));
    return 0;
}

} // namespace

int RunWorker(const WorkerJob& job)
{
    g_report = fdopen(kReportFd, "w");
    // CheckedMalloc ends the process with exit(1) when memory runs out; say so.
    std::atexit([] {
        static const char kText[] =
            "result\tfail\tended early: out of memory, or a plug-in ended the process\n";
        if (!g_resultSent && g_report)
            (void)!write(kReportFd, kText, sizeof kText - 1);
    });
    std::set_new_handler([] { OutOfMemory(); });
#if !POLYVANT_ASAN_BUILD
    // The address sanitizer reserves terabytes of address space at start; a limit on
    // it would end every worker, so sanitizer builds run without one.
    if (job.memoryLimitMiB > 0) {
        const rlim_t bytes = rlim_t(job.memoryLimitMiB) << 20;
        const rlimit limit{bytes, bytes};
        // The data limit counts what a plug-in allocates but not the read-only mapping of
        // the input, so a big file is not refused for its size alone.
        setrlimit(RLIMIT_DATA, &limit);
    }
#endif
    int status = 1;
    try {
        status = Work(job);
    } catch (const std::bad_alloc&) {
        OutOfMemory();
    } catch (const std::exception& e) {
        SendResult(false, e.what());
    }
    if (!g_resultSent)
        SendResult(false, "the conversion stopped without a result");
    if (g_report)
        std::fclose(g_report);
    return status;
}

} // namespace polyvant::tools
