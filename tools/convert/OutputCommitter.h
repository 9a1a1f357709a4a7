#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace polyvant::tools {

// Puts finished files in place: flushes each temporary file to the disk, then renames it
// over its output, on a thread of its own so that no worker waits for the disk. Files
// that finish while it flushes are flushed together next, which costs one wait on the
// disk for many small files instead of one each. A file is renamed only once its bytes
// are on the disk, so a crash never leaves a short or empty output in place of a good one.
class OutputCommitter {
public:
    struct Request {
        std::size_t id = 0;
        std::string temporary;
        std::string output;
        bool noClobber = false; // refuse an output that exists by now
    };
    struct Outcome {
        std::size_t id = 0;
        std::string error; // "" when the output is in place
    };

    OutputCommitter() = default;
    ~OutputCommitter();
    OutputCommitter(const OutputCommitter&) = delete;
    OutputCommitter& operator=(const OutputCommitter&) = delete;

    // The thread starts with the first request; false (nothing queued) when it cannot.
    bool Submit(Request request);
    // Readable while outcomes wait to be taken; -1 before the first request.
    int NotifyFd() const noexcept { return notifyRead; }
    // What a forked child should close.
    std::vector<int> Descriptors() const { return {notifyRead, notifyWrite}; }
    std::vector<Outcome> Take();
    // Requests submitted whose outcomes have not been taken.
    std::size_t Outstanding() const;
    // Puts every file submitted in place (or fails it), then ends the thread; later
    // requests are refused.
    void Stop();

    // Flushes and renames on the calling thread.
    static std::vector<Outcome> Commit(const std::vector<Request>& requests);

private:
    void Loop();

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Request> queue;
    std::vector<Outcome> outcomes;
    std::size_t outstanding = 0;
    bool stopping = false;
    std::thread thread;
    int notifyRead = -1;
    int notifyWrite = -1;
};

} // namespace polyvant::tools
