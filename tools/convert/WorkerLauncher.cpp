#include "WorkerLauncher.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SlotAffinity.h"

namespace polyvant::tools {
namespace {

// What an exec would have reset: the parent's handlers and ignored SIGPIPE. An
// interrupt from the terminal is the batch's to handle: it ends the workers and
// reports the files as not converted rather than failed. A process whose parent is
// killed goes with it.
bool DetachSignals(pid_t parent)
{
    for (int sig : {SIGTERM, SIGPIPE})
        std::signal(sig, SIG_DFL);
    for (int sig : {SIGINT, SIGHUP})
        std::signal(sig, SIG_IGN);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    return getppid() == parent;
}

void WriteFully(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= std::size_t(n);
    }
}

// A request, one datagram: the fields that differ from file to file, each ended by a
// zero byte (paths hold none).
std::string EncodeRequest(const WorkerJob& job)
{
    std::string fields;
    for (const std::string& field :
         {job.input, job.temporary, job.output, std::to_string(job.importClass),
          std::to_string(job.exportClass), std::to_string(job.verifyClass)}) {
        fields += field;
        fields += '\0';
    }
    return fields;
}

bool DecodeRequest(const std::string& fields, WorkerJob& job)
{
    std::vector<std::string> parts;
    for (std::size_t at = 0; at < fields.size();) {
        const std::size_t end = fields.find('\0', at);
        if (end == std::string::npos)
            return false;
        parts.push_back(fields.substr(at, end - at));
        at = end + 1;
    }
    if (parts.size() != 6)
        return false;
    job.input = parts[0];
    job.temporary = parts[1];
    job.output = parts[2];
    job.importClass = std::atoi(parts[3].c_str());
    job.exportClass = std::atoi(parts[4].c_str());
    job.verifyClass = std::atoi(parts[5].c_str());
    return true;
}

// The wait status that waitpid would have given for what waitid found.
int WaitStatus(const siginfo_t& info)
{
    if (info.si_code == CLD_EXITED)
        return (info.si_status & 0xff) << 8;
    return (info.si_status & 0x7f) | (info.si_code == CLD_DUMPED ? 0x80 : 0);
}

// Far above three paths and three numbers.
constexpr std::size_t kMaxRequest = 64 * 1024;

// Takes one request with the descriptor that came with it (-1: none): the length of the
// datagram, 0 when the batch has closed its end, -1 on an error. A datagram or a
// descriptor that did not fit shows in flags.
ssize_t TakeRequest(int fd, char* buffer, std::size_t size, int& passed, int& flags, int how)
{
    iovec data{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    passed = -1;
    ssize_t n;
    while ((n = recvmsg(fd, &message, how | MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    flags = message.msg_flags;
    for (cmsghdr* c = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr; c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
            c->cmsg_len == CMSG_LEN(sizeof(int)))
            std::memcpy(&passed, CMSG_DATA(c), sizeof(int));
    }
    return n;
}

enum class Request { Taken, None, Closed };

// The next request and the write end of its file's report pipe. None only when how is
// MSG_DONTWAIT and nothing waits; Closed when the batch is done with this slot.
Request ReceiveRequest(int requestFd, std::string& fields, int& reportFd, int how)
{
    static char buffer[kMaxRequest];
    int flags = 0;
    const ssize_t n = TakeRequest(requestFd, buffer, sizeof buffer, reportFd, flags, how);
    if (n == 0)
        return Request::Closed;
    if (n < 0 && (how & MSG_DONTWAIT) && (errno == EAGAIN || errno == EWOULDBLOCK))
        return Request::None;
    if (n < 0 || (flags & (MSG_TRUNC | MSG_CTRUNC)) || reportFd < 0)
        _exit(1);
    fields.assign(buffer, std::size_t(n));
    return Request::Taken;
}

[[noreturn]] void LauncherLoop(const WorkerJob& base, int requestFd)
{
    // Ended and reported, and left unreaped until the next request: the batch asks for
    // the next file only once it holds a pidfd of this one, so it can never signal
    // another process that took over the number.
    pid_t ended = 0;
    // The last worker's end, held back while the next file waits already: it goes out
    // with the next worker's number, in one write that wakes the batch once.
    std::string unsent;
    std::string fields;
    for (;;) {
        int reportFd = -1;
        Request got = Request::None;
        if (!unsent.empty())
            got = ReceiveRequest(requestFd, fields, reportFd, MSG_DONTWAIT);
        if (got == Request::None) {
            // Nothing to start now, or the batch took its request back: the end cannot wait.
            WriteFully(kReportFd, unsent.data(), unsent.size());
            unsent.clear();
            got = ReceiveRequest(requestFd, fields, reportFd, 0);
        }
        if (ended > 0) {
            while (waitpid(ended, nullptr, 0) < 0 && errno == EINTR) {
            }
            ended = 0;
        }
        if (got == Request::Closed) {
            WriteFully(kReportFd, unsent.data(), unsent.size());
            _exit(0);
        }
        WorkerJob job = base;
        if (!DecodeRequest(fields, job))
            _exit(1);
        std::fflush(nullptr);
        const pid_t self = getpid();
        const pid_t worker = fork();
        if (worker == 0)
            RunForkedWorker(job, self, reportFd, {requestFd});
        int status = 0;
        if (worker < 0) {
            const std::string line =
                std::string("result\tfail\tcannot start a worker: ") + std::strerror(errno) + "\n";
            WriteFully(reportFd, line.data(), line.size());
            status = 1 << 8; // exit status 1
        } else {
            // Who to end on a time limit.
            unsent += "started\t" + std::to_string(worker) + "\n";
        }
        WriteFully(kReportFd, unsent.data(), unsent.size());
        unsent.clear();
        // The file's pipe is the worker's alone: what outlives the worker cannot write
        // into the report of the slot's next file.
        close(reportFd);
        if (worker > 0) {
            siginfo_t info{};
            while (waitid(P_PID, id_t(worker), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
            }
            status = WaitStatus(info);
            ended = worker;
        }
        unsent = "ended\t" + std::to_string(status) + "\n";
    }
}

// A descriptor above the standard ones and kReportFd, so that a dup2 onto kReportFd in
// a child always makes a fresh one.
int MoveHigh(int fd)
{
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return high;
}

} // namespace

void RunForkedWorker(const WorkerJob& job, pid_t parent, int reportFd,
                     const std::vector<int>& close)
{
    if (!DetachSignals(parent))
        _exit(1);
    ReleaseWorker();
    // The parent's descriptors first: one of them may sit on kReportFd.
    for (int fd : close) {
        if (fd >= 0)
            ::close(fd);
    }
    dup2(reportFd, kReportFd);
    ::close(reportFd);
    // A program the plug-in runs does not inherit the report pipe, and so cannot hold
    // it open.
    fcntl(kReportFd, F_SETFD, FD_CLOEXEC);
    // What a plug-in prints does not mix with the batch's report on stdout.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    const int status = RunWorker(job);
    std::fflush(nullptr);
    _exit(status);
}

bool WorkerLauncher::Start(const WorkerJob& base, const std::vector<int>& close, int core)
{
    Stop();
    int report[2], request[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    // Datagrams, so that a request is taken whole, by the launcher or withdrawn by the batch.
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, request) != 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = error;
        return false;
    }
    for (int* fd : {&report[0], &report[1], &request[0], &request[1]})
        *fd = MoveHigh(*fd);
    std::fflush(nullptr); // or the child would print what is buffered here again
    const pid_t parent = getpid();
    const pid_t child =
        report[0] < 0 || report[1] < 0 || request[0] < 0 || request[1] < 0 ? -1 : fork();
    const int error = child < 0 ? (errno ? errno : EMFILE) : 0;
    if (child == 0) {
        if (!DetachSignals(parent))
            _exit(1);
        for (int fd : close) {
            if (fd >= 0)
                ::close(fd);
        }
        ::close(report[0]);
        ::close(request[1]);
        dup2(report[1], kReportFd);
        ::close(report[1]);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        BindLauncher(core);
        LauncherLoop(base, request[0]);
    }
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        ::close(request[0]);
        ::close(request[1]);
        errno = error;
        return false;
    }
    pid = child;
    reportFd = report[0];
    requestFd = request[1];
    queueFd = request[0];
    fcntl(reportFd, F_SETFL, fcntl(reportFd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool WorkerLauncher::Launch(const WorkerJob& job, int reportFd)
{
    if (pid <= 0)
        return false;
    std::string request = EncodeRequest(job);
    if (request.size() > kMaxRequest) {
        errno = ENAMETOOLONG;
        return false;
    }
    iovec data{request.data(), request.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &reportFd, sizeof(int));
    for (;;) {
        const ssize_t n = sendmsg(requestFd, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        return n == ssize_t(request.size());
    }
}

bool WorkerLauncher::Withdraw()
{
    if (queueFd < 0)
        return false;
    static char request[kMaxRequest];
    int passed = -1, flags = 0;
    const ssize_t n = TakeRequest(queueFd, request, sizeof request, passed, flags, MSG_DONTWAIT);
    if (passed >= 0)
        ::close(passed);
    return n > 0;
}

bool WorkerLauncher::Alive()
{
    if (pid <= 0)
        return false;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0)
        return true;
    pid = -1; // reaped, or not ours to wait for
    Stop();
    return false;
}

int WorkerLauncher::Stop()
{
    int status = 0;
    if (pid > 0) {
        kill(pid, SIGKILL); // its worker follows (PR_SET_PDEATHSIG)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid = -1;
    for (int* fd : {&reportFd, &requestFd, &queueFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    return status;
}

void WorkerLauncher::Finish()
{
    for (int* fd : {&requestFd, &queueFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (pid > 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid = -1;
    if (reportFd >= 0)
        ::close(reportFd);
    reportFd = -1;
}

} // namespace polyvant::tools
