// The POV-Ray Binary plug-in library. No public description of the file layout could be
// found (only the title page of its SDK document is readable), and guessing a binary
// layout would show users wrong geometry. So the class exists under its extension-table
// name, recognises what it can, and refuses every file with a clear message.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/sdk.h>

#include "common/MappedFile.h"
#include "common/PluginSupport.h"

namespace polyvant::formats {
namespace {

constexpr char kImportName[] = "POV-Ray Binary (*.pob)";
constexpr std::uint32_t kImportId = 0x504F4201;

constexpr char kImportHelp[] =
    "POV-Ray Binary files (.pob) cannot be read yet: no public description of the "
    "format's layout was available to build a reader from. Export the scene from its "
    "program in another format (3D Studio, Lightwave, Wavefront) and import that instead.";

class PobImporter final : public ImporterBase {
public:
    PobImporter() noexcept : ImporterBase(kImportName, kImportHelp) {}

protected:
    void Read(const char* path, std::vector<std::unique_ptr<Mesh3d>>&) override
    {
        MappedFile file;
        OpenInput(file, path);
        // Other programs use .pob for IFF-based files of their own.
        if (file.Size() >= 4 && std::memcmp(file.Data(), "FORM", 4) == 0)
            throw FormatError(std::string(path) +
                              ": not a POV-Ray Binary file: it is an IFF FORM file of "
                              "another program that also uses the .pob extension");
        throw FormatError(std::string(path) +
                          ": POV-Ray Binary files are not supported: no public description "
                          "of the format's layout was available to build a reader from; "
                          "export the scene in another format and import that instead");
    }
};

FormatClass<PobImporter> importClass(kImportName, kImportSuperClassId, kImportId);

} // namespace
} // namespace polyvant::formats

POLYVANT_FORMAT_LIBRARY("POV-Ray Binary", &polyvant::formats::importClass)
