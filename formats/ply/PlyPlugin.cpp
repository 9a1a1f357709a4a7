// The PLY library: one import and one export class.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "ply/PlyReader.h"
#include "ply/PlyWriter.h"

namespace polyvant::formats::ply {

namespace {

constexpr char kClassName[] = "PLY (*.ply)";
constexpr std::uint32_t kImportClassId = 0x504C5900;
constexpr std::uint32_t kExportClassId = 0x504C5901;

constexpr char kImportHelp[] =
    "PLY (polygon file format) import\n\n"
    "Reads ascii, binary_little_endian and binary_big_endian files into one mesh named\n"
    "after the file: vertex x, y, z of any numeric type and the faces of the list\n"
    "vertex_indices (or vertex_index, or the face's only integer list) with any count\n"
    "and index types. Polygons with more than three corners are split into triangles.\n"
    "Normals, colours, texture coordinates and other elements are skipped. A file with\n"
    "vertices but no faces (a point cloud) gives a mesh without faces. A damaged file is\n"
    "refused with the line or byte offset of the fault; a file cut short inside its faces\n"
    "keeps those that are whole, with a warning.";

constexpr char kExportHelp[] =
    "PLY (polygon file format) export\n\n"
    "Options: Binary little endian (default) or ASCII. All meshes are written as one\n"
    "mesh with triangle faces. Coordinates are stored as float when each of them is\n"
    "exactly a float, else as double, so nothing is rounded. The file is written beside\n"
    "the target and replaces it only when complete.";

// Chosen through Options and kept for the library's lifetime, because every export
// and options action works on a fresh exporter object.
PlyOutput exportEncoding = PlyOutput::kBinaryLittleEndian;

// A text PLY whose header lines end in CR alone (old Macintosh); a binary body must
// keep its bytes, so only an ascii file is converted.
bool IsAsciiWithLoneCarriageReturns(const char* data, std::size_t size)
{
    if (size < 5 || std::memcmp(data, "ply\r", 4) != 0 || data[4] == '\n')
        return false;
    const std::string_view head(data, std::min<std::size_t>(size, 64 * 1024));
    const std::size_t format = head.find("\rformat ascii ");
    return format != std::string_view::npos && format < head.find("\rend_header");
}

class PlyImporter final : public ImporterBase {
public:
    PlyImporter() noexcept : ImporterBase(kClassName, kImportHelp) {}

private:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        if (IsAsciiWithLoneCarriageReturns(file.Data(), file.Size()))
            file.ConvertLoneCarriageReturns();
        ReadPly(file.Data(), file.Size(), path, meshes);
    }
};

class PlyExporter final : public ExporterBase {
public:
    PlyExporter() noexcept : ExporterBase(kClassName, "ply", kExportHelp) {}

    void Options() noexcept override
    {
        PvOption option{};
        option.name = "format";
        option.label = "File format";
        option.type = PV_OPTION_CHOICE;
        option.intValue = exportEncoding == PlyOutput::kAscii ? 1 : 0;
        option.maxValue = 1;
        option.choices = "Binary little endian|ASCII";
        if (HostLink::EditOptions("PLY export options", &option, 1))
            exportEncoding =
                option.intValue == 1 ? PlyOutput::kAscii : PlyOutput::kBinaryLittleEndian;
    }

private:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        WritePly(meshes, out, path, exportEncoding);
    }
};

FormatClass<PlyImporter> importClass(kClassName, kImportSuperClassId, kImportClassId);
FormatClass<PlyExporter> exportClass(kClassName, kExportSuperClassId, kExportClassId);

} // namespace

} // namespace polyvant::formats::ply

POLYVANT_FORMAT_LIBRARY("PLY", &polyvant::formats::ply::importClass,
                        &polyvant::formats::ply::exportClass)
