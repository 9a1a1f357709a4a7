#include "ImportClassLookup.h"

#include <algorithm>

#include <polyvant/Plugin.h>

#include "ClassPatterns.h"
#include "ImportCheck.h"
#include "PluginManager.h"

namespace polyvant {
namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// A class's name as the host may use it: "" when the plug-in returned none or junk.
std::string NameOf(ClassDescriptor* descriptor)
{
    return descriptor ? PluginText(descriptor->ClassName()).value_or(std::string()) : std::string();
}

constexpr ExtensionEntry kDefaultExtensions[] = {
    {".3ds", "3D Studio (*.3ds, *.prj)"}, {".prj", "3D Studio (*.3ds, *.prj)"},
    {".dxf", "AutoCad (*.dxf)"},          {".iob", "Imagine (*.obj, *.iob)"},
    {".lwo", "Lightwave (*.lwo)"},        {".pob", "POV-Ray Binary (*.pob)"},
    {".raw", "RAW ASCII (*.raw)"},        {".obj", "WaveFront (*.obj)"},
};

} // namespace

std::span<const ExtensionEntry> DefaultExtensionTable() noexcept
{
    return kDefaultExtensions;
}

void SetDefaultExtensionTable(std::vector<std::string>& extensions,
                              std::vector<std::string>& extensionClasses)
{
    extensions.clear();
    extensionClasses.clear();
    for (const ExtensionEntry& e : kDefaultExtensions) {
        extensions.emplace_back(e.extension);
        extensionClasses.emplace_back(e.className);
    }
}

int FindClassByPattern(const PluginManager& manager, std::uint32_t superClassId,
                       std::string_view path)
{
    const std::string extension = FileExtension(path);
    if (extension.empty())
        return -1;
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        if (descriptor && descriptor->SuperClassID() == superClassId &&
            ClassNameListsExtension(NameOf(descriptor), extension))
            return i;
    }
    return -1;
}

int FindClassNamed(const PluginManager& manager, std::uint32_t superClassId, std::string_view name)
{
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        if (descriptor && descriptor->SuperClassID() == superClassId && NameOf(descriptor) == name)
            return i;
    }
    return -1;
}

int FindImportClass(const PluginManager& manager, const std::vector<std::string>& extensions,
                    const std::vector<std::string>& extensionClasses, std::string_view path)
{
    const std::string extension = FileExtension(path);
    if (extension.empty())
        return -1;
    const std::string dotted = "." + extension;
    const std::size_t entries = std::min(extensions.size(), extensionClasses.size());
    for (std::size_t e = 0; e < entries; ++e) {
        if (!SameIgnoringCase(extensions[e], dotted))
            continue;
        if (const int found = FindClassNamed(manager, kImportSuperClassId, extensionClasses[e]);
            found >= 0)
            return found;
        break; // the entry's class is not loaded: fall back as for a missing entry
    }
    // Without a usable entry the built-in table decides first, since several classes may
    // list one extension (both Imagine and WaveFront list *.obj); then the patterns.
    for (const ExtensionEntry& e : kDefaultExtensions) {
        if (SameIgnoringCase(e.extension, dotted)) {
            if (const int found = FindClassNamed(manager, kImportSuperClassId, e.className);
                found >= 0)
                return found;
        }
    }
    return FindClassByPattern(manager, kImportSuperClassId, path);
}

} // namespace polyvant
