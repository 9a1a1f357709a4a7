#include "PluginManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>

#include "PluginLibrary.h"

namespace polyvant {
namespace {

// A library answering a bogus class count must not stall start-up for billions of calls.
constexpr std::uint32_t kMaxClassesPerLibrary = 1024;
// Longer class names are taken as garbage (no terminator where one belongs).
constexpr std::size_t kMaxClassNameLength = 4096;

void DeleteLibrary(void* item)
{
    delete static_cast<PluginLibrary*>(item);
}

bool EndsWithSo(const char* name) noexcept
{
    const std::size_t length = std::strlen(name);
    return length >= 3 && std::memcmp(name + length - 3, ".so", 3) == 0;
}

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

} // namespace

PluginManager::PluginManager()
    : classList(new ObjectList(nullptr)), libraryList(new ObjectList(&DeleteLibrary))
{
}

PluginManager::~PluginManager()
{
    delete classList;
    classList = nullptr;
    delete libraryList;
    libraryList = nullptr;
}

int PluginManager::ScanDirectory(const char* dir, std::uint32_t version)
{
    std::string base = dir ? dir : "";
    // An empty path means the working directory; the result must contain a "/" so
    // that dlopen does not search the system library path instead.
    if (base.empty())
        base = "./";
    else if (base.back() != '/')
        base += '/';

    std::vector<std::string> names;
    if (DIR* handle = opendir(base.c_str())) {
        while (const dirent* entry = readdir(handle)) {
            if (EndsWithSo(entry->d_name))
                names.emplace_back(entry->d_name);
        }
        closedir(handle);
    } else {
        reports.push_back(
            {base, false, std::string("cannot read the directory: ") + std::strerror(errno)});
    }
    // std::string compares as unsigned bytes: the byte order of the names.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        AddLibrary(base + name, version);
    BuildClassList();
    return 0;
}

void PluginManager::AddLibrary(const std::string& path, std::uint32_t version)
{
    auto* library = new PluginLibrary(path.c_str());
    std::string why;
    if (library->GetStatus() != PluginLibrary::kLoaded) {
        why = library->Reason();
    } else if (const std::uint32_t found = library->libVersion(); found != version) {
        // The version comes first: nothing else of a library built for another
        // interface may run.
        why =
            "interface version " + std::to_string(found) + ", expected " + std::to_string(version);
    } else {
        if (library->libSetHostServices && hostServices &&
            library->libSetHostServices(hostServices) == 0)
            notes.push_back(path + ": refused the host services table");
        if (library->libNumberClasses() == 0)
            why = "offers no classes";
    }
    if (!why.empty()) {
        reports.push_back({path, false, why});
        delete library;
        return;
    }
    reports.push_back({path, true, ""});
    libraryList->Append(library);
}

void PluginManager::SetHostServices(const PvHostServices* services) noexcept
{
    hostServices = services;
    for (int i = 0; services && i < libraryList->Count(); ++i) {
        auto* library = static_cast<PluginLibrary*>(libraryList->Get(i));
        if (library->libSetHostServices)
            library->libSetHostServices(services);
    }
}

void PluginManager::SetHostServices(const PvHostServices* services,
                                    const PluginLibrary* library) noexcept
{
    for (int i = 0; services && library && i < libraryList->Count(); ++i) {
        auto* loaded = static_cast<PluginLibrary*>(libraryList->Get(i));
        if (loaded == library && loaded->libSetHostServices)
            loaded->libSetHostServices(services);
    }
}

void PluginManager::BuildClassList()
{
    delete classList;
    classList = new ObjectList(nullptr);
    classLibraries.clear();
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < libraryList->Count(); ++i) {
        auto* library = static_cast<PluginLibrary*>(libraryList->Get(i));
        std::uint32_t count = library->libNumberClasses();
        if (count > kMaxClassesPerLibrary) {
            notes.push_back(std::string(library->GetPath()) + ": claims " + std::to_string(count) +
                            " classes, only the first " + std::to_string(kMaxClassesPerLibrary) +
                            " are read");
            count = kMaxClassesPerLibrary;
        }
        for (std::uint32_t j = 0; j < count; ++j) {
            const std::string where =
                std::string(library->GetPath()) + ": class " + std::to_string(j);
            ClassDescriptor* descriptor = library->libClassDescription(j);
            if (!descriptor) {
                notes.push_back(where + " skipped: no descriptor");
                continue;
            }
            const char* name = descriptor->ClassName();
            if (!name || name[0] == '\0') {
                notes.push_back(where + " skipped: no class name");
                continue;
            }
            if (strnlen(name, kMaxClassNameLength + 1) > kMaxClassNameLength) {
                notes.push_back(where + " skipped: class name too long");
                continue;
            }
            const std::uint32_t id = descriptor->ClassID();
            if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
                notes.push_back(where + " (\"" + name + "\") skipped: class id " + Hex(id) +
                                " is taken");
                continue;
            }
            ids.push_back(id);
            classList->Append(descriptor);
            classLibraries.push_back(library);
        }
    }
}

void PluginManager::UnloadLibrariesExcept(const std::vector<int>& classes)
{
    std::vector<const PluginLibrary*> kept;
    for (int i : classes) {
        if (const PluginLibrary* library = GetClassLibrary(i))
            kept.push_back(library);
    }
    auto isKept = [&kept](const void* library) {
        return std::find(kept.begin(), kept.end(), library) != kept.end();
    };

    auto* keptClasses = new ObjectList(nullptr);
    for (int i = 0; i < ClassCount(); ++i) {
        const bool keep = isKept(classLibraries[static_cast<std::size_t>(i)]);
        keptClasses->Append(keep ? GetClass(i) : nullptr);
        if (!keep)
            classLibraries[static_cast<std::size_t>(i)] = nullptr;
    }
    delete classList;
    classList = keptClasses;

    auto* keptLibraries = new ObjectList(&DeleteLibrary);
    std::vector<PluginLibrary*> dropped;
    for (int i = 0; i < libraryList->Count(); ++i) {
        auto* library = static_cast<PluginLibrary*>(libraryList->Get(i));
        if (isKept(library))
            keptLibraries->Append(library);
        else
            dropped.push_back(library);
    }
    libraryList->deleter = nullptr; // the libraries now belong to the new list or go below
    delete libraryList;
    libraryList = keptLibraries;
    for (PluginLibrary* library : dropped)
        delete library;
}

int PluginManager::ClassCount() const noexcept
{
    return classList ? classList->Count() : 0;
}

ClassDescriptor* PluginManager::GetClass(int i) const noexcept
{
    return classList ? static_cast<ClassDescriptor*>(classList->Get(i)) : nullptr;
}

const PluginLibrary* PluginManager::GetClassLibrary(int i) const noexcept
{
    if (i < 0 || static_cast<std::size_t>(i) >= classLibraries.size())
        return nullptr;
    return classLibraries[static_cast<std::size_t>(i)];
}

} // namespace polyvant
