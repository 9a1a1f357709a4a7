#include "PluginLibrary.h"

#include <dlfcn.h>

#include <polyvant/CheckedAlloc.h>

#include "ElfCheck.h"
#include "model/SanitizerBuild.h"

namespace polyvant {
namespace {

const char* LastDlError() noexcept
{
    const char* text = dlerror();
    return text ? text : "unknown loader error";
}

} // namespace

template <typename Fn>
bool PluginLibrary::Lookup(const char* name, Fn& entry)
{
    entry = reinterpret_cast<Fn>(dlsym(module, name));
    if (entry)
        return true;
    status = kEntryMissing;
    reason = std::string("entry point ") + name + " missing";
    return false;
}

PluginLibrary::PluginLibrary(const char* libraryPath)
    : module(nullptr), libName(nullptr), libNumberClasses(nullptr), libClassDescription(nullptr),
      libVersion(nullptr), status(kLoadFailed), path(nullptr), libSetHostServices(nullptr)
{
    if (!libraryPath) {
        reason = "no path";
        return;
    }
    path = CheckedStrdup(libraryPath);

    // dlopen of a damaged image can kill the process; only well-formed files go on.
    if (!CheckLoadableElf(path, &reason))
        return;
#if !POLYVANT_ASAN_BUILD
    // Such a library would end this process inside dlopen (a sanitizer build's plug-in
    // directory remembered in the settings of a normal build, say).
    if (RefersToAddressSanitizer(path)) {
        reason = "built with AddressSanitizer, which this program is not";
        return;
    }
#endif
    // A name without "/" would make dlopen search the system library path.
    std::string openPath = path;
    if (openPath.find('/') == std::string::npos)
        openPath = "./" + openPath;
    dlerror();
    // RTLD_NOW: an unresolved symbol fails here rather than at its first call.
    module = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        reason = LastDlError();
        return;
    }

    if (!Lookup("LibName", libName) || !Lookup("LibNumberClasses", libNumberClasses) ||
        !Lookup("LibClassDescription", libClassDescription) || !Lookup("LibVersion", libVersion))
        return;
    libSetHostServices =
        reinterpret_cast<PvLibSetHostServicesFn>(dlsym(module, "LibSetHostServices"));
    status = kLoaded;
}

PluginLibrary::~PluginLibrary()
{
    CheckedFree(path);
    path = nullptr;
    if (!module) {
        status = kLoadFailed;
        return;
    }
    status = dlclose(module) == 0 ? kLoaded : kLoadFailed;
    module = nullptr;
    libName = nullptr;
    libNumberClasses = nullptr;
    libClassDescription = nullptr;
    libVersion = nullptr;
    libSetHostServices = nullptr;
}

} // namespace polyvant
