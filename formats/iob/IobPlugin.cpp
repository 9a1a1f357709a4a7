// Imagine object (IFF TDDD) import and export classes (class ids 0x50764901 import,
// 0x50764902 export).
#include <memory>
#include <string>

#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "iob/IobReader.h"
#include "iob/IobWriter.h"

namespace polyvant::formats::iob {

namespace {

// Imagine objects are often saved as ".obj": the import class reads them whatever
// their extension.
constexpr const char* kImportClassName = "Imagine (*.obj, *.iob)";
constexpr const char* kExportClassName = "Imagine (*.iob)";

constexpr const char* kImportHelp =
    "Imagine object import\n\n"
    "Reads Imagine object files (IFF FORM TDDD, often named .obj or .iob). Every object of "
    "the file with triangles becomes one mesh named after the object; objects inside groups "
    "are read too. Points are 16.16 fixed point numbers, taken as stored: the object's "
    "position, axes and size describe its editing frame. Triangles are rebuilt from their "
    "edges; the face colour list, when present, is kept with each face.\n\n"
    "Lights, groups without points and analytic shapes (spheres, ground planes) have no "
    "triangles and are read past, as are textures, brushes and other attributes. A chunk "
    "whose length does not fit its parent refuses the file, naming its offset.\n\n"
    "There are no options.";

constexpr const char* kExportHelp =
    "Imagine object export\n\n"
    "Writes an IFF FORM TDDD object file with one object per mesh: name (cut to 18 "
    "characters, with a warning), points in 16.16 fixed point, edges and triangles. Large "
    "meshes use the long point, edge and face lists. Coordinates must lie within +-32768, "
    "the range of the format. The file is written beside the target and replaces it only "
    "when complete.\n\n"
    "There are no options.";

class IobImporter final : public ImporterBase {
public:
    IobImporter() noexcept : ImporterBase(kImportClassName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        bool cancelled = false;
        const IobProgress progress = [&](double fraction) {
            cancelled = !HostLink::Progress(fraction, "Reading Imagine object");
            return !cancelled;
        };
        IobResult result;
        const bool ok = ReadIob(file.Data(), file.Size(), result, progress);
        if (cancelled)
            throw Cancelled();
        if (!result.warnings.empty())
            HostLink::Warning(JoinWarnings(path, result.warnings).c_str());
        if (!ok)
            throw FormatError(std::string(path) + ": " + result.error);
        if (result.meshes.empty())
            HostLink::Warning((std::string(path) + ": none of the " +
                               std::to_string(result.objects) + " object(s) has triangles")
                                  .c_str());
        for (MeshBuilder& builder : result.meshes) {
            std::unique_ptr<Mesh3d> mesh(builder.Finish());
            if (!mesh)
                throw FormatError(std::string(path) + ": object too large for one mesh");
            meshes.push_back(std::move(mesh));
        }
    }
};

class IobExporter final : public ExporterBase {
public:
    IobExporter() noexcept : ExporterBase(kExportClassName, "iob", kExportHelp) {}

protected:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        for (const Mesh3d* mesh : meshes)
            CheckMeshForExport(*mesh, path);
        std::vector<std::string> warnings;
        std::string error;
        const IobSink sink = [&](std::string_view bytes) { return out.Write(bytes); };
        if (!WriteIob(meshes, sink, warnings, error))
            throw FormatError(std::string(path) + ": " + error);
        if (!warnings.empty())
            HostLink::Warning(JoinWarnings(path, warnings).c_str());
    }
};

FormatClass<IobImporter> importClass(kImportClassName, kImportSuperClassId, 0x50764901);
FormatClass<IobExporter> exportClass(kExportClassName, kExportSuperClassId, 0x50764902);

} // namespace

} // namespace polyvant::formats::iob

POLYVANT_FORMAT_LIBRARY("Imagine object", &polyvant::formats::iob::importClass,
                        &polyvant::formats::iob::exportClass)
