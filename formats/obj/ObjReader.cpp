#include "obj/ObjReader.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "obj/ObjMeshAssembler.h"
#include "obj/ObjStatementLog.h"
#include "obj/ObjStatements.h"

namespace polyvant::formats::obj {

namespace {

// Stretches are read by as many threads as there are cores, each taking the next stretch
// still to read; a few per thread even out their pace (vertex lines take longer than face
// lines). Below kLeastStretch a stretch is read faster than it is handed over.
constexpr std::size_t kLeastStretch = 1u << 20;
constexpr unsigned kStretchesPerCore = 4;
constexpr unsigned kMostStretches = 64;
// Below this a file is read in turn.
constexpr std::size_t kLeastParallelFile = 8u << 20;

// Where the stretches of a file read apart begin: a line start near each share of the
// text, after a line that does not continue onto the next. The first is 0; a share with
// no such line start is left to the stretch before it.
std::vector<std::size_t> StretchStarts(const char* data, std::size_t size, unsigned parts)
{
    std::vector<std::size_t> starts{0};
    for (unsigned k = 1; k < parts; ++k) {
        std::size_t at = std::max(starts.back() + 1, size / parts * k);
        while (at < size) {
            const char* lf = static_cast<const char*>(std::memchr(data + at, '\n', size - at));
            if (!lf || lf + 1 == data + size)
                return starts;
            const char* lineStart = lf;
            while (lineStart != data && lineStart[-1] != '\n')
                --lineStart;
            at = static_cast<std::size_t>(lf + 1 - data);
            if (!StatementReader<MeshAssembler>::Continuation(lineStart, lf))
                break;
        }
        if (at >= size)
            break;
        starts.push_back(at);
    }
    return starts;
}

// One stretch of the file, read into a log of its own.
struct Stretch {
    Stretch(const char* from, const char* to)
        : begin(from), end(to), log(static_cast<std::size_t>(to - from))
    {
    }

    // Progress and cancelling only on the caller's thread: the user's answer ends the
    // reading at once.
    void Read(const char* readable, std::stop_token stop, ProgressMeter* progress = nullptr,
              const std::atomic<std::uint64_t>* before = nullptr)
    {
        try {
            vertices.Reserve(3 * (static_cast<std::size_t>(end - begin) / 48));
            StatementReader<StatementLog> reader(log, vertices);
            reader.Read(begin, end, readable, progress, before, stop);
            lines = reader.Lines();
        } catch (const Cancelled&) {
            throw;
        } catch (...) {
            error = std::current_exception();
        }
    }

