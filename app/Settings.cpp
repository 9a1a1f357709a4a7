#include "Settings.h"

#include "ImportClassLookup.h"
#include "SettingsStore.h"
#include "Strings.h"

namespace polyvant {

namespace {

constexpr const char* kSection = "Settings";
constexpr const char* kExtensionSection = "Settings\\extension";

constexpr std::size_t kMaxExtensionText = 1024;

struct ModeField {
    const char* name;
    int Settings::*field;
    int defaultValue;
};

constexpr ModeField kModeFields[] = {
    {"vo_top", &Settings::vo_top, kEdge},     {"vo_top_fast", &Settings::vo_top_fast, kBox},
    {"vo_side", &Settings::vo_side, kEdge},   {"vo_side_fast", &Settings::vo_side_fast, kBox},
    {"vo_front", &Settings::vo_front, kEdge}, {"vo_front_fast", &Settings::vo_front_fast, kBox},
    {"vo_user", &Settings::vo_user, kShade},  {"vo_user_fast", &Settings::vo_user_fast, kEdge},
};

} // namespace

std::string ProgramBaseName(const std::string& programPath)
{
    const std::size_t slash = programPath.rfind('/');
    std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

Settings::Settings(const std::string& appKey, const std::string& defaultPluginPath)
    : appKeyName(appKey), plugin_path(defaultPluginPath)
{
    SetDefaultExtensions();
    LoadSettings();
}

Settings::Settings(const std::string& appKey, const std::string& defaultPluginPath, ReadOnlyTag)
    : appKeyName(appKey), plugin_path(defaultPluginPath), m_readOnly(true)
{
    SetDefaultExtensions();
    LoadSettings();
}

Settings::~Settings()
{
    if (!m_readOnly)
        SaveSettings();
}

void Settings::SetDefaultExtensions()
{
    SetDefaultExtensionTable(extensions, extensionClasses);
}

int Settings::SetLastImportClass(const char* name)
{
    if (name)
        last_import_class = name;
    return 1;
}

int Settings::SetLastExportClass(const char* name)
{
    if (name)
        last_export_class = name;
    return 1;
}

int Settings::LoadSettings()
{
    SettingsStore store(appKeyName);
    m_filePath = store.FilePath().toStdString();
    store.BeginRead();
    m_loadNotice = store.Notice().toStdString();
    LoadFrom(store);
    return 1;
}

void Settings::LoadFrom(SettingsStore& store)
{
    const std::string currentPath = plugin_path;
    store.ReadString(kSection, "plugin_path", currentPath.c_str(), plugin_path);
    long value = 0;
    store.ReadLong(kSection, "clear_flag", clear_flag, value);
    clear_flag = int(value);
    const std::string lastImport = last_import_class, lastExport = last_export_class;
    store.ReadString(kSection, "last_import_class", lastImport.c_str(), last_import_class);
    store.ReadString(kSection, "last_export_class", lastExport.c_str(), last_export_class);
    store.ReadLong(kSection, "view_title", view_title, value);
    view_title = int(value);
    for (const ModeField& m : kModeFields) {
        store.ReadLong(kSection, m.name, this->*m.field, value);
        // A mode outside 0..5 would index past the radio groups and draw tables.
        this->*m.field = value >= kBox && value <= kPoint ? int(value) : m.defaultValue;
    }

    int count = 0;
    if (store.CountValues(kExtensionSection, count) && count > 0) {
        extensions.clear();
        extensionClasses.clear();
        for (int i = 0; i < count; ++i) {
            std::string name, data;
            if (store.EnumValue(kExtensionSection, i, name, data) &&
                name.size() < kMaxExtensionText && data.size() < kMaxExtensionText) {
                extensions.push_back(std::move(name));
                extensionClasses.push_back(std::move(data));
            } else {
                // An entry that cannot be read stands as the table's first.
                extensions.emplace_back(DefaultExtensionTable().front().extension);
                extensionClasses.emplace_back(DefaultExtensionTable().front().className);
            }
        }
    }
}

int Settings::SaveSettings()
{
    if (m_readOnly)
        return 1;
    SettingsStore store(appKeyName);
    m_filePath = store.FilePath().toStdString();
    store.BeginWrite();
    SaveTo(store);
    m_lastSaveOk = store.Commit();
    return 1;
}

void Settings::SaveTo(SettingsStore& store) const
{
    store.WriteString(kSection, "plugin_path", plugin_path);
    store.WriteLong(kSection, "clear_flag", clear_flag);
    store.WriteString(kSection, "last_import_class", last_import_class);
    store.WriteString(kSection, "last_export_class", last_export_class);
    store.WriteLong(kSection, "Build", text::kBuildNumber);
    store.WriteLong(kSection, "view_title", view_title);
    for (const ModeField& m : kModeFields)
        store.WriteLong(kSection, m.name, this->*m.field);
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        // A "/" or "\\" in a key would open a sub-section instead of naming a value.
        const std::string& ext = extensions[i];
        if (ext.empty() || ext.find_first_of("/\\") != std::string::npos)
            continue;
        store.WriteString(kExtensionSection, ext.c_str(), extensionClasses[i]);
    }
}

} // namespace polyvant
