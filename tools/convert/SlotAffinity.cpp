#include "SlotAffinity.h"

#include <algorithm>
#include <fstream>
#include <sched.h>
#include <string>

namespace polyvant::tools {
namespace {

// The launcher's set before BindLauncher; only a bound launcher's workers change theirs.
cpu_set_t g_released;
bool g_bound = false;

// The hardware threads that share core cpu's execution units, as the kernel lists them;
// the cpu's own number when unknown.
std::string CoreOf(int cpu)
{
    std::ifstream file("/sys/devices/system/cpu/cpu" + std::to_string(cpu) +
                       "/topology/thread_siblings_list");
    std::string siblings;
    if (!std::getline(file, siblings) || siblings.empty())
        return std::to_string(cpu);
    return siblings;
}

} // namespace

std::vector<int> SlotCores(unsigned slots)
{
    cpu_set_t usable;
    CPU_ZERO(&usable);
    if (slots < 2 || sched_getaffinity(0, sizeof usable, &usable) != 0 ||
        slots > unsigned(CPU_COUNT(&usable)))
        return {};
    // The first thread of every physical core, then the threads that share a core.
    std::vector<int> first, shared;
    std::vector<std::string> taken;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &usable))
            continue;
        const std::string core = CoreOf(cpu);
        const bool seen = std::find(taken.begin(), taken.end(), core) != taken.end();
        (seen ? shared : first).push_back(cpu);
        if (!seen)
            taken.push_back(core);
    }
    first.insert(first.end(), shared.begin(), shared.end());
    first.resize(slots);
    return first;
}

void BindLauncher(int core)
{
    cpu_set_t before, one;
    CPU_ZERO(&before);
    CPU_ZERO(&one);
    if (core < 0 || core >= CPU_SETSIZE || sched_getaffinity(0, sizeof before, &before) != 0)
        return;
    CPU_SET(core, &one);
    // Refused (a core taken away meanwhile, a cpuset that forbids it): left unbound.
    if (sched_setaffinity(0, sizeof one, &one) == 0) {
        g_released = before;
        g_bound = true;
    }
}

void ReleaseWorker()
{
    if (!g_bound)
        return;
    sched_setaffinity(0, sizeof g_released, &g_released);
    g_bound = false;
}

} // namespace polyvant::tools
