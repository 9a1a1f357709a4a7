#include "Batch.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>

#include "OutputCommitter.h"
#include "SlotAffinity.h"
#include "Worker.h"
#include "WorkerLauncher.h"
#include "tools/common/ToolSupport.h"

namespace polyvant::tools {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// How long a worker killed for its time limit may take to be reported as ended.
constexpr double kEndGrace = 5;

void OnInterrupt(int)
{
    g_interrupted = 1;
}

struct Running {
    std::size_t plan = 0;
    pid_t pid = -1;  // 0: started by a launcher that has not yet said its number
    int slot = -1;   // the launcher that runs it, or -1: forked by the batch itself
    int fd = -1;     // read end of its own report pipe, until it closes
    int exitFd = -1; // readable once the worker has ended (a pidfd), when the system has it
    std::string absoluteInput; // as the worker names it
    std::string temporary;
    std::string buffer;
    double started = 0;
    double deadline = 0; // 0: none
    bool timedOut = false;
    double fraction = 0;
    bool haveResult = false;
    bool committing = false; // its output is being put in place
    bool ended = false;      // its launcher has reported its end
    int endStatus = 0;
    bool queued = false;  // sent to its slot's launcher, waiting behind the slot's file
    bool taken = false;   // queued, and taken by the launcher: no longer withdrawn
    bool heard = false;   // its launcher has started it, or a line of its own has come
    bool dropped = false; // its launcher went before starting it: to be started again
    bool ok = false;
    std::string reason;
    std::string faces, vertices;
    std::vector<std::pair<std::string, std::string>> messages; // severity, text
};

// Sends sig to the worker through its pidfd when there is one, which cannot reach another
// process that took over the number; a worker it no longer reaches has ended. Without a
// pidfd the number is safe: the batch forked the worker and has not reaped it, or its
// launcher keeps it unreaped until the batch has read its end.
void SignalWorker(const Running& worker, int sig)
{
    if (worker.exitFd >= 0)
        syscall(SYS_pidfd_send_signal, worker.exitFd, sig, nullptr, 0);
    else if (worker.pid > 0)
        kill(worker.pid, sig);
}

// Terminal columns of UTF-8 text, taking each character as one column.
std::size_t Columns(const std::string& text)
{
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// At most `columns` columns of text, cut between characters; a cut name ends in "~".
std::string Shorten(const std::string& text, std::size_t columns)
{
    if (columns == std::string::npos || Columns(text) <= columns)
        return text;
    std::string out;
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && ++used > columns - 1)
            break;
        out += text[i];
    }
    return out + "~";
}

// A worker that was ended leaves its temporary file, and the writer inside the plug-in
// may leave its own beside it: "." + the temporary's name (up to 200 bytes) + ".XXXXXX".
void RemoveTemporary(const std::string& temporary)
{
    ::unlink(temporary.c_str());
    const std::filesystem::path path(temporary);
    const std::string inner = "." + path.filename().string().substr(0, 200) + ".";
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == inner.size() + 6 && name.compare(0, inner.size(), inner) == 0)
            std::filesystem::remove(entry.path(), ec);
    }
}

// Waits up to `seconds` for the worker's pidfd to say that it has ended.
void AwaitEnd(int pidfd, double seconds)
{
    if (pidfd < 0)
        return;
    pollfd end{pidfd, POLLIN, 0};
    while (poll(&end, 1, int(seconds * 1000)) < 0 && errno == EINTR) {
    }
}

std::string NormalPath(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::absolute(path, ec).lexically_normal().string();
}

// Where the next file goes: a worker of the batch's own, a slot's launcher with nothing
// to do, or a slot's launcher as the next file after the one it converts.
enum class Place { None, Direct, Slot, Behind };
struct Placement {
    Place place = Place::None;
    int slot = -1;
};

class Batch {
public:
    Batch(const BatchSettings& settings, std::vector<FilePlan>& plans)
        : settings(settings), plans(plans), showProgress(!settings.quiet && isatty(STDERR_FILENO))
    {
        // Files refused anyway (a material library among the models, say) claim no output.
        for (std::size_t i = 0; i < plans.size(); ++i) {
            if (plans[i].refusal.empty())
                firstWithOutput.try_emplace(NormalPath(plans[i].output), i);
        }
    }

