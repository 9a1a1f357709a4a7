#include "tools/common/ToolSupport.h"

#include <gtest/gtest.h>
#include <sched.h>

namespace polyvant::tooltest {
namespace {

// The default number of jobs: what taskset or a container's CPU set leaves, not every
// core of the machine.
TEST(ToolSupportTest, UsableCoresFollowTheAffinityMask)
{
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(tools::UsableCoreCount(), unsigned(CPU_COUNT(&all)));

    int first = 0;
    while (!CPU_ISSET(first, &all))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned pinned = tools::UsableCoreCount();
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(pinned, 1u);
}

} // namespace
} // namespace polyvant::tooltest
