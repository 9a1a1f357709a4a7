#include "SettingsReaderModule.h"

#include <cerrno>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "ExtensionTable.h"
#include "ExtensionTableCache.h"
#include "ImportClassLookup.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"

namespace polyvant::tools {
namespace {

// The viewer's settings file, under the viewer's program name.
constexpr char kAppKey[] = "polyvant";

ExtensionTable ReadStoredTable(const QString& path)
{
    ExtensionTable table;
    SetDefaultExtensionTable(table.extensions, table.classes);
    // The store moves a damaged file aside when it reads one; a tool must leave it alone,
    // so such a file is checked here first and then not read at all.
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        if (!info.isFile() || info.size() > SettingsStore::kMaxSettingsFileSize ||
            QSettings(path, QSettings::IniFormat).status() != QSettings::NoError) {
            table.notice = "settings file " + path.toStdString() +
                           " is unusable; the built-in extension table is used";
            return table;
        }
    }
    const Settings settings(kAppKey, std::string(), Settings::ReadOnlyTag{});
    table.extensions = settings.extensions;
    table.classes = settings.extensionClasses;
    return table;
}

} // namespace
} // namespace polyvant::tools

extern "C" __attribute__((visibility("default"))) int PolyvantWriteStoredExtensionTable(int fd)
{
    using namespace polyvant::tools;
    const QString path = polyvant::SettingsStore::FilePathFor(kAppKey);
    // Taken before the file is read: a change while it is read shows at the next look.
    const std::string source = SettingsFileStamp(QFile::encodeName(path).toStdString());
    ExtensionTable table = ReadStoredTable(path);
    table.source = source;
    const std::string bytes = EncodeExtensionTable(table);
    std::string_view left = bytes;
    while (!left.empty()) {
        const ssize_t n = write(fd, left.data(), left.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 1;
        left.remove_prefix(std::size_t(n));
    }
    return 0;
}
