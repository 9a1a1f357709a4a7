// The STL library: one import and one export class.

#include <string>

#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "stl/StlReader.h"
#include "stl/StlWriter.h"

namespace polyvant::formats::stl {

namespace {

constexpr char kClassName[] = "STL (*.stl)";
constexpr std::uint32_t kImportClassId = 0x53544C00;
constexpr std::uint32_t kExportClassId = 0x53544C01;

constexpr char kImportHelp[] =
    "STL (stereolithography) import\n\n"
    "Reads ASCII and binary STL files; the kind is recognised from the file itself.\n"
    "Each solid of an ASCII file becomes one mesh named after the solid; empty solids\n"
    "are skipped. A binary file is one mesh named after the file.\n"
    "STL repeats every corner in every facet: corners at exactly the same position\n"
    "become one vertex. Facet normals and the binary attribute bytes are not used.\n"
    "Facets with fewer than 3 corners (line segments) are skipped with a warning.\n"
    "A damaged file is refused with the line or byte offset of the fault; an ASCII\n"
    "file cut short keeps the facets that are whole, with a warning; a binary\n"
    "file whose header leaves the triangle count at 0 is read from its size.";

constexpr char kExportHelp[] =
    "STL (stereolithography) export\n\n"
    "Options: Binary (default) writes every mesh into the one solid of a binary file,\n"
    "with coordinates as 32-bit floats. ASCII writes one solid per mesh, named after\n"
    "it, with coordinates exactly as held. Facet normals are computed from the corners.\n"
    "The file is written beside the target and replaces it only when complete.";

enum ExportFormat : std::int64_t { kBinary = 0, kAscii = 1 };

// Chosen through Options and kept for the library's lifetime, because every export
// and options action works on a fresh exporter object.
std::int64_t exportFormat = kBinary;

class StlImporter final : public ImporterBase {
public:
    StlImporter() noexcept : ImporterBase(kClassName, kImportHelp) {}

private:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        ReadStl(file.Data(), file.Size(), path, meshes, &file);
    }
};

class StlExporter final : public ExporterBase {
public:
    StlExporter() noexcept : ExporterBase(kClassName, "stl", kExportHelp) {}

    void Options() noexcept override
    {
        PvOption option{};
        option.name = "format";
        option.label = "File format";
        option.type = PV_OPTION_CHOICE;
        option.intValue = exportFormat;
        option.maxValue = 1;
        option.choices = "Binary|ASCII";
        if (HostLink::EditOptions("STL export options", &option, 1))
            exportFormat = option.intValue == kAscii ? kAscii : kBinary;
    }

private:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        if (exportFormat == kAscii)
            WriteStlAscii(meshes, out, path);
        else
            WriteStlBinary(meshes, out, path);
    }
};

FormatClass<StlImporter> importClass(kClassName, kImportSuperClassId, kImportClassId);
FormatClass<StlExporter> exportClass(kClassName, kExportSuperClassId, kExportClassId);

} // namespace

} // namespace polyvant::formats::stl

POLYVANT_FORMAT_LIBRARY("STL", &polyvant::formats::stl::importClass,
                        &polyvant::formats::stl::exportClass)
