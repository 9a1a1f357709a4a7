// AutoCad DXF import and export classes (class ids 0x50764401 import, 0x50764402 export).
#include <memory>
#include <string>

#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "dxf/DxfReader.h"
#include "dxf/DxfWriter.h"

namespace polyvant::formats::dxf {

namespace {

constexpr const char* kClassName = "AutoCad (*.dxf)";

constexpr const char* kImportHelp =
    "AutoCad DXF import\n\n"
    "Reads ASCII DXF files of any release. Faces come from 3DFACE entities (triangles and "
    "quadrilaterals), polyface and polygon-mesh POLYLINEs, MESH entities (their control "
    "mesh, unsmoothed), and SOLID and TRACE entities (flat quadrilaterals, or closed prisms "
    "when they have a thickness). Blocks "
    "placed with INSERT (or MINSERT arrays) are expanded with their position, scale and "
    "rotation; entities of a block on layer 0 take the layer of the INSERT. Every layer "
    "with faces becomes one mesh named after it.\n\n"
    "Lines, points, text and other entities without area are read past. Solids, regions "
    "and surfaces stored as ACIS data are skipped with a warning. Binary DXF is not read. "
    "A block that inserts itself, or block references that would multiply the drawing "
    "beyond reason, refuse the file; an entity with an unusable number is skipped with a "
    "warning that names its line.\n\n"
    "There are no options.";

constexpr const char* kExportHelp =
    "AutoCad DXF export\n\n"
    "Writes an R12 ASCII DXF with one layer per mesh and one 3DFACE per triangle. Layer names "
    "keep letters, digits, '$', '-' and '_' (other characters become '_', at most 31 "
    "characters, made unique); every renamed object is listed in a warning. Numbers are "
    "written in the shortest form that reads back exactly. The file is written beside the "
    "target and replaces it only when complete.\n\n"
    "There are no options.";

class DxfImporter final : public ImporterBase {
public:
    DxfImporter() noexcept : ImporterBase(kClassName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        file.ConvertLoneCarriageReturns();
        bool cancelled = false;
        const DxfProgress progress = [&](double fraction) {
            cancelled = !HostLink::Progress(fraction, "Reading AutoCad file");
            return !cancelled;
        };
        DxfResult result;
        const bool ok = ReadDxf(file.Data(), file.Size(), result, DxfLimits{}, progress);
        if (cancelled)
            throw Cancelled();
        if (!result.warnings.empty())
            HostLink::Warning(JoinWarnings(path, result.warnings).c_str());
        if (!ok)
            throw FormatError(std::string(path) + ": " + result.error);
        if (result.meshes.empty())
            HostLink::Warning((std::string(path) +
                               ": no faces found (only 3DFACE, SOLID, TRACE and POLYLINE "
                               "meshes have faces)")
                                  .c_str());
        for (MeshBuilder& builder : result.meshes) {
            std::unique_ptr<Mesh3d> mesh(builder.Finish());
            if (!mesh)
                throw FormatError(std::string(path) + ": layer too large for one mesh");
            meshes.push_back(std::move(mesh));
        }
    }
};

class DxfExporter final : public ExporterBase {
public:
    DxfExporter() noexcept : ExporterBase(kClassName, "dxf", kExportHelp) {}

protected:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        for (const Mesh3d* mesh : meshes)
            CheckMeshForExport(*mesh, path);
        std::vector<std::string> warnings;
        std::string error;
        bool cancelled = false;
        const DxfSink sink = [&](std::string_view bytes) { return out.Write(bytes); };
        const DxfWriteProgress progress = [&](double fraction) {
            cancelled = !HostLink::Progress(fraction, "Writing AutoCad file");
            return !cancelled;
        };
        const bool ok = WriteDxf(meshes, sink, warnings, error, progress);
        if (cancelled)
            throw Cancelled();
        if (!ok)
            throw FormatError(std::string(path) + ": " + error);
        if (!warnings.empty())
            HostLink::Warning(JoinWarnings(path, warnings).c_str());
    }
};

FormatClass<DxfImporter> importClass(kClassName, kImportSuperClassId, 0x50764401);
FormatClass<DxfExporter> exportClass(kClassName, kExportSuperClassId, 0x50764402);

} // namespace

} // namespace polyvant::formats::dxf

POLYVANT_FORMAT_LIBRARY("AutoCad DXF", &polyvant::formats::dxf::importClass,
                        &polyvant::formats::dxf::exportClass)