    int Run();

private:
    void Refuse(const FilePlan& plan, const std::string& reason);
    std::string PreCheck(std::size_t index);
    bool RepeatsAnEarlierFile(std::size_t index);
    Placement FindPlace() const;
    void Dispatch();
    bool MoveQueued(int slot);
    bool Start(std::size_t index, Placement place);
    bool StartInSlot(const WorkerJob& job, int slot, int reportFd, int readFd);
    std::vector<int> OpenDescriptors() const;
    void Collect(Running& worker, std::size_t limit = SIZE_MAX);
    void CollectLast(Running& worker);
    void CollectSlot(int slot);
    void EndWorker(Running& worker, int status);
    Running* Front(int slot);
    void Promote(int slot);
    void LoseSlot(int slot, int status);
    void Finish(Running& worker, int status);
    // A file at its end: converted when reason is empty.
    struct Done {
        std::size_t plan = 0;
        std::string reason;
        std::string faces, vertices;
        double seconds = 0;
        std::string temporary;
        std::vector<std::pair<std::string, std::string>> messages; // severity, text
    };
    void AwaitCommit(Done done);
    void TakeCommitted();
    void Conclude(const Done& done);
    void Conclude(Done done, const std::string& commitError);
    void Parse(Running& worker, const std::string& line);
    void DrawProgress(bool force);
    void ClearProgress();
    void StopAll();
    void Abandon(const Running& worker);

    const BatchSettings& settings;
    std::vector<FilePlan>& plans;
    std::vector<Running> running;
    // With more than one job, each slot's workers are forked by a launcher of its own.
    std::vector<std::unique_ptr<WorkerLauncher>> launchers;
    std::vector<int> slotCores;           // the core of each slot's launcher; empty: none bound
    std::vector<std::string> slotBuffers; // a launcher's lines, not yet complete
    std::size_t next = 0;                 // the next file to start
    std::deque<std::size_t> again;        // files to start again: their launcher went first
    std::unordered_map<std::size_t, int> restarts;
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t repeated = 0;
    bool showProgress;
    bool progressShown = false;
    double lastDraw = 0;
    // Normalised output path -> the first file writing it; the later ones are refused.
    std::unordered_map<std::string, std::size_t> firstWithOutput;
    // What a file that converted reports once its output is in place, by plan.
    std::unordered_map<std::size_t, Done> committing;
    // Outputs put in place (or not: the reason) before their worker had ended, by plan.
    std::unordered_map<std::size_t, std::string> committedEarly;
    OutputCommitter committer;
};

void Batch::ClearProgress()
{
    if (progressShown) {
        std::fputs("\r\033[K", stderr);
        progressShown = false;
    }
}

void Batch::DrawProgress(bool force)
{
    if (!showProgress)
        return;
    const double now = MonotonicSeconds();
    if (!force && now - lastDraw < 0.1)
        return;
    lastDraw = now;
    std::string line =
        "[" + std::to_string(converted + failed) + "/" + std::to_string(plans.size()) + "]";
    if (failed)
        line += " " + std::to_string(failed) + " failed";
    winsize size{};
    const std::size_t width =
        ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10 ? size.ws_col - 1 : 79;
    // Names give way first, so the percentages stay in sight on a narrow terminal.
    std::vector<std::string> names;
    std::size_t fixed = Columns(line);
    std::vector<const Running*> shown;
    for (const Running& worker : running) {
        if (worker.queued || worker.dropped)
            continue;
        shown.push_back(&worker);
        names.push_back(std::filesystem::path(plans[worker.plan].input).filename().string());
        fixed += 3 + 5; // " | " and " 100%"
    }
    std::size_t nameColumns = 0;
    for (const std::string& name : names)
        nameColumns += Columns(name);
    const std::size_t each =
        names.empty() || fixed + nameColumns <= width
            ? std::string::npos
            : std::max<std::size_t>(4, (width > fixed ? width - fixed : 0) / names.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        char percent[16];
        std::snprintf(percent, sizeof percent, " %3d%%", int(shown[i]->fraction * 100 + 0.5));
        line += " | " + Shorten(names[i], each) + percent;
    }
    line = Shorten(line, width);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    progressShown = true;
}

void Batch::Refuse(const FilePlan& plan, const std::string& reason)
{
    ++failed;
    ClearProgress();
    std::fprintf(stderr, "polyvant-convert: %s: %s\n", plan.input.c_str(), reason.c_str());
}

// The same input with the same output given again (a shell pattern and a name, say):
// converted once, and the repetition is neither converted nor failed.
bool Batch::RepeatsAnEarlierFile(std::size_t index)
{
    const FilePlan& plan = plans[index];
    const auto first = firstWithOutput.find(NormalPath(plan.output));
    if (!plan.refusal.empty() || first == firstWithOutput.end() || first->second == index ||
        NormalPath(plans[first->second].input) != NormalPath(plan.input))
        return false;
    ++repeated;
    if (!settings.quiet) {
        ClearProgress();
        std::fprintf(stderr, "polyvant-convert: %s: given more than once; converted once\n",
                     plan.input.c_str());
    }
    return true;
}

