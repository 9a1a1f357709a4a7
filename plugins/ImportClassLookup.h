#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace polyvant {

class PluginManager;

// The built-in extension table: the viewer's until the user stores another, and the
// tools' wherever the viewer's settings cannot be read (a build without the viewer).
struct ExtensionEntry {
    const char* extension; // with the leading "."
    const char* className;
};
std::span<const ExtensionEntry> DefaultExtensionTable() noexcept;
// The built-in table as the two parallel lists FindImportClass takes (replacing theirs).
void SetDefaultExtensionTable(std::vector<std::string>& extensions,
                              std::vector<std::string>& extensionClasses);

// The import class that opens a file by its extension, shared by the viewer and the
// command-line tools so both choose alike. First the extension table: the first entry
// whose extension (with its leading ".") equals the file's, ignoring ASCII case, names
// the class, compared exactly. When there is no entry, or its class is not loaded, the
// first import class whose ClassName lists "*.<ext>" opens it. The two tables run in
// parallel. Without a usable entry the built-in table is asked the same way before the
// patterns. Returns the class's position in the manager's class list, or -1.
int FindImportClass(const PluginManager& manager, const std::vector<std::string>& extensions,
                    const std::vector<std::string>& extensionClasses, std::string_view path);

// The class of the given kind whose ClassName is exactly name, or -1.
int FindClassNamed(const PluginManager& manager, std::uint32_t superClassId, std::string_view name);

// The first class of the given kind whose ClassName lists "*.<ext>" for the file's
// extension, or -1.
int FindClassByPattern(const PluginManager& manager, std::uint32_t superClassId,
                       std::string_view path);

} // namespace polyvant
