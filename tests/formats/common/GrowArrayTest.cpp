#include "common/GrowArray.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace polyvant::formats {
namespace {

// Extend must make room for all it is asked for, whether a few items at a time or a whole
// block at once (as when arrays read apart are joined): under ASan a short block fails.
TEST(GrowArrayTest, ExtendMakesRoomForBlocksOfAnySize)
{
    for (std::size_t first : {0u, 1u, 100u, 1000u, 5000u}) {
        for (std::size_t block : {1u, 3u, 255u, 600u, 1100u, 1200u, 1300u, 1500u, 3000u, 5000u}) {
            GrowArray<std::uint32_t> array;
            std::uint32_t next = 0;
            for (std::size_t k = 0; k < first; ++k)
                array.Push(next++);
            for (int round = 0; round < 4; ++round) {
                std::uint32_t* room = array.Extend(block);
                for (std::size_t k = 0; k < block; ++k)
                    room[k] = next++;
                array.Commit(block);
            }
            ASSERT_EQ(array.Size(), first + 4 * block);
            std::vector<std::uint32_t> expected(array.Size());
            std::iota(expected.begin(), expected.end(), 0u);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), array.Data()))
                << first << " then blocks of " << block;
        }
    }
}

} // namespace
} // namespace polyvant::formats