// Why the file cannot be converted before a worker is started, or "".
std::string Batch::PreCheck(std::size_t index)
{
    const FilePlan& plan = plans[index];
    if (!plan.refusal.empty())
        return plan.refusal;
    struct stat st {};
    if (::stat(plan.input.c_str(), &st) != 0)
        return std::string("cannot read: ") + std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    const std::size_t first = firstWithOutput.at(NormalPath(plan.output));
    if (first != index)
        return "its output " + plan.output + " is the output of " + plans[first].input +
               " as well; not converted";
    struct stat out {};
    if (::lstat(plan.output.c_str(), &out) == 0) {
        if (settings.noClobber)
            return "the output " + plan.output + " exists (kept: --no-clobber)";
        struct stat target {};
        if (S_ISLNK(out.st_mode) && ::stat(plan.output.c_str(), &target) == 0) {
            // Replace what the link points at, not the link.
            std::error_code ec;
            const auto resolved = std::filesystem::canonical(plan.output, ec);
            if (!ec)
                plans[index].output = resolved.string();
            out = target;
        }
        if (out.st_dev == st.st_dev && out.st_ino == st.st_ino)
            return "the output " + plan.output + " is the input itself; not converted";
        if (!S_ISREG(out.st_mode) && !S_ISLNK(out.st_mode))
            return "the output " + plan.output + " exists and is not a regular file; not replaced";
    }
    return "";
}

// With launchers, a slot's next file is sent while its current one converts, so that it
// starts the moment the slot is free: the batch's own process, woken on a busy core, may
// wait a millisecond to run, which a batch of small files would otherwise spend idle.
Placement Batch::FindPlace() const
{
    const auto live = [](const Running& worker) { return !worker.ended && !worker.dropped; };
    const std::size_t active =
        std::size_t(std::count_if(running.begin(), running.end(), [&](const Running& worker) {
            return live(worker) && !worker.queued;
        }));
    if (launchers.empty())
        return {active < std::max(1u, settings.jobs) ? Place::Direct : Place::None, -1};
    Placement behind;
    double earliest = 0;
    for (std::size_t slot = 0; slot < launchers.size(); ++slot) {
        const Running* only = nullptr;
        int count = 0;
        for (const Running& worker : running) {
            if (worker.slot == int(slot) && live(worker)) {
                only = &worker;
                ++count;
            }
        }
        if (count == 0 && active < settings.jobs)
            return {Place::Slot, int(slot)};
        // Only once the launcher has started it, and the batch holds its pidfd: the
        // launcher reaps a worker when it takes the next request.
        if (count == 1 && !only->queued && only->pid > 0 && only->exitFd >= 0 && !only->timedOut &&
            launchers[slot]->Running() && (behind.slot < 0 || only->started < earliest)) {
            behind = {Place::Behind, int(slot)};
            earliest = only->started;
        }
    }
    return behind;
}

// Starts files while there is room: files whose launcher went first, then new ones, and
// at the end of the list a file waiting behind another moves to a slot with nothing to do.
void Batch::Dispatch()
{
    for (;;) {
        const Placement place = FindPlace();
        if (place.place == Place::None)
            return;
        std::size_t index = 0;
        if (!again.empty()) {
            index = again.front();
            again.pop_front();
        } else if (next < plans.size()) {
            index = next++;
            if (RepeatsAnEarlierFile(index))
                continue;
            if (const std::string refusal = PreCheck(index); !refusal.empty()) {
                Refuse(plans[index], refusal);
                continue;
            }
        } else {
            if (place.place == Place::Slot && MoveQueued(place.slot))
                continue;
            return;
        }
        Start(index, place);
    }
}

bool Batch::MoveQueued(int slot)
{
    for (auto it = running.begin(); it != running.end(); ++it) {
        // One that has said it started is its launcher's already.
        if (!it->queued || it->taken || it->heard || it->dropped)
            continue;
        if (!launchers[std::size_t(it->slot)]->Withdraw()) {
            it->taken = true; // its launcher has it, and starts it next
            continue;
        }
        const std::size_t index = it->plan;
        close(it->fd);
        running.erase(it);
        Start(index, {Place::Slot, slot});
        return true;
    }
    return false;
}

