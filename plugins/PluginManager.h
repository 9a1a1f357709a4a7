#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <polyvant/HostServices.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Plugin.h>

namespace polyvant {

class PluginLibrary;

// What happened to one file of the plug-in directory, for the start-up log.
struct PluginLoadReport {
    std::string path;
    bool kept;          // the library is in the library list
    std::string reason; // why it was skipped, or "" when kept
};

// Loads the plug-in libraries of a directory and collects their classes.
class PluginManager {
public:
    PluginManager();
    // Destroys the class list (descriptors untouched), then unloads every library.
    // Every plug-in object must have been released before.
    ~PluginManager();
    PluginManager(const PluginManager&) = delete;
    PluginManager& operator=(const PluginManager&) = delete;

    // Services handed to every library that exports LibSetHostServices: those loaded
    // already at once, later ones right after their version was checked. Null hands none.
    void SetHostServices(const PvHostServices* services) noexcept;
    // Hands services to one loaded library only (none when it is null), for a process
    // that will call no other; later loads still get the table set above.
    void SetHostServices(const PvHostServices* services, const PluginLibrary* library) noexcept;

    // Loads the "*.so" files of dir in byte order of their names (dir with or without
    // a trailing "/"), keeps those of the given interface version that offer classes,
    // and builds the class list. Returns 0; the outcome is the class count.
    int ScanDirectory(const char* dir, std::uint32_t version);

    int ClassCount() const noexcept;
    // Null outside 0 ... ClassCount() - 1.
    ClassDescriptor* GetClass(int i) const noexcept;
    // The library that supplied class i, or null.
    const PluginLibrary* GetClassLibrary(int i) const noexcept;

    // Unloads every library that supplies none of the given classes, for a process that
    // will use no others: each fork of it then copies, and each child unmaps, fewer
    // mappings. Their classes stay in the list as null entries, so that the indices of the
    // rest hold. No object of an unloaded library may be alive.
    void UnloadLibrariesExcept(const std::vector<int>& classes);

    const std::vector<PluginLoadReport>& Reports() const noexcept { return reports; }
    // Classes a kept library offered but the class list left out (no descriptor, no
    // name, an identifier already taken), and other remarks, for the start-up log.
    const std::vector<std::string>& Notes() const noexcept { return notes; }

    ObjectList* classList;   // ClassDescriptor*, no deleter
    ObjectList* libraryList; // PluginLibrary*, deleter unloads and frees

private:
    void AddLibrary(const std::string& path, std::uint32_t version);
    void BuildClassList();

    const PvHostServices* hostServices = nullptr;
    std::vector<PluginLoadReport> reports;
    std::vector<std::string> notes;
    std::vector<const PluginLibrary*> classLibraries;
};

} // namespace polyvant
