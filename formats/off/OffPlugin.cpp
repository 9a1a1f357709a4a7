// OFF import and export classes (ids 0x50760301 and 0x50760302; the list of all
// our ids is in formats/obj/ObjPlugin.cpp).
#include <string>

#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "off/OffReader.h"
#include "off/OffWriter.h"

namespace polyvant::formats::off {

namespace {

constexpr const char* kClassName = "OFF (*.off)";

constexpr const char* kImportHelp =
    "OFF import\n\n"
    "Reads the vertices and faces of an OFF file, text or binary (headers OFF, COFF, NOFF, "
    "CNOFF, STOFF and their combinations; 4OFF with homogeneous coordinates, divided out; "
    "nOFF when it names 3 dimensions; any of them followed by BINARY) as one mesh named "
    "after the file. In a text file faces may run over several "
    "lines; polygons are split into triangles. Colours, normals and texture coordinates are "
    "read past; comments (#) are allowed anywhere.\n\n"
    "A face with an index outside the vertex list is skipped with a warning; a file that ends "
    "within the faces keeps those read, with a warning. Counts larger than the file can hold, "
    "or a coordinate that is not a finite number (or beyond 1e30), refuse the file, naming the "
    "line (the byte offset in a binary file).\n\n"
    "There are no options.";

constexpr const char* kExportHelp =
    "OFF export\n\n"
    "Writes all meshes of the scene as one OFF mesh of triangles (OFF holds one object). The "
    "file is written beside the target and replaces it only when complete.\n\n"
    "There are no options.";

class OffImporter final : public ImporterBase {
public:
    OffImporter() noexcept : ImporterBase(kClassName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        file.ConvertLoneCarriageReturns();
        ProgressMeter progress("Reading OFF file", file.Size());
        ReadOff(file.Data(), file.Size(), path, BaseNameOf(path), meshes, &progress);
    }
};

class OffExporter final : public ExporterBase {
public:
    OffExporter() noexcept : ExporterBase(kClassName, "off", kExportHelp) {}

protected:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        WriteOff(meshes, out, path);
    }
};

FormatClass<OffImporter> importClass(kClassName, kImportSuperClassId, 0x50760301);
FormatClass<OffExporter> exportClass(kClassName, kExportSuperClassId, 0x50760302);

} // namespace

} // namespace polyvant::formats::off

POLYVANT_FORMAT_LIBRARY("OFF", &polyvant::formats::off::importClass,
                        &polyvant::formats::off::exportClass)