bool Batch::Start(std::size_t index, Placement place)
{
    const FilePlan& plan = plans[index];
    const std::filesystem::path output(plan.output);
    Running worker;
    worker.plan = index;
    // Beside the output, so the final rename stays within one file system; hidden,
    // and with the output's extension, which some writers look at.
    worker.temporary = (output.parent_path() /
                        ("." + output.stem().string() + ".pvtmp-" + std::to_string(getpid()) + "-" +
                         std::to_string(index) + output.extension().string()))
                           .string();
    WorkerJob job;
    job.pluginDir = settings.pluginDir;
    job.plugins = settings.plugins;
    job.importClass = plan.importClass;
    job.exportClass = plan.exportClass;
    job.verifyClass = settings.verify ? plan.verifyClass : -1;
    std::error_code ec;
    job.input = std::filesystem::absolute(plan.input, ec).string();
    worker.absoluteInput = job.input;
    job.temporary = worker.temporary;
    job.output = plan.output;
    job.memoryLimitMiB = settings.memoryLimitMiB;
    job.options = settings.options;
    job.reportProgress = showProgress;

    // Each file reports through a pipe of its own.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        Refuse(plan, std::string("cannot start a worker: ") + std::strerror(errno));
        return false;
    }
    // Above the standard descriptors and kReportFd, so the dup2 in the child always
    // makes a fresh descriptor without close-on-exec.
    const int writeFd = fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
    close(fds[1]);
    worker.fd = fds[0];
    fcntl(worker.fd, F_SETFL, fcntl(worker.fd, F_GETFL) | O_NONBLOCK);
    worker.started = MonotonicSeconds();
    if (settings.timeLimitSeconds > 0)
        worker.deadline = worker.started + double(settings.timeLimitSeconds);
    if (writeFd >= 0 && place.place != Place::Direct) {
        const bool sent = place.place == Place::Behind
                              ? launchers[std::size_t(place.slot)]->Launch(job, writeFd)
                              : StartInSlot(job, place.slot, writeFd, worker.fd);
        const int error = errno;
        if (sent || place.place == Place::Behind) {
            close(writeFd);
            if (!sent) {
                close(worker.fd);
                Refuse(plan, std::string("cannot start a worker: ") + std::strerror(error));
                return false;
            }
            worker.slot = place.slot;
            worker.pid = 0;
            // Its clock starts when it becomes the slot's file.
            worker.queued = place.place == Place::Behind;
            if (worker.queued)
                worker.deadline = 0;
            running.push_back(std::move(worker));
            return true;
        }
    }

    // The worker is a fork of this process rather than a fresh program: the libraries
    // and plug-ins are loaded already, and the parent does not wait for an exec.
    std::fflush(nullptr); // or the child would print what is buffered here again
    const pid_t parent = getpid();
    const pid_t pid = writeFd < 0 ? -1 : fork();
    const int error = pid < 0 ? (writeFd < 0 ? EMFILE : errno) : 0;
    if (pid == 0) {
        std::vector<int> close = OpenDescriptors();
        close.push_back(fds[0]);
        RunForkedWorker(job, parent, writeFd, close);
    }
    if (writeFd >= 0)
        close(writeFd);
    if (error != 0) {
        close(worker.fd);
        RemoveTemporary(worker.temporary);
        Refuse(plan, std::string("cannot start a worker: ") + std::strerror(error));
        return false;
    }
    worker.pid = pid;
    worker.exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    running.push_back(std::move(worker));
    return true;
}

// The batch's descriptors that a forked launcher or worker must not keep: a pipe end
// held there would keep the batch from seeing another process end.
std::vector<int> Batch::OpenDescriptors() const
{
    std::vector<int> open;
    for (const Running& other : running) {
        open.push_back(other.fd);
        open.push_back(other.exitFd);
    }
    for (const auto& launcher : launchers) {
        open.push_back(launcher->ReportFd());
        open.push_back(launcher->RequestFd());
        open.push_back(launcher->QueueFd());
    }
    for (int fd : committer.Descriptors())
        open.push_back(fd);
    return open;
}

// Hands the file to the idle slot's launcher, starting the launcher first when needed;
// false when it cannot take it, and the batch forks the worker itself.
bool Batch::StartInSlot(const WorkerJob& job, int slot, int reportFd, int readFd)
{
    WorkerLauncher& launcher = *launchers[std::size_t(slot)];
    // A launcher that went away is started again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!launcher.Alive()) {
            slotBuffers[std::size_t(slot)].clear();
            // Nor the pipe of the file it is started for, which is no worker's but its own.
            std::vector<int> close = OpenDescriptors();
            close.push_back(reportFd);
            close.push_back(readFd);
            const int core = slotCores.empty() ? -1 : slotCores[std::size_t(slot)];
            if (!launcher.Start(job, close, core))
                return false;
        }
        if (launcher.Launch(job, reportFd))
            return true;
        launcher.Stop();
    }
    return false;
}

// The slot's file: the first of its files that has not ended.
Running* Batch::Front(int slot)
{
    for (Running& worker : running) {
        if (worker.slot == slot && !worker.ended && !worker.dropped)
            return &worker;
    }
    return nullptr;
}

// The file waiting behind the one that ended becomes the slot's file.
void Batch::Promote(int slot)
{
    Running* front = Front(slot);
    if (front == nullptr || !front->queued)
        return;
    front->queued = false;
    front->started = MonotonicSeconds();
    if (settings.timeLimitSeconds > 0)
        front->deadline = front->started + double(settings.timeLimitSeconds);
}