    const char* begin;
    const char* end;
    StatementLog log;
    GrowArray<double> vertices;
    std::size_t lines = 0;
    std::exception_ptr error;
};

// Rethrows what a reader threw, a LineError as the file's message at its line.
[[noreturn]] void Rethrow(std::exception_ptr error, const std::string& path, std::size_t lineBase)
{
    try {
        std::rethrow_exception(error);
    } catch (const LineError& e) {
        throw FormatError(LineMessage(path, lineBase + e.line, e.what));
    }
}

} // namespace

void ReadObj(const char* data, std::size_t size, const std::string& path,
             const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
             ProgressMeter* progress, MappedFile* file, unsigned stretches)
{
    // An Imagine object may carry the .obj extension too; say which import reads it.
    if (size >= 12 && std::memcmp(data, "FORM", 4) == 0 && std::memcmp(data + 8, "TDDD", 4) == 0)
        throw FormatError(path +
                          ": this is an Imagine object, not a WaveFront file; import it with "
                          "\"Imagine (*.obj, *.iob)\"");
    // A typical mesh file spends some 48 bytes per vertex (its v line and two f lines).
    GrowArray<double> vertices;
    vertices.Reserve(3 * (size / 48));
    MeshAssembler assembler(path, baseName, vertices, size);

    const unsigned cores = stretches ? stretches : size < kLeastParallelFile ? 1 : UsableCores();
    const unsigned parts =
        stretches ? stretches
        : cores < 2
            ? 1
            : static_cast<unsigned>(std::min<std::size_t>(
                  {std::size_t(cores) * kStretchesPerCore, kMostStretches, size / kLeastStretch}));
    const std::vector<std::size_t> starts = StretchStarts(data, size, parts);
    if (starts.size() == 1) {
        StatementReader<MeshAssembler> reader(assembler, vertices);
        try {
            reader.Read(data, data + size, data + size, progress);
        } catch (const LineError&) {
            Rethrow(std::current_exception(), path, 0);
        }
        assembler.Finish(meshes);
        return;
    }

    // A big file is read in stretches on several threads, each into a log of its own;
    // the logs are then replayed into the assembler in file order.
    std::vector<Stretch> all;
    all.reserve(starts.size());
    for (std::size_t k = 0; k < starts.size(); ++k)
        all.emplace_back(data + starts[k], data + (k + 1 < starts.size() ? starts[k + 1] : size));
    std::atomic<std::size_t> nextStretch{0}, finished{0};
    std::atomic<std::uint64_t> bytesDone{0};
    const auto readStretches = [&](std::stop_token stop, ProgressMeter* meter) {
        for (std::size_t k; !stop.stop_requested() && (k = nextStretch++) < all.size();) {
            all[k].Read(data + size, stop, meter, &bytesDone);
            bytesDone += static_cast<std::uint64_t>(all[k].end - all[k].begin);
            ++finished;
            finished.notify_one();
        }
    };
    {
        // Declared after the stretches: on the way out they are stopped and joined first.
        std::vector<std::jthread> threads;
        for (unsigned k = 1; k < std::min<std::size_t>(cores, all.size()); ++k) {
            try {
                threads.emplace_back(readStretches, nullptr);
            } catch (const std::system_error&) {
                break; // no more threads: fewer read them
            }
        }
        // This thread reads stretches too, and says how far the reading has come, until
        // the last is in.
        readStretches({}, progress);
        for (;;) {
            if (progress)
                progress->Update(bytesDone.load());
            const std::size_t seen = finished.load();
            if (seen == all.size())
                break;
            finished.wait(seen);
        }
        for (std::jthread& thread : threads)
            thread.join(); // unlike the way out, which asks them to stop
    }
    // The text is all read: its pages may go before the meshes are made.
    if (file)
        file->ReleaseBefore(data + size);
    std::size_t lineBase = 0;
    for (Stretch& stretch : all) {
        if (stretch.error)
            Rethrow(stretch.error, path, lineBase);
        const std::uint64_t vertexBase = vertices.Size() / 3;
        if (vertexBase < stretch.log.Need()) {
            // A triangle names a vertex not read before it: read in turn, as the
            // stretch's faces are judged one by one.
            stretch.log = StatementLog(0);
            stretch.vertices = GrowArray<double>();
            StatementReader<MeshAssembler> reader(assembler, vertices, lineBase);
            try {
                reader.Read(stretch.begin, stretch.end, data + size, nullptr);
            } catch (const LineError&) {
                Rethrow(std::current_exception(), path, 0);
            }
        } else {
            if (vertexBase + stretch.vertices.Size() / 3 > 0xFFFFFFFFu)
                throw FormatError(
                    LineMessage(path, lineBase + stretch.lines, "more than 4294967295 vertices"));
            if (const std::size_t values = stretch.vertices.Size()) {
                std::memcpy(vertices.Extend(values), stretch.vertices.Data(),
                            values * sizeof(double));
                vertices.Commit(values);
            }
            stretch.vertices = GrowArray<double>();
            stretch.log.Replay(assembler, lineBase, vertexBase);
            stretch.log = StatementLog(0);
        }
        lineBase += stretch.lines;
    }
    assembler.Finish(meshes);
}

} // namespace polyvant::formats::obj
