#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace polyvant::tools {

// The viewer's extension table: the stored one when the viewer saved one, else the
// built-in defaults. Read only: the stored file is never written, created or moved.
struct ExtensionTable {
    std::vector<std::string> extensions; // with the leading "."
    std::vector<std::string> classes;
    std::string notice; // why the stored table was not used, or ""
    // The settings file as it was when read (SettingsFileStamp), while it may be cached.
    std::string source;
};

// The table as the settings reader sends it down a pipe, and back. Decoding fails on
// anything but one whole table.
std::string EncodeExtensionTable(const ExtensionTable& table);
bool DecodeExtensionTable(std::string_view bytes, ExtensionTable& table);

// The stored table is read by the viewer's own settings code, which needs Qt. That code
// sits in a module that a child process loads, so that the tools, and every worker
// they fork, never map the toolkit: a tool starts sooner, and each fork has fewer
// mappings to copy. Start it early and take the table when it is needed; a reader never
// taken is ended with its owner.
class ExtensionTableReader {
public:
    ExtensionTableReader() = default;
    ExtensionTableReader(const ExtensionTableReader&) = delete;
    ExtensionTableReader& operator=(const ExtensionTableReader&) = delete;
    ~ExtensionTableReader();

    // Takes the table kept from an earlier read while nothing it depends on has changed;
    // else forks the child that loads modulePath. Without the module (a build without
    // the viewer) there is no stored table to read, and Take gives the built-in one.
    void Start(const std::string& modulePath);
    // The stored table; the built-in one, with a notice, when it could not be read.
    ExtensionTable Take();

private:
    void End();

    std::string module;
    std::optional<ExtensionTable> kept;
    pid_t pid = -1;
    int fd = -1;
    int startError = 0; // why no child could be started
};

} // namespace polyvant::tools