// The slot's launcher has gone: the file it converted ends with what ended the launcher,
// unless it had not started yet; such files are started again, once.
void Batch::LoseSlot(int slot, int status)
{
    for (Running& worker : running) {
        if (worker.slot != slot || worker.ended || worker.dropped)
            continue;
        // What it said before the launcher went tells whether it had started.
        CollectLast(worker);
        if (!worker.heard && !worker.timedOut && restarts[worker.plan]++ == 0) {
            worker.dropped = true;
            again.push_back(worker.plan);
            continue;
        }
        worker.ended = true;
        worker.endStatus = status;
    }
    slotBuffers[std::size_t(slot)].clear();
}

void Batch::Parse(Running& worker, const std::string& line)
{
    const std::size_t tab1 = line.find('\t');
    const std::string kind = line.substr(0, tab1);
    const std::string rest = tab1 == std::string::npos ? "" : line.substr(tab1 + 1);
    const std::size_t tab2 = rest.find('\t');
    const std::string first = rest.substr(0, tab2);
    std::string second = tab2 == std::string::npos ? "" : rest.substr(tab2 + 1);
    if (kind == "progress") {
        worker.fraction = std::clamp(std::atof(first.c_str()), 0.0, 1.0);
    } else if (kind == "message") {
        worker.messages.emplace_back(first, second);
    } else if (kind == "result" && !worker.haveResult) { // a worker sends one
        worker.haveResult = true;
        worker.ok = first == "ok";
        if (worker.ok) {
            const std::size_t tab = second.find_first_of(" \t");
            worker.faces = second.substr(0, tab);
            worker.vertices = tab == std::string::npos ? "" : second.substr(tab + 1);
            // The file is complete and closed: it goes to the disk while the worker
            // releases its memory and ends.
            worker.committing = committer.Submit(
                {worker.plan, worker.temporary, plans[worker.plan].output, settings.noClobber});
        } else {
            worker.reason = second;
        }
    }
}

// Reads what the worker has reported, at most limit bytes; its pipe is closed once
// nothing more can come.
void Batch::Collect(Running& worker, std::size_t limit)
{
    char chunk[4096];
    while (worker.fd >= 0 && limit > 0) {
        const ssize_t n = read(worker.fd, chunk, std::min(sizeof chunk, limit));
        if (n > 0) {
            limit -= std::size_t(n);
            worker.buffer.append(chunk, std::size_t(n));
            std::size_t end;
            while ((end = worker.buffer.find('\n')) != std::string::npos) {
                worker.heard = true;
                Parse(worker, worker.buffer.substr(0, end));
                worker.buffer.erase(0, end + 1);
            }
            // A worker that floods the pipe without line breaks is cut short.
            if (worker.buffer.size() > (1u << 20))
                worker.buffer.clear();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN) {
            close(worker.fd);
            worker.fd = -1;
        }
        return;
    }
}

// Once the worker has ended, what it wrote is in its pipe; anything later comes from a
// process it left behind and does not count, and one that keeps writing cannot keep the
// batch reading.
void Batch::CollectLast(Running& worker)
{
    int waiting = 0;
    if (worker.fd >= 0 && ioctl(worker.fd, FIONREAD, &waiting) == 0 && waiting > 0)
        Collect(worker, std::size_t(waiting));
    if (worker.fd >= 0)
        close(worker.fd);
    worker.fd = -1;
}

// A launcher reports each worker's end.
void Batch::EndWorker(Running& worker, int status)
{
    CollectLast(worker);
    worker.ended = true;
    worker.endStatus = status;
}

