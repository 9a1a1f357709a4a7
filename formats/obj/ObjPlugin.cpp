// WaveFront OBJ import and export classes.
// Class ids of the formats we ship ("Pv" in the high half, format, direction):
//   0x50760101 OBJ import   0x50760102 OBJ export
//   0x50760201 RAW import   0x50760202 RAW export
//   0x50760301 OFF import   0x50760302 OFF export
#include <string>

#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "obj/ObjReader.h"
#include "obj/ObjWriter.h"

namespace polyvant::formats::obj {

namespace {

constexpr const char* kClassName = "WaveFront (*.obj)";

constexpr const char* kImportHelp =
    "WaveFront OBJ import\n\n"
    "Reads vertices (v) and faces (f) of a text OBJ file. Every object (o) or group (g) with "
    "faces becomes one mesh, named as in the file; geometry outside any becomes a mesh named "
    "after the file. Polygons are split into triangles. Negative vertex indices count back "
    "from the last vertex read. A backslash at the end of a line continues the statement on "
    "the next.\n\n"
    "Texture coordinates, normals, vertex colours, lines, points, smoothing groups and "
    "free-form geometry are read past. Materials (usemtl) are numbered in order of first use; "
    "material libraries and the call/csh statements are never opened or run.\n\n"
    "A face with a zero or out-of-range index is skipped with a warning; a coordinate that is "
    "not a finite number (or beyond 1e30) refuses the file, naming the line.\n\n"
    "There are no options.";

constexpr const char* kExportHelp =
    "WaveFront OBJ export\n\n"
    "Writes every mesh of the scene as an object (o) with its vertices and triangles. "
    "Numbers are written in the shortest form that reads back exactly. The file is written "
    "beside the target and replaces it only when complete.\n\n"
    "There are no options.";

class ObjImporter final : public ImporterBase {
public:
    ObjImporter() noexcept : ImporterBase(kClassName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        file.ConvertLoneCarriageReturns();
        ProgressMeter progress("Reading WaveFront file", file.Size());
        ReadObj(file.Data(), file.Size(), path, BaseNameOf(path), meshes, &progress, &file);
    }
};

class ObjExporter final : public ExporterBase {
public:
    ObjExporter() noexcept : ExporterBase(kClassName, "obj", kExportHelp) {}

protected:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        WriteObj(meshes, out, path);
    }
};

FormatClass<ObjImporter> importClass(kClassName, kImportSuperClassId, 0x50760101);
FormatClass<ObjExporter> exportClass(kClassName, kExportSuperClassId, 0x50760102);

} // namespace

} // namespace polyvant::formats::obj

POLYVANT_FORMAT_LIBRARY("WaveFront OBJ", &polyvant::formats::obj::importClass,
                        &polyvant::formats::obj::exportClass)
