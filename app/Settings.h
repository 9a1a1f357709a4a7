#pragma once
#include <string>
#include <vector>

namespace polyvant {

class SettingsStore;

// Render mode codes of a pane.
enum RenderMode : int { kBox = 0, kEdge = 1, kWire = 2, kShade = 3, kDouble = 4, kPoint = 5 };

// The user's preferences. Construction sets the defaults and reads the stored values;
// destruction writes every value back (the only write). Other parts read and assign
// the fields directly.
class Settings {
public:
    // appKeyName: base name of the program file; defaultPluginPath: the plug-in
    // directory used when none is stored (ends with "/").
    Settings(const std::string& appKeyName, const std::string& defaultPluginPath);
    // Reads the stored values like the constructor above but never writes them back:
    // for the command-line tools, which share the viewer's extension table.
    struct ReadOnlyTag {};
    Settings(const std::string& appKeyName, const std::string& defaultPluginPath, ReadOnlyTag);
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Both always answer 1; a store that cannot be read leaves the fields as they are.
    int LoadSettings();
    int SaveSettings();
    // False when the last SaveSettings could not write the file.
    bool LastSaveSucceeded() const noexcept { return m_lastSaveOk; }
    // Why a stored file was not used (moved aside), or "".
    const std::string& LoadNotice() const noexcept { return m_loadNotice; }
    const std::string& FilePath() const noexcept { return m_filePath; }

    // A null name leaves the field unchanged.
    int SetLastImportClass(const char* name);
    int SetLastExportClass(const char* name);

    int ExtensionCount() const noexcept { return int(extensions.size()); }
    void SetDefaultExtensions();

    std::string appKeyName;
    std::vector<std::string> extensions;       // with the leading "."
    std::vector<std::string> extensionClasses; // ClassName of the import class
    int clear_flag = 1;
    std::string plugin_path;
    std::string last_import_class;
    std::string last_export_class;
    int view_title = 1;
    int vo_top = kEdge;
    int vo_top_fast = kBox;
    int vo_side = kEdge;
    int vo_side_fast = kBox;
    int vo_front = kEdge;
    int vo_front_fast = kBox;
    int vo_user = kShade;
    int vo_user_fast = kEdge;

private:
    void LoadFrom(SettingsStore& store);
    void SaveTo(SettingsStore& store) const;

    std::string m_filePath;
    std::string m_loadNotice;
    bool m_lastSaveOk = true;
    bool m_readOnly = false;
};

// The base name of a program path ("/usr/bin/polyvant" gives "polyvant").
std::string ProgramBaseName(const std::string& programPath);

} // namespace polyvant
