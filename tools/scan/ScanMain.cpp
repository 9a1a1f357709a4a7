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
#include "tools/common/PluginDirectory.h"

namespace {

using namespace polyvant;

const char kUsage[] =
    "usage: polyvant-scan [--plugin-dir DIR] [--option NAME=VALUE]... [FILE...]\n"
    "Lists the plug-in libraries and classes of DIR (default: plugin/ beside this program)\n"
    "and imports each FILE with the first import class that lists its extension.\n";

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

std::vector<ClassDescriptor*> ImportClassesFor(const PluginManager& manager,
                                               const std::string& path)
{
    std::vector<ClassDescriptor*> classes;
    const std::string extension = FileExtension(path);
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        if (descriptor->SuperClassID() == kImportSuperClassId &&
            ClassNameListsExtension(descriptor->ClassName(), extension))
            classes.push_back(descriptor);
    }
    return classes;
}

void PrintMessages(HeadlessHost& host)
{
    static const char* const kPrefix[] = {"info", "warning", "error"};
    for (const HeadlessHost::Message& message : host.Messages())
        std::printf("  %s: %s\n", kPrefix[message.severity], message.text.c_str());
    host.ClearMessages();
}

void PrintCounts(const std::string& file, const char* className, const ObjectList* list)
{
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
    std::printf("%s: \"%s\": %lu %s, %lu %s, %lu %s", file.c_str(), className, meshes,
                meshes == 1 ? "mesh" : "meshes", faces, faces == 1 ? "face" : "faces", vertices,
                vertices == 1 ? "vertex" : "vertices");
    if (others)
        std::printf(", %lu other %s", others, others == 1 ? "object" : "objects");
    std::printf("\n");
    for (const ImportProblem& problem : checked.problems)
        std::printf("  skipped %s: %s\n", problem.object.c_str(), problem.reason.c_str());
}

// Imports one file with the first class listing its extension that reads it (formats
// may share an extension); true when one did.
bool ScanFile(const PluginManager& manager, HeadlessHost& host, const std::string& file)
{
    const auto classes = ImportClassesFor(manager, file);
    if (classes.empty()) {
        std::printf("%s: no import class lists \"*.%s\"\n", file.c_str(),
                    FileExtension(file).c_str());
        return false;
    }
    std::error_code ec;
    const std::string path = std::filesystem::absolute(file, ec).string();
    std::vector<HeadlessHost::Message> refusals;
    for (ClassDescriptor* descriptor : classes) {
        host.ClearMessages();
        auto* importer = static_cast<Importer*>(descriptor->Create());
        if (!importer)
            continue;
        // Plug-ins take their options in Options(); the headless host answers with the
        // values given on the command line.
        if (host.HasOptions())
            importer->Options();
        if (ObjectList* list = importer->ImportFile(path.c_str())) {
            PrintCounts(file, descriptor->ClassName(), list);
            PrintMessages(host);
            importer->Release();
            return true;
        }
        importer->Release();
        for (const HeadlessHost::Message& message : host.Messages())
            refusals.push_back(
                {message.severity, std::string(descriptor->ClassName()) + ": " + message.text});
    }
    std::printf("%s: imported by none of its %zu classes\n", file.c_str(), classes.size());
    for (const HeadlessHost::Message& message : refusals)
        std::printf("  %s\n", message.text.c_str());
    host.ClearMessages();
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    std::string pluginDir;
    std::vector<std::string> files;
    HeadlessHost host; // messages are printed with the file they belong to
    bool switchesEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (switchesEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            switchesEnded = true;
            continue;
        }
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
        } else {
            std::fprintf(stderr, "polyvant-scan: unknown switch %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (pluginDir.empty())
        pluginDir = tools::DefaultPluginDirectory();

    int failures = 0;
    {
        PluginManager manager;
        manager.SetHostServices(host.Services());
        std::printf("plug-in directory %s\n", pluginDir.c_str());
        manager.ScanDirectory(pluginDir.c_str(), kPluginInterfaceVersion);
        PrintPlugins(manager);
        if (manager.ClassCount() == 0) {
            std::fprintf(stderr, "polyvant-scan: no plug-in classes found in %s\n",
                         pluginDir.c_str());
            return 2;
        }
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
