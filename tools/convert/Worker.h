#pragma once
#include <string>
#include <vector>

// One file's conversion, run in a child process of its own so that an importer that
// crashes, hangs or eats memory costs that file only. The parent forks, and the child
// runs the job with the report pipe as file descriptor 3.
//
// Report lines, one per line, fields separated by a tab:
//   progress <fraction> <text>
//   message  <info|warning|error> <text>
//   result   ok <faces> <vertices>   (the counts separated by a blank; the temporary
//                                     file is complete, not yet flushed or in place)
//   result   fail <reason>
// A worker that ends without a result line was ended by something else (a signal, a
// limit, a plug-in calling exit); the parent says which.

namespace polyvant {
class PluginManager;
}

namespace polyvant::tools {

constexpr int kReportFd = 3;

struct WorkerJob {
    std::string pluginDir;
    // The plug-ins the parent loaded from pluginDir, which a forked worker has already;
    // null: the worker loads them itself.
    PluginManager* plugins = nullptr;
    int importClass = -1; // positions in the class list of pluginDir
    int exportClass = -1;
    int verifyClass = -1; // -1: no verification
    std::string input;
    // Written and checked by the worker; the batch flushes it and renames it to output.
    std::string temporary;
    std::string output;
    unsigned long memoryLimitMiB = 0; // 0: none
    std::vector<std::string> options; // NAME=VALUE
    // Progress lines only when the parent shows them: each line wakes the parent, which
    // costs a small file more than its conversion.
    bool reportProgress = true;
};

// Runs the job and returns the process's exit status.
int RunWorker(const WorkerJob& job);

} // namespace polyvant::tools
