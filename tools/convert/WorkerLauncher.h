#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

#include "Worker.h"

namespace polyvant::tools {

// Sets up a freshly forked process as a worker and runs the job: what an exec would
// have reset, its report pipe (reportFd) on kReportFd, the descriptors it must not hold
// closed. Never returns.
[[noreturn]] void RunForkedWorker(const WorkerJob& job, pid_t parent, int reportFd,
                                  const std::vector<int>& close);

// A process that forks the workers of one slot of a batch, one file at a time. Forking
// a worker costs its parent a copy of its page tables and the reaping after it; with
// one such process a slot, that work runs on every core instead of queueing in the
// batch's own process, which keeps small files scaling with the number of jobs.
//
// Each file comes with a report pipe of its own, which its worker writes. The launcher
// writes to its own report pipe, once it has forked a worker and once that has ended,
//   started  <pid>
//   ended    <wait status>
// When the next file waits already, a worker's end is written with the next one's start,
// so that the batch wakes once for both.
// A worker is started only after the previous one has ended. The batch may send the next request
// while a worker runs, so that the next file starts without waiting for the batch's process to be
// scheduled; until the launcher has taken it, the batch can withdraw it again.
class WorkerLauncher {
public:
    WorkerLauncher() = default;
    WorkerLauncher(const WorkerLauncher&) = delete;
    WorkerLauncher& operator=(const WorkerLauncher&) = delete;
    ~WorkerLauncher() { Stop(); }

    // Forks the launcher. base holds what every file of the batch shares; close lists
    // the parent's descriptors that the launcher must not keep open; core, unless -1, is
    // the core the launcher is bound to (see SlotAffinity.h). False with errno set when it
    // cannot be started.
    bool Start(const WorkerJob& base, const std::vector<int>& close, int core = -1);
    // Has a worker convert the job's input, reporting to reportFd (a pipe's write end,
    // which the caller may close), once the current one, if any, has ended; false when
    // the request cannot be sent.
    bool Launch(const WorkerJob& job, int reportFd);
    // Takes back a request the launcher has not taken yet; false when it has.
    bool Withdraw();
    // Ends the launcher and any worker it runs; returns the launcher's wait status, its
    // own when it had ended already.
    int Stop();
    // Closes the request pipe, so that the launcher ends after its current worker, and
    // waits for that.
    void Finish();

    bool Running() const { return pid > 0; }
    // Running, and not ended meanwhile; a launcher that ended is cleared up. An idle slot's
    // launcher can be killed unseen, and a request sent it would be lost with it.
    bool Alive();
    int ReportFd() const { return reportFd; }
    int RequestFd() const { return requestFd; }
    int QueueFd() const { return queueFd; }

private:
    pid_t pid = -1;
    int reportFd = -1;  // read end of the pipe that reports its workers' ends, in the batch
    int requestFd = -1; // the batch's end of the request socket
    int queueFd = -1;   // the launcher's end, also held here to withdraw requests
};

} // namespace polyvant::tools
