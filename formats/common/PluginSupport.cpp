#include "common/PluginSupport.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sched.h>
#include <sys/stat.h>
#include <thread>

#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/Triangulate.h"

namespace polyvant::formats {

namespace {
// Ear clipping allowed per import: in proportion to the file, so that a small file full
// of huge concave faces cannot take long, between some 30 ms and half a second on this
// machine's class of CPU. A polygon of n corners takes at most n * n steps and at least
// 2n bytes of file, so polygons of up to 4096 corners, and far more in large files, are
// always clipped in full.
constexpr std::size_t kEarClipWorkPerByte = 64;
constexpr std::size_t kLeastEarClipWork = std::size_t(1) << 24;
constexpr std::size_t kMostEarClipWork = std::size_t(1) << 28;

std::size_t EarClipWorkFor(const char* path) noexcept
{
    struct stat st;
    if (stat(path, &st) != 0 || st.st_size < 0)
        return kMostEarClipWork;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size >= kMostEarClipWork / kEarClipWorkPerByte)
        return kMostEarClipWork;
    return std::max<std::size_t>(kLeastEarClipWork, size * kEarClipWorkPerByte);
}
} // namespace

void ProgressMeter::Report(std::uint64_t done)
{
    const double fraction = size ? static_cast<double>(done) / static_cast<double>(size) : 1.0;
    if (!HostLink::Progress(fraction > 1 ? 1 : fraction, label))
        throw Cancelled();
}

std::string_view FileNameOf(std::string_view path) noexcept
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

unsigned UsableCores() noexcept
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string BaseNameOf(std::string_view path)
{
    std::string_view file = FileNameOf(path);
    const std::size_t dot = file.rfind('.');
    if (dot != std::string_view::npos && dot > 0)
        file = file.substr(0, dot);
    return std::string(file);
}

void CheckMeshForExport(const Mesh3d& mesh, std::string_view path)
{
    const std::string meshName = mesh.name ? mesh.name : "(unnamed)";
    if ((mesh.vertexCount && !mesh.vertexData) || (mesh.faceCount && !mesh.faceData))
        throw FormatError(std::string(path) + ": mesh \"" + meshName + "\" has no data arrays");
    const std::uint32_t* f = mesh.faceData;
    for (std::uint32_t i = 0; i < mesh.faceCount; ++i, f += kFaceWords) {
        if (f[0] >= mesh.vertexCount || f[1] >= mesh.vertexCount || f[2] >= mesh.vertexCount)
            throw FormatError(std::string(path) + ": mesh \"" + meshName + "\": face " +
                              std::to_string(i) + " refers to a vertex it does not have");
    }
}

void OpenInput(MappedFile& file, const char* path)
{
    std::string error;
    if (!file.Open(path, error))
        throw FormatError(std::string(path) + ": " + error);
}

std::string JoinWarnings(std::string_view path, const std::vector<std::string>& warnings)
{
    std::string text;
    for (const std::string& w : warnings) {
        if (!text.empty())
            text += '\n';
        text.append(path).append(": ").append(w);
    }
    return text;
}

ImporterBase::~ImporterBase()
{
    // Lists first (they have no deleter), then the meshes they pointed to.
    for (ObjectList* list : lists)
        delete list;
}

ObjectList* ImporterBase::ImportFile(const char* path) noexcept
{
    const std::string shown = path ? path : "";
    try {
        if (!path || !*path) {
            HostLink::Error("no file name given");
            return nullptr;
        }
        std::vector<std::unique_ptr<Mesh3d>> meshes;
        TriangulationScope triangulation(EarClipWorkFor(path));
        Read(path, meshes);
        if (triangulation.Fanned())
            HostLink::Warning((shown + ": " + std::to_string(triangulation.Fanned()) +
                               " large concave polygons were split as fans, which may fold "
                               "over their outline")
                                  .c_str());
        auto list = std::make_unique<ObjectList>(nullptr);
        lists.reserve(lists.size() + 1);
        owned.reserve(owned.size() + meshes.size());
        for (auto& mesh : meshes)
            list->Append(mesh.get());
        for (auto& mesh : meshes)
            owned.push_back(std::move(mesh));
        fileName = shown;
        lists.push_back(list.get());
        HostLink::Progress(1.0, nullptr);
        return list.release();
    } catch (const FormatError& e) {
        HostLink::Error(e.what());
    } catch (const Cancelled&) {
        HostLink::Info((shown + ": import cancelled").c_str());
    } catch (const std::bad_alloc&) {
        HostLink::Error((shown + ": not enough memory to import the file").c_str());
    } catch (const std::exception& e) {
        HostLink::Error((shown + ": " + e.what()).c_str());
    } catch (...) {
        HostLink::Error((shown + ": import failed").c_str());
    }
    return nullptr;
}

ObjectList* ImporterBase::ImportInteractive() noexcept
{
    char* path = HostLink::AskOpenFile("Import", name);
    if (!path)
        return nullptr;
    ObjectList* list = ImportFile(path);
    std::free(path);
    return list;
}

const char* ImporterBase::GetFileName() noexcept
{
    return fileName.empty() ? nullptr : fileName.c_str();
}

void ImporterBase::Release() noexcept
{
    delete this;
}

void ImporterBase::Help() noexcept
{
    HostLink::ShowHelp(name, help);
}

void ImporterBase::Options() noexcept
{
    HostLink::Info("This import has no options.");
}

int ExporterBase::Export(ObjectList* list) noexcept
{
    char* path = HostLink::AskSaveFile("Export", name, defaultExtension);
    if (!path)
        return 0;
    const int written = ExportFile(list, path);
    std::free(path);
    return written;
}

int ExporterBase::ExportFile(ObjectList* list, const char* path) noexcept
{
    const std::string shown = path ? path : "";
    try {
        if (!path || !*path) {
            HostLink::Error("no file name given");
            return 0;
        }
        std::vector<const Mesh3d*> meshes;
        if (list) {
            // Walk the nodes rather than Get(i): linear, and robust to a short chain.
            int seen = 0;
            for (const ListNode* node = list->head; node && seen < list->count;
                 node = node->next, ++seen) {
                const auto* object = static_cast<const Obj3d*>(node->item);
                if (object && object->type == kMeshType)
                    meshes.push_back(static_cast<const Mesh3d*>(object));
            }
        }
        if (meshes.empty()) {
            HostLink::Error((shown + ": nothing to export: the scene has no meshes").c_str());
            return 0;
        }
        AtomicFileWriter out;
        std::string error;
        if (!out.Open(path, error)) {
            HostLink::Error((shown + ": " + error).c_str());
            return 0;
        }
        Write(meshes, out, path);
        if (!out.Commit(error)) {
            HostLink::Error((shown + ": " + error).c_str());
            return 0;
        }
        HostLink::Progress(1.0, nullptr);
        return 1;
    } catch (const FormatError& e) {
        HostLink::Error(e.what());
    } catch (const Cancelled&) {
        HostLink::Info((shown + ": export cancelled; the file was not changed").c_str());
    } catch (const std::bad_alloc&) {
        HostLink::Error((shown + ": not enough memory to export").c_str());
    } catch (const std::exception& e) {
        HostLink::Error((shown + ": " + e.what()).c_str());
    } catch (...) {
        HostLink::Error((shown + ": export failed").c_str());
    }
    return 0;
}

void ExporterBase::Release() noexcept
{
    delete this;
}

void ExporterBase::Help() noexcept
{
    HostLink::ShowHelp(name, help);
}

void ExporterBase::Options() noexcept
{
    HostLink::Info("This export has no options.");
}

} // namespace polyvant::formats
