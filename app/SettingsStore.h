#pragma once
#include <memory>
#include <string>

#include <QString>

class QSettings;

namespace polyvant {

// Where the settings live and how they reach the disk:
//   $XDG_CONFIG_HOME (or ~/.config)/Brellow Soft/<appKeyName>.conf, QSettings ini text.
// Reading and writing each go through one QSettings object. A file that is too big
// (over kMaxSettingsFileSize) or that does not parse is moved aside before reading,
// so the defaults apply and the next save writes a sound file. Saving keeps a copy
// of the last good file as <file>.bak and is atomic (QSettings writes a temporary
// file and renames it), so a kill at any moment leaves the old or the new file.
class SettingsStore {
public:
    static constexpr qint64 kMaxSettingsFileSize = 1 << 20;
    // Longer texts are refused on reading: the field keeps its value.
    static constexpr std::size_t kMaxTextLength = 4096;

    explicit SettingsStore(const std::string& appKeyName);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    static QString FilePathFor(const std::string& appKeyName);
    const QString& FilePath() const noexcept { return m_path; }

    // Opens the file for reading (with the guards above), or for writing.
    void BeginRead();
    void BeginWrite();
    // Writes everything set since BeginWrite with one sync(). False when the file
    // could not be written; the old file then stays as it was.
    bool Commit();
    // What happened to a damaged file at BeginRead, for the status bar; "" when nothing.
    const QString& Notice() const noexcept { return m_notice; }

    int ReadString(const char* section, const char* name, const char* defaultText,
                   std::string& out);
    int ReadLong(const char* section, const char* name, long defaultValue, long& out);
    int WriteString(const char* section, const char* name, const std::string& text);
    int WriteLong(const char* section, const char* name, long value);
    int CountValues(const char* section, int& count);
    int EnumValue(const char* section, int index, std::string& name, std::string& data);

    // Leading blanks skipped, optional sign, then digits up to the first other
    // character; no digits give 0. Clamped to the 32-bit range.
    static long ParseLong(const std::string& text) noexcept;

private:
    void MoveAside(const QString& why);
    void DropAbandonedLock() const;
    void KeepBackup() const;

    QString m_path;
    QString m_notice;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace polyvant
