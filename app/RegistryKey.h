#pragma once
#include <string>

#include <QString>

class QSettings;

namespace polyvant {

// The thin adapter through which SettingsStore reaches one section ("Settings" or
// "Settings/extension") of the settings file. The QSettings object belongs to the
// caller, so one save goes through one object and one sync(). Every value is text.
class RegistryKey {
public:
    explicit RegistryKey(QSettings& settings) noexcept : m_settings(settings) {}
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens the section; false when the store cannot be used at all.
    bool Create(const QString& section);
    // Number of plain values of the section (sub-sections are not values).
    bool QueryValueCount(int& count);
    // The index-th value in the store's order (keys sorted byte-wise).
    bool EnumValue(int index, std::string& name, std::string& data);
    // False when the value is missing or is not text; out is then unchanged.
    bool QueryString(const QString& name, std::string& out);
    bool SetString(const QString& name, const std::string& text);

private:
    QSettings& m_settings;
    bool m_open = false;
};

} // namespace polyvant
