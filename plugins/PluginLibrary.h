#pragma once
#include <cstdint>
#include <string>

#include <polyvant/HostServices.h>
#include <polyvant/Plugin.h>

namespace polyvant {

// One loaded plug-in library.
class PluginLibrary {
public:
    enum Status : std::int32_t {
        kLoaded = 0,       // loaded with all four entry points
        kLoadFailed = 1,   // could not be loaded (or, after unloading, unloading failed)
        kEntryMissing = 2, // an entry point is missing
    };

    // Loads the library at path (no length limit) and looks up the entry points.
    explicit PluginLibrary(const char* path);
    // Unloads the library.
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    Status GetStatus() const noexcept { return status; }
    const char* GetPath() const noexcept { return path; }
    // Why loading failed (dlerror text, the missing entry point, a damaged file), or "".
    const std::string& Reason() const noexcept { return reason; }

    void* module;
    PvLibNameFn libName;
    PvLibNumberClassesFn libNumberClasses;
    PvLibClassDescriptionFn libClassDescription;
    PvLibVersionFn libVersion;
    Status status;
    char* path;

    // Optional fifth entry point; null when the library does not export it.
    PvLibSetHostServicesFn libSetHostServices;

private:
    // Looks up one entry point; when missing sets status 2 and the reason.
    template <typename Fn>
    bool Lookup(const char* name, Fn& entry);

    std::string reason;
};

} // namespace polyvant
