#include "common/AtomicFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <polyvant/PluginHost.h>

namespace polyvant::formats {

namespace {

// Large enough that a write call costs little beside copying its bytes; small enough to
// come from the heap, so that the many small files of a batch do not each map, fault in
// and unmap a megabyte (7% of the time of a batch of 250 KB files).
constexpr std::size_t kBufferSize = 64 << 10;
// Written data is handed to the disk in steps of this size while writing goes on, so that
// the fsync of Commit finds little left to wait for.
constexpr off_t kWritebackStep = off_t(8) << 20;

std::string ErrnoText(const char* what, int code)
{
    return std::string(what) + ": " + std::strerror(code);
}

bool WriteAll(int fd, const char* p, std::size_t n, int& code) noexcept
{
    while (n > 0) {
        const ssize_t done = ::write(fd, p, n);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            code = errno;
            return false;
        }
        p += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

} // namespace

struct AtomicFileWriter::State {
    int fd = -1;
    std::string target;
    std::string temporary;
    // Not zero-filled: a small file touches only the pages it writes.
    std::unique_ptr<char[]> buffer;
    std::size_t used = 0;
    int firstError = 0;

    off_t written = 0;    // bytes in the file
    off_t handedOver = 0; // bytes whose writeback has been started

    bool Flush() noexcept
    {
        if (firstError)
            return false;
        if (used && !Put(buffer.get(), used))
            return false;
        used = 0;
        return true;
    }

    bool Put(const char* p, std::size_t n) noexcept
    {
        if (!WriteAll(fd, p, n, firstError))
            return false;
        written += off_t(n);
        if (written - handedOver >= kWritebackStep) {
            // Only a start: it does not wait, and a file system without it loses nothing.
            (void)sync_file_range(fd, handedOver, written - handedOver, SYNC_FILE_RANGE_WRITE);
            handedOver = written;
        }
        return true;
    }
};

AtomicFileWriter::~AtomicFileWriter()
{
    Abandon();
}

bool AtomicFileWriter::Open(const char* targetPath, std::string& error)
{
    Abandon();
    if (!targetPath || !*targetPath) {
        error = "no file name given";
        return false;
    }
    auto s = new State;
    s->target = targetPath;
    struct stat st;
    mode_t mode = 0;
    if (stat(targetPath, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "is a directory";
            delete s;
            return false;
        }
        // Replacing a device or FIFO by a plain file would be a surprise: refuse.
        if (!S_ISREG(st.st_mode)) {
            error = "is not a regular file";
            delete s;
            return false;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    // The temporary file sits beside the target so that the final rename stays within
    // one file system and is atomic.
    const std::string path = s->target;
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.size() > 200) // keep ".name.XXXXXX" within the file system's name limit
        base.resize(200);
    s->temporary = dir + "." + base + ".XXXXXX";
    std::vector<char> name(s->temporary.begin(), s->temporary.end());
    name.push_back('\0');
    s->fd = mkostemp(name.data(), O_CLOEXEC);
    if (s->fd < 0) {
        error = ErrnoText("cannot create a file in the target folder", errno);
        delete s;
        return false;
    }
    s->temporary.assign(name.data());
    fchmod(s->fd, mode);
    s->buffer.reset(new char[kBufferSize]);
    state = s;
    return true;
}

bool AtomicFileWriter::Write(const void* bytes, std::size_t count) noexcept
{
    State* s = state;
    if (!s || s->firstError)
        return false;
    const char* p = static_cast<const char*>(bytes);
    if (s->used + count > kBufferSize && !s->Flush())
        return false;
    // A chunk of half the buffer or more, with nothing before it, goes out as it is:
    // copying it first would save no write call.
    if (s->used == 0 && count >= kBufferSize / 2)
        return s->Put(p, count);
    std::memcpy(s->buffer.get() + s->used, p, count);
    s->used += count;
    return true;
}

bool AtomicFileWriter::Commit(std::string& error)
{
    State* s = state;
    if (!s) {
        error = "nothing to write";
        return false;
    }
    bool ok = s->Flush();
    // A host that flushes the file itself before putting it in place does it for many
    // files at once, and the exporter does not wait for the disk.
    if (ok && !HostLink::HostFlushesExports() && fsync(s->fd) != 0 && errno != EINVAL)
        s->firstError = errno, ok = false;
    if (::close(s->fd) != 0 && ok)
        s->firstError = errno, ok = false;
    s->fd = -1;
    if (ok && std::rename(s->temporary.c_str(), s->target.c_str()) != 0)
        s->firstError = errno, ok = false;
    if (!ok) {
        error = ErrnoText("cannot write", s->firstError);
        Abandon();
        return false;
    }
    delete s;
    state = nullptr;
    return true;
}

void AtomicFileWriter::Abandon() noexcept
{
    State* s = state;
    if (!s)
        return;
    if (s->fd >= 0)
        ::close(s->fd);
    if (!s->temporary.empty())
        ::unlink(s->temporary.c_str());
    delete s;
    state = nullptr;
}

} // namespace polyvant::formats