void Batch::CollectSlot(int slot)
{
    WorkerLauncher& launcher = *launchers[std::size_t(slot)];
    std::string& buffer = slotBuffers[std::size_t(slot)];
    char chunk[256];
    while (launcher.ReportFd() >= 0) {
        const ssize_t n = read(launcher.ReportFd(), chunk, sizeof chunk);
        if (n > 0) {
            buffer.append(chunk, std::size_t(n));
            std::size_t end;
            while ((end = buffer.find('\n')) != std::string::npos) {
                const std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                Running* front = Front(slot);
                if (front == nullptr)
                    continue;
                if (line.rfind("ended\t", 0) == 0) {
                    EndWorker(*front, std::atoi(line.c_str() + 6));
                    Promote(slot);
                } else if (line.rfind("started\t", 0) == 0 && front->pid == 0) {
                    front->heard = true;
                    front->pid = std::atoi(line.c_str() + 8);
                    // The launcher keeps the worker unreaped until the batch sends the
                    // next request, which it does only after this, so the number is
                    // still the worker's.
                    if (front->pid > 0)
                        front->exitFd = static_cast<int>(syscall(SYS_pidfd_open, front->pid, 0));
                }
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // The launcher itself has gone: unless the worker's end was reported, what ended
        // the launcher ended the file too.
        if (n == 0 || errno != EAGAIN)
            LoseSlot(slot, launcher.Stop());
        return;
    }
}

void Batch::Finish(Running& worker, int status)
{
    if (worker.exitFd >= 0)
        close(worker.exitFd);
    const FilePlan& plan = plans[worker.plan];
    const bool exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::string reason;
    if (worker.haveResult && worker.ok) {
        // The output was complete when the worker said so.
        if (!exitedCleanly)
            worker.messages.emplace_back(
                "warning", worker.timedOut ? "the time limit ended the worker after it had finished"
                           : WIFSIGNALED(status)
                               ? "the worker was ended by " + SignalDescription(WTERMSIG(status)) +
                                     " after it had finished"
                               : "the worker ended with exit status " +
                                     std::to_string(WEXITSTATUS(status)) +
                                     " after it had finished");
    } else if (worker.timedOut)
        reason = "ended by the time limit of " + std::to_string(settings.timeLimitSeconds) +
                 " s (--time-limit)";
    else if (WIFSIGNALED(status))
        reason = "the conversion was ended by " + SignalDescription(WTERMSIG(status)) +
                 (WTERMSIG(status) == SIGKILL ? ", perhaps for lack of memory" : "");
    else if (worker.haveResult && !worker.ok)
        reason = worker.reason;
    else if (!worker.haveResult || !exitedCleanly)
        reason = "the conversion ended with exit status " +
                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + " without a result";
    if ((reason == "out of memory" || reason.rfind("ended early: out of memory", 0) == 0 ||
         reason.find(std::strerror(ENOMEM)) != std::string::npos) &&
        settings.memoryLimitMiB)
        reason += " (limit " + std::to_string(settings.memoryLimitMiB) + " MiB, --memory-limit)";
    // Plug-ins name the file as the worker gave it: the absolute input, the temporary
    // output. The user knows them by the names on the command line.
    const auto tidy = [&](std::string text) {
        if (text.rfind(worker.absoluteInput + ": ", 0) == 0)
            text.erase(0, worker.absoluteInput.size() + 2);
        for (std::size_t at = 0; (at = text.find(worker.temporary, at)) != std::string::npos;
             at += plan.output.size())
            text.replace(at, worker.temporary.size(), plan.output);
        return text;
    };
    reason = tidy(reason);
    for (auto& message : worker.messages)
        message.second = tidy(message.second);
    Done done{worker.plan,
              reason,
              worker.faces,
              worker.vertices,
              MonotonicSeconds() - worker.started,
              worker.temporary,
              std::move(worker.messages)};
    if (!reason.empty()) {
        // A worker that failed or was ended may leave temporary files; the output is
        // untouched.
        RemoveTemporary(worker.temporary);
        Conclude(done);
        return;
    }
    if (worker.committing) {
        AwaitCommit(std::move(done));
        return;
    }
    // No thread for it: the file is put in place here and now.
    OutputCommitter::Request request{worker.plan, worker.temporary, plan.output,
                                     settings.noClobber};
    Conclude(std::move(done), OutputCommitter::Commit({request}).front().error);
}

// A converted file whose output the committer has: concluded when that is done.
void Batch::AwaitCommit(Done done)
{
    const auto early = committedEarly.find(done.plan);
    if (early == committedEarly.end()) {
        committing.emplace(done.plan, std::move(done));
        return;
    }
    const std::string error = early->second;
    committedEarly.erase(early);
    Conclude(std::move(done), error);
}

// Files whose outputs are in place now, or could not be put there.
void Batch::TakeCommitted()
{
    for (const OutputCommitter::Outcome& outcome : committer.Take()) {
        const auto it = committing.find(outcome.id);
        if (it == committing.end()) {
            committedEarly[outcome.id] = outcome.error; // its worker is still ending
            continue;
        }
        Done done = std::move(it->second);
        committing.erase(it);
        Conclude(std::move(done), outcome.error);
    }
}

// A converted file whose output was or was not put in place.
void Batch::Conclude(Done done, const std::string& commitError)
{
    if (!commitError.empty()) {
        done.reason = commitError;
        RemoveTemporary(done.temporary);
    }
    Conclude(done);
}

void Batch::Conclude(const Done& done)
{
    const FilePlan& plan = plans[done.plan];
    ClearProgress();
    if (done.reason.empty()) {
        ++converted;
        if (!settings.quiet) {
            std::printf("%s -> %s: %s %s, %s %s, %.2f s\n", plan.input.c_str(), plan.output.c_str(),
                        done.faces.c_str(), done.faces == "1" ? "face" : "faces",
                        done.vertices.c_str(), done.vertices == "1" ? "vertex" : "vertices",
                        done.seconds);
            std::fflush(stdout);
            for (const auto& [severity, text] : done.messages) {
                if (severity != "info")
                    std::fprintf(stderr, "polyvant-convert: %s: %s: %s\n", plan.input.c_str(),
                                 severity.c_str(), text.c_str());
            }
        }
    } else {
        ++failed;
        std::fprintf(stderr, "polyvant-convert: %s: %s\n", plan.input.c_str(), done.reason.c_str());
        for (const auto& [severity, text] : done.messages) {
            if (text != done.reason && severity != "info")
                std::fprintf(stderr, "  %s: %s\n", severity.c_str(), text.c_str());
        }
    }
}

// A worker ended by the batch: a file it had finished still goes in place, the
// temporary files of any other go.
void Batch::Abandon(const Running& worker)
{
    if (!worker.committing) {
        RemoveTemporary(worker.temporary);
        return;
    }
    AwaitCommit({worker.plan,
                 "",
                 worker.faces,
                 worker.vertices,
                 MonotonicSeconds() - worker.started,
                 worker.temporary,
                 {}});
}

void Batch::StopAll()
{
    // The launchers go first, so that none starts a file that waits behind another; the
    // workers they run go with them.
    for (Running& worker : running) {
        if (worker.slot >= 0)
            SignalWorker(worker, SIGKILL);
    }
    for (auto& launcher : launchers)
        launcher->Stop();
    for (Running& worker : running) {
        if (worker.slot >= 0) {
            // Gone before its temporaries are looked for, or it might make one after.
            AwaitEnd(worker.exitFd, 2);
            if (worker.fd >= 0)
                close(worker.fd);
            if (worker.exitFd >= 0)
                close(worker.exitFd);
            Abandon(worker);
            continue;
        }
        kill(worker.pid, SIGKILL);
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (worker.fd >= 0)
            close(worker.fd);
        if (worker.exitFd >= 0)
            close(worker.exitFd);
        Abandon(worker);
    }
    running.clear();
}

int Batch::Run()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt {
    }, oldTerm{}, oldHup{};
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);
    sigaction(SIGHUP, &action, &oldHup);
    struct sigaction ignore {
    }, oldPipe{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipe);

    // One job, or one file, is served best by forking the worker directly.
    if (settings.jobs > 1 && plans.size() > 1) {
        for (unsigned slot = 0; slot < std::min<std::size_t>(settings.jobs, plans.size()); ++slot)
            launchers.push_back(std::make_unique<WorkerLauncher>());
        slotBuffers.resize(launchers.size());
        slotCores = SlotCores(unsigned(launchers.size()));
    }
    int pollError = 0;
    while (!g_interrupted && (next < plans.size() || !again.empty() || !running.empty() ||
                              committer.Outstanding() > 0)) {
        Dispatch();
        if (running.empty() && committer.Outstanding() == 0)
            continue;
        DrawProgress(false);
        const double now = MonotonicSeconds();
        double wait = showProgress ? 0.1 : 1.0;
        for (const Running& worker : running) {
            if (worker.deadline > 0) {
                const double due = worker.deadline + (worker.timedOut ? kEndGrace : 0);
                wait = std::min(wait, std::max(0.0, due - now));
            }
            if (worker.slot < 0 && worker.fd < 0 && worker.exitFd < 0)
                wait = std::min(wait, 0.001); // its pipe has closed: look for its end soon
        }
        // Every worker's pipe; for a worker of the batch's own also its end, as a program
        // it left behind may hold the pipe open (poll passes over fd -1); for a slot its
        // launcher's pipe, which says when the slot's worker has ended.
        std::vector<pollfd> fds;
        std::vector<std::ptrdiff_t> owners; // a worker's place in running, or -1 - slot
        for (std::size_t i = 0; i < running.size(); ++i) {
            // After its result only its end matters, which its launcher or its pidfd
            // reports: what it writes meanwhile is read then, and the pipe closing as it
            // exits wakes no one.
            const bool endReported = running[i].slot >= 0 || running[i].exitFd >= 0;
            fds.push_back({running[i].haveResult && endReported ? -1 : running[i].fd, POLLIN, 0});
            owners.push_back(std::ptrdiff_t(i));
            if (running[i].slot < 0) {
                fds.push_back({running[i].exitFd, POLLIN, 0});
                owners.push_back(std::ptrdiff_t(i));
            }
        }
        for (std::size_t slot = 0; slot < launchers.size(); ++slot) {
            if (Front(int(slot)) != nullptr && launchers[slot]->ReportFd() >= 0) {
                fds.push_back({launchers[slot]->ReportFd(), POLLIN, 0});
                owners.push_back(-1 - std::ptrdiff_t(slot));
            }
        }
        // And the files being put in place, once nothing else is left to wake the batch:
        // while workers run, each wake-up takes what the committer has done meanwhile.
        const std::ptrdiff_t committed = PTRDIFF_MIN;
        const bool converting = std::any_of(running.begin(), running.end(), [](const Running& w) {
            return !w.ended && !w.dropped;
        });
        if (committer.Outstanding() > 0 && !converting) {
            fds.push_back({committer.NotifyFd(), POLLIN, 0});
            owners.push_back(committed);
        }
        const int ready = poll(fds.data(), fds.size(), int(wait * 1000) + 1);
        if (ready < 0 && errno != EINTR) {
            pollError = errno;
            break;
        }
        for (std::size_t k = 0; ready > 0 && k < fds.size(); ++k) {
            if (fds[k].revents == 0 || owners[k] == committed)
                continue;
            if (owners[k] < 0) {
                CollectSlot(int(-1 - owners[k]));
                continue;
            }
            Running& worker = running[std::size_t(owners[k])];
            if (worker.fd < 0)
                continue;
            if (fds[k].fd != worker.fd) // its pidfd, not its pipe: it has ended
                CollectLast(worker);
            else
                Collect(worker);
        }
        TakeCommitted();
        const double after = MonotonicSeconds();
        for (Running& worker : running) {
            if (worker.dropped)
                continue;
            if (worker.deadline > 0 && after >= worker.deadline && !worker.timedOut &&
                !worker.ended) {
                // What it reported meanwhile first: it may have finished, or said its number.
                Collect(worker);
                if (worker.slot >= 0)
                    CollectSlot(worker.slot);
                if (worker.ended)
                    continue;
                worker.timedOut = true;
                if (worker.pid > 0) {
                    SignalWorker(worker, SIGKILL);
                } else if (worker.slot >= 0) {
                    // Not yet known by number: its launcher goes, and takes it along.
                    LoseSlot(worker.slot, launchers[std::size_t(worker.slot)]->Stop());
                }
            } else if (worker.timedOut && worker.slot >= 0 && !worker.ended &&
                       after >= worker.deadline + kEndGrace) {
                // Killed, yet its end was never reported: the slot starts afresh.
                AwaitEnd(worker.exitFd, 1);
                LoseSlot(worker.slot, launchers[std::size_t(worker.slot)]->Stop());
            }
        }
        // A worker is done once its pipe has closed and it has ended; a worker that closed
        // its pipe and goes on is still held to the time limit above.
        for (std::size_t i = 0; i < running.size();) {
            if (running[i].slot >= 0) {
                if (running[i].dropped) {
                    running.erase(running.begin() + std::ptrdiff_t(i));
                } else if (running[i].ended) {
                    Finish(running[i], running[i].endStatus);
                    running.erase(running.begin() + std::ptrdiff_t(i));
                } else {
                    ++i;
                }
                continue;
            }
            int status = 0;
            pid_t ended = 0;
            if (running[i].fd < 0) {
                while ((ended = waitpid(running[i].pid, &status, WNOHANG)) < 0 && errno == EINTR) {
                }
            }
            if (ended == running[i].pid || ended < 0) { // < 0: nothing left to wait for
                Finish(running[i], status);
                running.erase(running.begin() + std::ptrdiff_t(i));
            } else {
                ++i;
            }
        }
    }
    ClearProgress();
    const bool stopped = g_interrupted || !running.empty() || committer.Outstanding() > 0;
    if (!stopped) {
        for (auto& launcher : launchers)
            launcher->Finish();
    } else {
        StopAll();
        // Files already converted are put in place all the same.
        committer.Stop();
        TakeCommitted();
        ClearProgress();
        const std::size_t left = plans.size() - converted - failed - repeated;
        if (g_interrupted)
            std::fprintf(stderr, "polyvant-convert: interrupted; %zu %s not converted\n", left,
                         left == 1 ? "file" : "files");
        else
            std::fprintf(stderr,
                         "polyvant-convert: cannot wait for the workers: %s; %zu %s not "
                         "converted\n",
                         std::strerror(pollError), left, left == 1 ? "file" : "files");
    }
    int status = failed == 0 ? 0 : 1;
    if (stopped)
        status = g_interrupted ? 130 : 1;
    if (!settings.quiet || failed > 0)
        std::printf("%zu converted, %zu failed\n", converted, failed);
    std::fflush(stdout);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    return status;
}

} // namespace

int RunBatch(const BatchSettings& settings, std::vector<FilePlan>& plans)
{
    Batch batch(settings, plans);
    return batch.Run();
}

} // namespace polyvant::tools
