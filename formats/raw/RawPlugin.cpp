// RAW ASCII import and export classes (ids 0x50760201 and 0x50760202; the list of all
// our ids is in formats/obj/ObjPlugin.cpp).
#include <string>

#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "raw/RawReader.h"
#include "raw/RawWriter.h"

namespace polyvant::formats::raw {

namespace {

constexpr const char* kClassName = "RAW ASCII (*.raw)";

constexpr const char* kImportHelp =
    "RAW ASCII import\n\n"
    "A line that is not all numbers names a new object; each other line is one triangle of "
    "nine coordinates (x y z of three corners), optionally preceded by a colour (three "
    "numbers) or followed by a texture name. Every named object with triangles becomes one "
    "mesh; triangles before the first name form a mesh named after the file. Corners at the "
    "same position share one vertex. Colours and textures are numbered in order of first "
    "use; the numbers are kept with the faces, the colours themselves are not shown.\n\n"
    "A line with another count of numbers, or a coordinate that is not a finite number (or "
    "beyond 1e30), refuses the file, naming the line.\n\n"
    "There are no options.";

constexpr const char* kExportHelp =
    "RAW ASCII export\n\n"
    "Writes every mesh as a name line followed by one line of nine coordinates per triangle. "
    "Colours are not written. The file is written beside the target and replaces it only "
    "when complete.\n\n"
    "There are no options.";

class RawImporter final : public ImporterBase {
public:
    RawImporter() noexcept : ImporterBase(kClassName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        file.ConvertLoneCarriageReturns();
        ProgressMeter progress("Reading RAW file", file.Size());
        ReadRaw(file.Data(), file.Size(), path, BaseNameOf(path), meshes, &progress);
    }
};

class RawExporter final : public ExporterBase {
public:
    RawExporter() noexcept : ExporterBase(kClassName, "raw", kExportHelp) {}

protected:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        WriteRaw(meshes, out, path);
    }
};

FormatClass<RawImporter> importClass(kClassName, kImportSuperClassId, 0x50760201);
FormatClass<RawExporter> exportClass(kClassName, kExportSuperClassId, 0x50760202);

} // namespace

} // namespace polyvant::formats::raw

POLYVANT_FORMAT_LIBRARY("RAW ASCII", &polyvant::formats::raw::importClass,
                        &polyvant::formats::raw::exportClass)
