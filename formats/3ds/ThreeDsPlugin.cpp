// The 3D Studio plug-in library: import of .3ds and .prj files, export of .3ds.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/sdk.h>

#include "ThreeDsReader.h"
#include "ThreeDsWriter.h"
#include "common/AtomicFileWriter.h"
#include "common/MappedFile.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"

namespace polyvant::formats {
namespace {

constexpr char kImportName[] = "3D Studio (*.3ds, *.prj)";
constexpr char kExportName[] = "3D Studio (*.3ds)";
constexpr std::uint32_t kImportId = 0x3D5A0001;
constexpr std::uint32_t kExportId = 0x3D5A0002;

constexpr char kImportHelp[] =
    "Reads the triangle objects of 3D Studio mesh files (.3ds) and project files (.prj): "
    "one mesh per object with its name, its vertices as the editor stored them and its "
    "local axes. Face material groups become the face's material number. Lights, cameras "
    "and keyframer data are skipped.";
constexpr char kExportHelp[] =
    "Writes every mesh as a 3D Studio triangle object. The format holds at most 65535 "
    "vertices and faces per object and names of 10 characters: bigger meshes are split "
    "into numbered parts, longer names are cut, and a warning lists the renames. "
    "Coordinates are stored as single-precision floats.";

class ThreeDsImporter final : public ImporterBase {
public:
    ThreeDsImporter() noexcept : ImporterBase(kImportName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>& meshes) override
    {
        MappedFile file;
        OpenInput(file, path);
        ProgressMeter meter("Reading 3D Studio file", file.Size());
        const auto size = file.Size();
        const ReadProgress progress = [&meter, size](double fraction) {
            meter.Update(static_cast<std::uint64_t>(fraction * double(size)));
            return true;
        };
        ThreeDsScene scene;
        if (!Read3ds(reinterpret_cast<const unsigned char*>(file.Data()), size, scene, progress))
            throw FormatError(OffsetMessage(path, scene.errorOffset, scene.error));
        for (const std::string& warning : scene.warnings)
            HostLink::Warning((std::string(path) + ": " + warning).c_str());
        if (scene.objects.empty())
            HostLink::Warning((std::string(path) + ": the file holds no triangle objects").c_str());
        for (ThreeDsObject& object : scene.objects) {
            std::unique_ptr<Mesh3d> mesh(object.mesh.Finish());
            if (!mesh)
                throw FormatError(std::string(path) + ": an object is too big to import");
            std::memcpy(mesh->transform, object.transform.data(), sizeof mesh->transform);
            meshes.push_back(std::move(mesh));
        }
    }
};

class ThreeDsExporter final : public ExporterBase {
public:
    ThreeDsExporter() noexcept : ExporterBase(kExportName, ".3ds", kExportHelp) {}

protected:
    void Write(const std::vector<const Mesh3d*>& meshes, AtomicFileWriter& out,
               const char* path) override
    {
        ProgressMeter meter("Writing 3D Studio file", meshes.size(), 1);
        ThreeDsImage image;
        const auto progress = [&meter, &meshes](double fraction) {
            meter.Update(static_cast<std::uint64_t>(fraction * double(meshes.size())));
            return true;
        };
        if (!Build3dsImage(meshes, image, progress))
            throw FormatError(std::string(path) + ": " + image.error);
        if (!image.renames.empty()) {
            std::string text = std::string(path) +
                               ": 3D Studio keeps at most 65535 vertices and faces per object "
                               "and 10 characters per name; renamed:";
            for (const std::string& line : image.renames)
                text += "\n" + line;
            HostLink::Warning(text.c_str());
        }
        out.Write(image.bytes.data(), image.bytes.size());
    }
};

FormatClass<ThreeDsImporter> importClass(kImportName, kImportSuperClassId, kImportId);
FormatClass<ThreeDsExporter> exportClass(kExportName, kExportSuperClassId, kExportId);

} // namespace
} // namespace polyvant::formats

POLYVANT_FORMAT_LIBRARY("3D Studio", &polyvant::formats::importClass,
                        &polyvant::formats::exportClass)
