#include "ExtensionTable.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "ExtensionTableCache.h"
#include "FieldCoding.h"
#include "ImportClassLookup.h"
#include "SettingsReaderModule.h"

namespace polyvant::tools {
namespace {

constexpr std::string_view kMagic = "polyvant extension table 2\n";
// Far above any table: the settings file it comes from is at most 1 MiB.
constexpr std::size_t kMaxEncoded = std::size_t(16) << 20;

ExtensionTable BuiltIn(std::string notice)
{
    ExtensionTable table;
    SetDefaultExtensionTable(table.extensions, table.classes);
    table.notice = std::move(notice);
    return table;
}

} // namespace

std::string EncodeExtensionTable(const ExtensionTable& table)
{
    std::string out(kMagic);
    PutField(out, table.notice);
    PutField(out, table.source);
    const std::size_t count = std::min(table.extensions.size(), table.classes.size());
    PutField(out, std::to_string(count));
    for (std::size_t i = 0; i < count; ++i) {
        PutField(out, table.extensions[i]);
        PutField(out, table.classes[i]);
    }
    return out;
}

bool DecodeExtensionTable(std::string_view bytes, ExtensionTable& table)
{
    if (bytes.substr(0, kMagic.size()) != kMagic)
        return false;
    bytes.remove_prefix(kMagic.size());
    ExtensionTable decoded;
    std::string countText;
    std::size_t count = 0;
    if (!TakeField(bytes, decoded.notice) || !TakeField(bytes, decoded.source) ||
        !TakeField(bytes, countText))
        return false;
    const auto [end, error] =
        std::from_chars(countText.data(), countText.data() + countText.size(), count);
    // Each entry takes at least four bytes ("0:0:"), which bounds the count.
    if (error != std::errc() || end != countText.data() + countText.size() ||
        count > bytes.size() / 4)
        return false;
    decoded.extensions.resize(count);
    decoded.classes.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!TakeField(bytes, decoded.extensions[i]) || !TakeField(bytes, decoded.classes[i]))
            return false;
    }
    if (!bytes.empty())
        return false;
    table = std::move(decoded);
    return true;
}

ExtensionTableReader::~ExtensionTableReader()
{
    if (pid > 0)
        kill(pid, SIGKILL);
    End();
}

void ExtensionTableReader::Start(const std::string& modulePath)
{
    End();
    if (modulePath.empty() || access(modulePath.c_str(), R_OK) != 0)
        return;
    module = modulePath;
    if ((kept = CachedExtensionTable(modulePath)))
        return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        startError = errno;
        return;
    }
    std::fflush(nullptr); // or the child would print what is buffered here again
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto* write =
            module ? reinterpret_cast<int (*)(int)>(dlsym(module, kSettingsReaderEntry)) : nullptr;
        if (!write)
            _exit(3);
        // Qt's exit handlers are not the tool's to run: the child ends here.
        _exit(write(fds[1]) == 0 ? 0 : 1);
    }
    if (child < 0)
        startError = errno;
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return;
    }
    pid = child;
    fd = fds[0];
}

ExtensionTable ExtensionTableReader::Take()
{
    if (startError != 0) {
        const int error = std::exchange(startError, 0);
        return BuiltIn(std::string("cannot read the stored extension table (") +
                       std::strerror(error) + "); the built-in one is used");
    }
    if (kept)
        return *std::exchange(kept, std::nullopt);
    if (pid <= 0)
        return BuiltIn("");
    std::string bytes;
    char chunk[4096];
    while (bytes.size() <= kMaxEncoded) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(chunk, std::size_t(n));
    }
    if (bytes.size() > kMaxEncoded)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    End();
    ExtensionTable table;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && DecodeExtensionTable(bytes, table)) {
        KeepExtensionTable(module, table);
        return table;
    }
    const std::string why = WIFSIGNALED(status) ? "its reader was ended by a signal"
                            : WIFEXITED(status) && WEXITSTATUS(status) == 3
                                ? "the settings reader module does not load"
                                : "its reader failed";
    return BuiltIn("cannot read the stored extension table (" + why +
                   "); the built-in one is used");
}

void ExtensionTableReader::End()
{
    startError = 0;
    kept.reset();
    if (fd >= 0)
        close(fd);
    fd = -1;
    if (pid > 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid = -1;
}

} // namespace polyvant::tools
