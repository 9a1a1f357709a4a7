#include "ExtensionTableCache.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "FieldCoding.h"

namespace polyvant::tools {
namespace {

constexpr std::string_view kMagic = "polyvant extension table cache 1\n";
// A kept table is a few hundred bytes; anything far larger is not one.
constexpr off_t kMaxCacheFile = off_t(1) << 20;

std::string Describe(const struct stat& s)
{
    return std::to_string(s.st_dev) + ' ' + std::to_string(s.st_ino) + ' ' +
           std::to_string(s.st_mode) + ' ' + std::to_string(s.st_size) + ' ' +
           std::to_string(s.st_mtim.tv_sec) + '.' + std::to_string(s.st_mtim.tv_nsec) + ' ' +
           std::to_string(s.st_ctim.tv_sec) + '.' + std::to_string(s.st_ctim.tv_nsec);
}

double Seconds(const timespec& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Changed long enough ago that any later change gets other times, or changed "in the
// future" by a skewed clock.
bool Settled(const struct stat& s, double now, double settleSeconds)
{
    return Seconds(s.st_mtim) <= now - settleSeconds && Seconds(s.st_ctim) <= now - settleSeconds;
}

// What decides the table besides the settings file: the module, the variables the settings
// path is made of, and the user.
std::string CacheKey(const std::string& modulePath)
{
    struct stat module {};
    if (stat(modulePath.c_str(), &module) != 0)
        return std::string();
    std::string key;
    PutField(key, modulePath);
    key += Describe(module);
    for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
        key += '\n';
        key += name;
        if (const char* value = std::getenv(name))
            PutField(key, value);
        else
            key += " unset";
    }
    key += "\nuid " + std::to_string(geteuid());
    return key;
}

// A folder of the cache that is this user's, made if missing, but only inside a folder of
// this user's: a program run as root with another user's HOME must leave no folder of
// root's in that home. The cache folder itself may be a link; the program's own folder
// in it may not.
bool OwnFolder(const std::string& path, bool followLink)
{
    struct stat s {};
    const auto ours = [&s] { return S_ISDIR(s.st_mode) && s.st_uid == geteuid(); };
    if ((followLink ? stat(path.c_str(), &s) : lstat(path.c_str(), &s)) == 0)
        return ours();
    const std::size_t slash = path.rfind('/');
    if (errno != ENOENT || slash == std::string::npos ||
        stat(path.substr(0, std::max<std::size_t>(slash, 1)).c_str(), &s) != 0 || !ours())
        return false;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return lstat(path.c_str(), &s) == 0 && ours();
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

std::string CacheBase()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::string base = xdg && xdg[0] == '/'     ? std::string(xdg)
                       : home && home[0] == '/' ? std::string(home) + "/.cache"
                                                : std::string();
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base;
}

} // namespace

std::string SettingsFileStamp(const std::string& path, double settleSeconds)
{
    if (path.empty() || path[0] != '/')
        return std::string();
    std::string stamp;
    PutField(stamp, path);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0)
        return errno == ENOENT || errno == ENOTDIR ? stamp + "absent" : std::string();
    if (!Settled(link, Seconds(now), settleSeconds))
        return std::string();
    stamp += "l " + Describe(link);
    if (S_ISLNK(link.st_mode)) {
        struct stat target {};
        if (stat(path.c_str(), &target) != 0 || !Settled(target, Seconds(now), settleSeconds))
            return std::string();
        stamp += "\nt " + Describe(target);
    }
    return stamp;
}

std::string ExtensionTableCachePath()
{
    const std::string base = CacheBase();
    return base.empty() ? base : base + "/polyvant/extension-table";
}

std::optional<ExtensionTable> CachedExtensionTable(const std::string& modulePath)
{
    const std::string path = ExtensionTableCachePath();
    if (path.empty())
        return std::nullopt;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    struct stat s {};
    std::string bytes;
    if (fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && s.st_uid == geteuid() &&
        s.st_size <= kMaxCacheFile) {
        bytes.resize(std::size_t(s.st_size) + 1); // one more: a file grown meanwhile shows
        std::size_t got = 0;
        for (;;) {
            const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += std::size_t(n);
            if (got == bytes.size())
                break;
        }
        bytes.resize(got <= std::size_t(s.st_size) ? got : 0);
    }
    close(fd);

    std::string_view rest = bytes;
    std::string key;
    ExtensionTable table;
    if (rest.substr(0, kMagic.size()) != kMagic)
        return std::nullopt;
    rest.remove_prefix(kMagic.size());
    if (!TakeField(rest, key) || !DecodeExtensionTable(rest, table) || table.source.empty() ||
        key != CacheKey(modulePath))
        return std::nullopt;
    std::string_view source = table.source;
    std::string settingsPath;
    if (!TakeField(source, settingsPath) || SettingsFileStamp(settingsPath) != table.source)
        return std::nullopt;
    return table;
}

void KeepExtensionTable(const std::string& modulePath, const ExtensionTable& table)
{
    const std::string base = CacheBase();
    const std::string key = table.source.empty() ? std::string() : CacheKey(modulePath);
    if (base.empty() || key.empty() || !OwnFolder(base, true) ||
        !OwnFolder(base + "/polyvant", false))
        return;
    std::string bytes(kMagic);
    PutField(bytes, key);
    bytes += EncodeExtensionTable(table);
    // Written aside and renamed, so that a tool reading it at the same time, or one that
    // two tools write at once, sees one whole table.
    std::string temporary = base + "/polyvant/.extension-table-XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return;
    const bool written = WriteAll(fd, bytes);
    if (close(fd) != 0 || !written ||
        rename(temporary.c_str(), ExtensionTableCachePath().c_str()) != 0)
        unlink(temporary.c_str());
}

} // namespace polyvant::tools
