// polyvant-scan: lists the plug-ins a plug-in directory offers and imports files
// through them without a user, printing what came back.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include <polyvant/Plugin.h>

#include "ClassPatterns.h"
#include "HeadlessHost.h"
#include "ImportCheck.h"
#include "PluginLibrary.h"
#include "PluginManager.h"

namespace {

using namespace polyvant;

const char kUsage[] =
    "usage: polyvant-scan [--plugin-dir DIR] [--option NAME=VALUE]... [FILE...]\n"
    "Lists the plug-in libraries and classes of DIR (default: plugin/ beside this program)\n"
    "and imports each FILE with the first import class that lists its extension.\n";

std::string ProgramDirectory()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

// plugin/ beside the program; an installed program finds them in ../lib/polyvant/plugin/.
std::string DefaultPluginDirectory()
{
    const std::string dir = ProgramDirectory();
    std::error_code ec;
    if (std::filesystem::is_directory(dir + "/plugin", ec))
        return dir + "/plugin/";
    if (std::filesystem::is_directory(dir + "/../lib/polyvant/plugin", ec))
        return dir + "/../lib/polyvant/plugin/";
    return dir + "/plugin/";
}

const char* KindName(std::uint32_t superClass)
{
    switch (superClass) {
    case kImportSuperClassId:
        return "import";
    case kExportSuperClassId:
        return "export";
    default:
        return "other ";
    }
}

void PrintPlugins(const PluginManager& manager)
{
    for (const PluginLoadReport& report : manager.Reports()) {
        if (report.kept)
            std::printf("loaded   %s\n", report.path.c_str());
        else
            std::printf("skipped  %s: %s\n", report.path.c_str(), report.reason.c_str());
    }
    for (const std::string& note : manager.Notes())
        std::printf("note     %s\n", note.c_str());
    std::printf("%d classes\n", manager.ClassCount());
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        std::printf("  %s 0x%08x %s\n", KindName(descriptor->SuperClassID()),
                    static_cast<unsigned>(descriptor->ClassID()), descriptor->ClassName());
    }
}

ClassDescriptor* ImportClassFor(const PluginManager& manager, const std::string& path)
{
    const std::string extension = FileExtension(path);
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        if (descriptor->SuperClassID() == kImportSuperClassId &&
            ClassNameListsExtension(descriptor->ClassName(), extension))
            return descriptor;
    }
    return nullptr;
}

// Imports one file; true when the import gave a list.
bool ScanFile(const PluginManager& manager, HeadlessHost& host, const std::string& file)
{
    ClassDescriptor* descriptor = ImportClassFor(manager, file);
    if (!descriptor) {
        std::printf("%s: no import class lists \"*.%s\"\n", file.c_str(),
                    FileExtension(file).c_str());
        return false;
    }
    auto* importer = static_cast<Importer*>(descriptor->Create());
    if (!importer) {
        std::printf("%s: \"%s\" created no importer\n", file.c_str(), descriptor->ClassName());
        return false;
    }
    // Plug-ins take their options in Options(); the headless host answers with the
    // values given on the command line.
    if (host.HasOptions())
        importer->Options();
    std::error_code ec;
    const std::string path = std::filesystem::absolute(file, ec).string();
    ObjectList* list = importer->ImportFile(path.c_str());
    bool ok = list != nullptr;
    if (!ok) {
        std::printf("%s: \"%s\" imported nothing\n", file.c_str(), descriptor->ClassName());
    } else {
        const CheckedImport checked = CheckImportedList(list);
        unsigned long meshes = 0, faces = 0, vertices = 0, others = 0;
        for (const Obj3d* object : checked.objects) {
            if (object->type == kMeshType) {
                const auto* mesh = static_cast<const Mesh3d*>(object);
                ++meshes;
                faces += mesh->faceCount;
                vertices += mesh->vertexCount;
            } else {
                ++others;
            }
        }
        std::printf("%s: \"%s\": %lu meshes, %lu faces, %lu vertices", file.c_str(),
                    descriptor->ClassName(), meshes, faces, vertices);
        if (others)
            std::printf(", %lu other objects", others);
        std::printf("\n");
        for (const ImportProblem& problem : checked.problems)
            std::printf("  skipped %s: %s\n", problem.object.c_str(), problem.reason.c_str());
    }
    importer->Release();
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    std::string pluginDir;
    std::vector<std::string> files;
    HeadlessHost host;
    host.SetEcho(true);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((arg == "--plugin-dir" || arg == "--option") && i + 1 >= argc) {
            std::fprintf(stderr, "polyvant-scan: %s needs a value\n%s", arg.c_str(), kUsage);
            return 2;
        }
        if (arg == "--plugin-dir") {
            pluginDir = argv[++i];
        } else if (arg == "--option") {
            std::string error;
            if (!host.SetOption(argv[++i], &error)) {
                std::fprintf(stderr, "polyvant-scan: %s\n", error.c_str());
                return 2;
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            std::fprintf(stderr, "polyvant-scan: unknown switch %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (arg != "--") {
            files.push_back(arg);
        }
    }
    if (pluginDir.empty())
        pluginDir = DefaultPluginDirectory();

    int failures = 0;
    {
        PluginManager manager;
        manager.SetHostServices(host.Services());
        std::printf("plug-in directory %s\n", pluginDir.c_str());
        manager.ScanDirectory(pluginDir.c_str(), kPluginInterfaceVersion);
        PrintPlugins(manager);
        for (const std::string& file : files) {
            std::fflush(stdout);
            if (!ScanFile(manager, host, file))
                ++failures;
        }
        for (const std::string& name : host.UnusedOptions())
            std::fprintf(stderr, "polyvant-scan: no plug-in offered option %s\n", name.c_str());
    }
    return failures == 0 ? 0 : 1;
}
