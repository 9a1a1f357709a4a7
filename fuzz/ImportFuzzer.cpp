// libFuzzer target for one import class: each input is written to a file and imported
// through the plug-in, as the viewer would, and what comes back goes through the host's
// own checks. Invalid data handed over is a finding, like a crash or a sanitizer report.
//   POLYVANT_FUZZ_PLUGINS  the plug-in directory (default: the build's)
//   POLYVANT_FUZZ_CLASS    an extension (obj, 3ds, ...): the class the viewer opens it with
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <polyvant/Plugin.h>

#include "HeadlessHost.h"
#include "ImportCheck.h"
#include "ImportClassLookup.h"
#include "PluginManager.h"

namespace {

using namespace polyvant;

struct Target {
    HeadlessHost host;
    PluginManager manager;
    ClassDescriptor* importClass = nullptr;
    std::string path;
};

Target* g_target = nullptr;

[[noreturn]] void Die(const std::string& why)
{
    std::fprintf(stderr, "import_fuzzer: %s\n", why.c_str());
    std::exit(2);
}

// A finding: libFuzzer saves the input that led here.
[[noreturn]] void Finding(const std::string& what)
{
    std::fprintf(stderr, "import_fuzzer: %s\n", what.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* dir = std::getenv("POLYVANT_FUZZ_PLUGINS");
    const char* wanted = std::getenv("POLYVANT_FUZZ_CLASS");
    if (!wanted || !*wanted)
        Die("set POLYVANT_FUZZ_CLASS to the extension of an import class (obj, 3ds, ...)");
    g_target = new Target;
    g_target->manager.SetHostServices(g_target->host.Services());
    g_target->manager.ScanDirectory(dir && *dir ? dir : POLYVANT_PLUGIN_DIR,
                                    kPluginInterfaceVersion);
    // The built-in extension table first, as the viewer: "obj" is Wavefront, not Imagine.
    std::vector<std::string> extensions, classes;
    SetDefaultExtensionTable(extensions, classes);
    const int index =
        FindImportClass(g_target->manager, extensions, classes, std::string("model.") + wanted);
    g_target->importClass = g_target->manager.GetClass(index);
    if (!g_target->importClass) {
        for (const PluginLoadReport& report : g_target->manager.Reports()) {
            if (!report.kept)
                std::fprintf(stderr, "%s: %s\n", report.path.c_str(), report.reason.c_str());
        }
        Die(std::string("no import class for \"") + wanted + "\"");
    }
    std::fprintf(stderr, "import_fuzzer: importing with \"%s\"\n",
                 PluginText(g_target->importClass->ClassName()).value_or("?").c_str());
    // Extension and all: some readers look at it. Under /dev/shm when there is one.
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_target->path = base + "/polyvant-fuzz-" + std::to_string(getpid()) + "." + wanted;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(g_target->path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        Die("cannot write " + g_target->path);
    auto* importer = static_cast<Importer*>(g_target->importClass->Create());
    if (!importer)
        Die("the class created no importer");
    g_target->host.ClearMessages();
    if (ObjectList* list = importer->ImportFile(g_target->path.c_str())) {
        for (const ImportProblem& problem : CheckImportedList(list).problems)
            Finding("invalid data handed over: " + problem.object + ": " + problem.reason);
    } else if (g_target->host.Count(PV_ERROR) == 0) {
        Finding("the import failed without an error message");
    }
    importer->Release();
    return 0;
}
