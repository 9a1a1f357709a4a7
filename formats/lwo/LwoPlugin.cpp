// The Lightwave plug-in library: import of LWO2, LWOB and LWLO objects, export as LWO2.

#include <memory>
#include <string>
#include <vector>

#include <polyvant/sdk.h>

#include "LwoReader.h"
#include "LwoWriter.h"
#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"

namespace polyvant::formats {
namespace {

constexpr char kImportName[] = "Lightwave (*.lwo)";
constexpr char kExportName[] = "Lightwave (*.lwo)";
constexpr std::uint32_t kImportId = 0x4C574F01;
constexpr std::uint32_t kExportId = 0x4C574F02;

constexpr char kImportHelp[] =
    "Reads Lightwave objects, both the older LWOB form and LWO2: one mesh per layer (or one "
    "for an LWOB file), polygons of any size triangulated, surfaces kept as the faces' "
    "material numbers. Lightwave's Y-up axes become the program's Z-up axes. Points and "
    "lines are skipped, so are curves, metaballs and bones (with a warning).";
constexpr char kExportHelp[] =
    "Writes an LWO2 object with one layer per mesh, one triangle polygon per face and one "
    "surface per face material number. Coordinates are stored as single-precision floats.";

class LwoImporter final : public ImporterBase {
public:
    LwoImporter() noexcept : ImporterBase(kImportName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        ProgressMeter meter("Reading Lightwave object", file.Size());
        const auto size = file.Size();
        const LwoProgress progress = [&meter, size](double fraction) {
            meter.Update(static_cast<std::uint64_t>(fraction * double(size)));
            return true;
        };
        LwoScene scene;
        if (!ReadLwo(reinterpret_cast<const unsigned char*>(file.Data()), size, scene,
                     BaseNameOf(path), progress))
            throw FormatError(OffsetMessage(path, scene.errorOffset, scene.error));
        for (const std::string& warning : scene.warnings)
            HostLink::Warning((std::string(path) + ": " + warning).c_str());
        if (scene.meshes.empty())
            HostLink::Warning(
                (std::string(path) + ": the file holds no points or polygons").c_str());
        for (MeshBuilder& builder : scene.meshes) {
            std::unique_ptr<Mesh3d> mesh(builder.Finish());
            if (!mesh)
                throw FormatError(std::string(path) + ": a layer is too big to import");
            meshes.push_back(std::move(mesh));
        }
    }
};

class LwoExporter final : public ExporterBase {
public:
    LwoExporter() noexcept : ExporterBase(kExportName, ".lwo", kExportHelp) {}

protected:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        LwoImage image;
        if (!BuildLwoImage(meshes, image))
            throw FormatError(std::string(path) + ": " + image.error);
        out.Write(image.bytes.data(), image.bytes.size());
    }
};

FormatClass<LwoImporter> importClass(kImportName, kImportSuperClassId, kImportId);
FormatClass<LwoExporter> exportClass(kExportName, kExportSuperClassId, kExportId);

} // namespace
} // namespace polyvant::formats

POLYVANT_FORMAT_LIBRARY("Lightwave", &polyvant::formats::importClass,
                        &polyvant::formats::exportClass)
