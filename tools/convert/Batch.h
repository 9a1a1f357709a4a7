#pragma once
#include <string>
#include <vector>

namespace polyvant {
class PluginManager;
}

namespace polyvant::tools {

struct BatchSettings {
    std::string pluginDir;            // absolute
    PluginManager* plugins = nullptr; // loaded from pluginDir; workers use them
    unsigned jobs = 1;
    bool verify = false;
    bool noClobber = false;
    bool quiet = false;
    unsigned long timeLimitSeconds = 300; // 0: none
    unsigned long memoryLimitMiB = 4096;  // 0: none
    std::vector<std::string> options;     // NAME=VALUE
};

// One file of a batch. Class positions are those of the plug-in directory's class list.
struct FilePlan {
    std::string input;
    std::string output;
    int importClass = -1;
    int exportClass = -1;
    int verifyClass = -1;
    std::string refusal; // why the file is not even tried, or ""
};

// Converts every planned file in worker processes, at most settings.jobs at once,
// reporting each file and at the end "N converted, M failed". Returns the exit
// status: 0 when every file converted, 1 otherwise, 130 when interrupted.
int RunBatch(const BatchSettings& settings, std::vector<FilePlan>& plans);

} // namespace polyvant::tools
