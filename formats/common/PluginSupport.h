#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <polyvant/sdk.h>

// The plug-in boundary for format libraries: importer and exporter bases that own
// what they hand out, ask through the host services, and turn every exception into a
// message, plus the class descriptor and the library entry points.

namespace polyvant::formats {

class AtomicFileWriter;
class MappedFile;

// Ends an import or export with a message that already names the file and where
// (see LineMessage / OffsetMessage in TextScan.h).
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The user cancelled through the progress service; not an error.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

// Reports progress to the host at most every `step` bytes; throws Cancelled when the
// user asks to stop.
class ProgressMeter {
public:
    ProgressMeter(const char* text, std::uint64_t total, std::uint64_t step = 4u << 20) noexcept
        : label(text), size(total), every(step), nextAt(step)
    {
    }
    void Update(std::uint64_t done)
    {
        if (done >= nextAt) {
            nextAt = done + every;
            Report(done);
        }
    }
    void Report(std::uint64_t done);

private:
    const char* label;
    std::uint64_t size;
    std::uint64_t every;
    std::uint64_t nextAt;
};

// Last path component ("dir/name.obj" -> "name.obj").
std::string_view FileNameOf(std::string_view path) noexcept;
// File name without directory and extension ("dir/name.obj" -> "name").
std::string BaseNameOf(std::string_view path);

// The cores this process may run on (its CPU affinity, which taskset and cgroups
// narrow), at least 1: how many threads a reader or writer may keep busy.
unsigned UsableCores() noexcept;

// Maps the file for reading, or throws FormatError naming the file and why not.
void OpenInput(MappedFile& file, const char* path);

// One message of the warnings, each line prefixed with the file ("path: what").
std::string JoinWarnings(std::string_view path, const std::vector<std::string>& warnings);

// Throws FormatError unless the mesh's arrays match its counts and every face index is
// below vertexCount: exporters call it so a broken record is refused, not written.
void CheckMeshForExport(const Mesh3d& mesh, std::string_view path);

class ImporterBase : public Importer {
public:
    ObjectList* ImportFile(const char* path) noexcept final;
    ObjectList* ImportInteractive() noexcept final;
    const char* GetFileName() noexcept final;
    void Release() noexcept final;
    void Help() noexcept override;
    void Options() noexcept override;

    // Objects of the last successful import, in order (meant for tests and tools
    // linked against a format statically).
    std::size_t MeshCount() const noexcept { return owned.size(); }

protected:
    // `className` is shown in prompts and must outlive the object; so must helpText.
    ImporterBase(const char* className, const char* helpText) noexcept
        : name(className), help(helpText)
    {
    }
    virtual ~ImporterBase();

    // Reads the file into meshes (appending to `meshes`). Throws FormatError with a
    // full message on bad input; warnings go through HostLink::Warning directly.
    virtual void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) = 0;

private:
    const char* name;
    const char* help;
    std::string fileName;
    std::vector<ObjectList*> lists;
    std::vector<std::unique_ptr<Mesh3d>> owned;
};

class ExporterBase : public Exporter {
public:
    // Asks for the file name through the host services, then writes every mesh.
    int Export(ObjectList* list) noexcept final;
    // Writes without asking; 1 when written, 0 with a reported error.
    int ExportFile(ObjectList* list, const char* path) noexcept;
    void Release() noexcept final;
    void Help() noexcept override;
    void Options() noexcept override;

protected:
    ExporterBase(const char* className, const char* extension, const char* helpText) noexcept
        : name(className), defaultExtension(extension), help(helpText)
    {
    }
    virtual ~ExporterBase() = default;

    // Writes the meshes (never empty) to `out`; throws FormatError on failure. The
    // base commits the file afterwards.
    virtual void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
                       const char* path) = 0;

private:
    const char* name;
    const char* defaultExtension;
    const char* help;
};

// A class descriptor for a plug-in object type T with a default constructor.
template <typename T>
class FormatClass final : public ClassDescriptor {
public:
    constexpr FormatClass(const char* className, std::uint32_t superClass,
                          std::uint32_t classId) noexcept
        : name(className), super(superClass), id(classId)
    {
    }
    int ClassPublicFlag() noexcept override { return 1; }
    PluginObject* Create() noexcept override
    {
        try {
            return new T();
        } catch (...) {
            return nullptr;
        }
    }
    const char* ClassName() noexcept override { return name; }
    std::uint32_t SuperClassID() noexcept override { return super; }
    std::uint32_t ClassID() noexcept override { return id; }

private:
    const char* name;
    std::uint32_t super;
    std::uint32_t id;
};

} // namespace polyvant::formats

// Defines the five entry points of a format library over its descriptors; use once,
// at namespace scope, in one source file:
//     POLYVANT_FORMAT_LIBRARY("WaveFront OBJ", &importClass, &exportClass)
#define POLYVANT_FORMAT_LIBRARY(libName, ...)                                                      \
    namespace {                                                                                    \
    polyvant::ClassDescriptor* const pvFormatClasses[] = {__VA_ARGS__};                            \
    }                                                                                              \
    POLYVANT_EXPORT const char* LibName()                                                          \
    {                                                                                              \
        return libName;                                                                            \
    }                                                                                              \
    POLYVANT_EXPORT std::uint32_t LibNumberClasses()                                               \
    {                                                                                              \
        return sizeof(pvFormatClasses) / sizeof(pvFormatClasses[0]);                               \
    }                                                                                              \
    POLYVANT_EXPORT polyvant::ClassDescriptor* LibClassDescription(std::uint32_t i)                \
    {                                                                                              \
        return i < LibNumberClasses() ? pvFormatClasses[i] : nullptr;                              \
    }                                                                                              \
    POLYVANT_EXPORT std::uint32_t LibVersion()                                                     \
    {                                                                                              \
        return polyvant::kPluginInterfaceVersion;                                                  \
    }                                                                                              \
    POLYVANT_DEFINE_HOST_SERVICES_ENTRY()
