#pragma once
#include <optional>
#include <string>

#include "ExtensionTable.h"

// Loading the settings reader module maps the toolkit, which made a small conversion take
// twice as long. What it read is kept in the user's cache folder under everything that
// decides it: the module, the environment that places the settings file, and that file's
// identity. A tool uses the kept table only while all of them are as they were; else it
// reads the table again. The cache is only ever an answer that the module would give.
namespace polyvant::tools {

// The identity of the settings file at path, taken before the file is read: the path,
// then "absent", or what lstat and, for a link, stat say of it. "" when a later change
// might not show: a relative path, a failed stat, or a change in the last settleSeconds,
// where a coarse file system clock could give the next change the same times.
std::string SettingsFileStamp(const std::string& path, double settleSeconds = 2.0);

// The table kept for modulePath, when everything it depends on is as it was.
std::optional<ExtensionTable> CachedExtensionTable(const std::string& modulePath);

// Keeps table, read through modulePath, when it carries its settings file's stamp. Quietly
// does nothing where the cache folder cannot be written.
void KeepExtensionTable(const std::string& modulePath, const ExtensionTable& table);

// $XDG_CACHE_HOME/polyvant/extension-table, or ~/.cache/...; "" without either.
std::string ExtensionTableCachePath();

} // namespace polyvant::tools
