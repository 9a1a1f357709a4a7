#include "tools/convert/SlotAffinity.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace polyvant::tools {
namespace {

cpu_set_t Usable()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    EXPECT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    return set;
}

// The exit status of body run in a forked child, so that binding stays out of the test.
int InChild(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(SlotAffinity, GivesEachSlotAUsableCoreOfItsOwnOrNoneWhenTheSlotsOutnumberThem)
{
    const cpu_set_t usable = Usable();
    const int count = CPU_COUNT(&usable);
    EXPECT_TRUE(SlotCores(1).empty());
    EXPECT_TRUE(SlotCores(unsigned(count) + 1).empty());
    if (count >= 2) {
        std::vector<int> cores = SlotCores(unsigned(count));
        ASSERT_EQ(cores.size(), std::size_t(count));
        for (int core : cores)
            EXPECT_TRUE(CPU_ISSET(core, &usable)) << core;
        std::sort(cores.begin(), cores.end());
        EXPECT_EQ(std::adjacent_find(cores.begin(), cores.end()), cores.end());
    }
    // A process held to one core (taskset, a cpuset) has no cores to spread slots over.
    int first = 0;
    while (!CPU_ISSET(first, &usable))
        ++first;
    EXPECT_EQ(InChild([first] {
                  cpu_set_t one;
                  CPU_ZERO(&one);
                  CPU_SET(first, &one);
                  if (sched_setaffinity(0, sizeof one, &one) != 0)
                      return 2;
                  return SlotCores(2).empty() ? 0 : 1;
              }),
              0);
}

TEST(SlotAffinity, AWorkerOfABoundLauncherTakesBackTheLaunchersFormerSet)
{
    const cpu_set_t usable = Usable();
    if (CPU_COUNT(&usable) < 2)
        GTEST_SKIP() << "needs two usable cores";
    const std::vector<int> cores = SlotCores(2);
    ASSERT_EQ(cores.size(), 2u);
    const int core = cores[1];
    EXPECT_EQ(InChild([&] {
                  BindLauncher(core);
                  const cpu_set_t bound = Usable();
                  if (CPU_COUNT(&bound) != 1 || !CPU_ISSET(core, &bound))
                      return 1;
                  // The launcher's next worker.
                  return InChild([&] {
                      ReleaseWorker();
                      const cpu_set_t released = Usable();
                      return CPU_EQUAL(&released, &usable) ? 0 : 3;
                  });
              }),
              0);

    // Nothing changes where no launcher was bound.
    EXPECT_EQ(InChild([&] {
                  BindLauncher(-1);
                  ReleaseWorker();
                  const cpu_set_t after = Usable();
                  return CPU_EQUAL(&after, &usable) ? 0 : 1;
              }),
              0);
}

} // namespace
} // namespace polyvant::tools
