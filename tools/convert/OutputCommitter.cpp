#include "OutputCommitter.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace polyvant::tools {

OutputCommitter::~OutputCommitter()
{
    Stop();
    for (int fd : {notifyRead, notifyWrite}) {
        if (fd >= 0)
            close(fd);
    }
}

bool OutputCommitter::Submit(Request request)
{
    std::lock_guard lock(mutex);
    if (stopping)
        return false;
    if (!thread.joinable()) {
        int fds[2];
        if (notifyRead < 0) {
            if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
                return false;
            notifyRead = fds[0];
            notifyWrite = fds[1];
        }
        // Signals are the batch's to take, in its own thread.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &old);
        try {
            thread = std::thread([this] { Loop(); });
        } catch (const std::system_error&) {
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        if (!thread.joinable())
            return false;
    }
    queue.push_back(std::move(request));
    ++outstanding;
    wake.notify_one();
    return true;
}

std::vector<OutputCommitter::Outcome> OutputCommitter::Take()
{
    {
        // Cheap when nothing is done; a wake-up left in the pipe only makes a poll return
        // early once.
        std::lock_guard lock(mutex);
        if (outcomes.empty())
            return {};
    }
    char drain[64];
    while (notifyRead >= 0 && read(notifyRead, drain, sizeof drain) > 0) {
    }
    std::lock_guard lock(mutex);
    std::vector<Outcome> taken;
    taken.swap(outcomes);
    outstanding -= taken.size();
    return taken;
}

std::size_t OutputCommitter::Outstanding() const
{
    std::lock_guard lock(mutex);
    return outstanding;
}

void OutputCommitter::Stop()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    if (thread.joinable())
        thread.join();
}

void OutputCommitter::Loop()
{
    for (;;) {
        std::vector<Request> group;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return stopping || !queue.empty(); });
            if (queue.empty())
                return;
            group.assign(std::make_move_iterator(queue.begin()),
                         std::make_move_iterator(queue.end()));
            queue.clear();
        }
        std::vector<Outcome> done = Commit(group);
        {
            std::lock_guard lock(mutex);
            outcomes.insert(outcomes.end(), done.begin(), done.end());
        }
        const char byte = 1;
        (void)!write(notifyWrite, &byte, 1); // a full pipe has a wake-up in it already
    }
}

std::vector<OutputCommitter::Outcome> OutputCommitter::Commit(const std::vector<Request>& requests)
{
    std::vector<Outcome> done(requests.size());
    std::vector<int> fds(requests.size(), -1);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        done[i].id = requests[i].id;
        fds[i] = open(requests[i].temporary.c_str(), O_RDONLY | O_CLOEXEC);
        if (fds[i] < 0) {
            const int error = errno;
            done[i].error = std::string("cannot open the written file: ") + std::strerror(error);
        }
    }
    // Every file's writeback is under way before the first wait, so the disk takes
    // them in one go.
    if (requests.size() > 1) {
        for (int fd : fds) {
            if (fd >= 0)
                (void)sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        }
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (fds[i] < 0)
            continue;
        // EINVAL: a file system that has nothing to flush (a pipe, some FUSE mounts).
        if (fsync(fds[i]) != 0 && errno != EINVAL) {
            const int error = errno;
            done[i].error = std::string("cannot write: ") + std::strerror(error);
        }
        close(fds[i]);
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (!done[i].error.empty())
            continue;
        const Request& r = requests[i];
        // Atomically refuses an output that appeared meanwhile.
        const int renamed = r.noClobber ? renameat2(AT_FDCWD, r.temporary.c_str(), AT_FDCWD,
                                                    r.output.c_str(), RENAME_NOREPLACE)
                                        : rename(r.temporary.c_str(), r.output.c_str());
        const int error = errno;
        if (renamed != 0)
            done[i].error =
                r.noClobber && error == EEXIST
                    ? "the output exists (kept: --no-clobber)"
                    : std::string("cannot rename to the output: ") + std::strerror(error);
    }
    return done;
}

} // namespace polyvant::tools
