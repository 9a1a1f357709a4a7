#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include <polyvant/CheckedAlloc.h>

#include "model/ArrayStorage.h"
#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

using namespace polyvant;

namespace {

std::vector<std::uint32_t> ToVector(IndexList list)
{
    return {list.begin(), list.end()};
}

ArrayLimits SmallLimits(std::size_t elements, std::size_t listNodes = kMaxListNodes)
{
    ArrayLimits limits;
    limits.maxElements = elements;
    limits.maxListNodes = listNodes;
    return limits;
}

} // namespace

TEST(VertexHashTest, PointsLandInTheChainsTheirBytesGive)
{
    VertexArray vertices(1);
    ASSERT_EQ(vertices.BucketCount(), 2048u);
    const double zero[3] = {0, 0, 0}, tiny[3] = {0, 0, 1e-7}, negZero[3] = {0, 0, -0.0},
                 p123[3] = {1, 2, 3};
    EXPECT_EQ(vertices.BucketOf(zero), 0u);
    EXPECT_EQ(vertices.BucketOf(tiny), 1902u);
    EXPECT_EQ(vertices.BucketOf(negZero), 1920u);
    EXPECT_EQ(vertices.BucketOf(p123), 455u);
}

TEST(VertexHashTest, BytesCountAsSignedAndEachStageIsReduced)
{
    const unsigned char high[1] = {0xFF};
    EXPECT_EQ(HashBytes(0, 1, high, 1000), 0xFFFFFFFFu % 1000);
    const unsigned char two[2] = {1, 2};
    EXPECT_EQ(HashBytes(7, 2, two, 0xFFFFFFFF), (7u * 31u + 1u) * 31u + 2u);
}

TEST(VertexArrayTest, MergesOnlyPointsThatShareAChain)
{
    const double zero[3] = {0, 0, 0}, tiny[3] = {0, 0, 1e-7}, negZero[3] = {0, 0, -0.0};
    VertexArray a(1);
    EXPECT_EQ(a.AddVertex(zero), 0u);
    EXPECT_EQ(a.AddVertex(zero), 0u);
    EXPECT_EQ(a.AddVertex(tiny), 1u);
    EXPECT_EQ(a.AddVertex(negZero), 2u);
    EXPECT_EQ(a.Count(), 3u);
    double out[3];
    ASSERT_EQ(a.GetVertex(out, 1), 0u);
    EXPECT_EQ(out[2], 1e-7);
}

TEST(VertexArrayTest, GrowsByDoublingAndKeepsInsertionOrder)
{
    VertexArray a(1);
    std::vector<std::size_t> capacities{a.Capacity()};
    for (std::uint32_t i = 0; i < 4097; ++i) {
        const double p[3] = {static_cast<double>(i), 0.5, -1};
        ASSERT_EQ(a.AddVertex(p), i);
        a.AddVertexFace(i * 2, i);
        if (a.Capacity() != capacities.back())
            capacities.push_back(a.Capacity());
    }
    std::vector<std::size_t> expected;
    for (std::size_t c = 2; c <= 8192; c *= 2)
        expected.push_back(c);
    EXPECT_EQ(capacities, expected);
    for (std::uint32_t i = 0; i < 4097; ++i) {
        double p[3];
        ASSERT_EQ(a.GetVertex(p, i), 0u);
        ASSERT_EQ(p[0], i);
        ASSERT_EQ(ToVector(a.VertexFaceList(i)), std::vector<std::uint32_t>{i * 2});
    }
}

TEST(VertexArrayTest, ListsHoldEachEntryOnceNewestFirst)
{
    VertexArray a(1);
    const double p[3] = {1, 1, 1};
    a.AddVertex(p);
    for (std::uint32_t face : {4u, 9u, 4u, 2u, 9u})
        EXPECT_EQ(a.AddVertexFace(face, 0), 1u);
    EXPECT_EQ(ToVector(a.VertexFaceList(0)), (std::vector<std::uint32_t>{2, 9, 4}));
    EXPECT_EQ(a.AddVertexEdge(3, 0), 1u);
    EXPECT_EQ(a.AddVertexEdge(3, 0), 1u);
    EXPECT_EQ(ToVector(a.VertexEdgeList(0)), std::vector<std::uint32_t>{3});
    EXPECT_EQ(a.VertexFaceList(0).Front(), 2u);
    EXPECT_EQ(a.VertexFaceList(0).Size(), 3u);
}

TEST(VertexArrayTest, RefusesVerticesThatDoNotExist)
{
    VertexArray a(1);
    const double p[3] = {1, 2, 3};
    a.AddVertex(p);
    double out[3] = {7, 7, 7};
    EXPECT_EQ(a.AddVertexFace(0, 1), kNoIndex); // v equal to the count
    EXPECT_EQ(a.AddVertexEdge(0, 1), kNoIndex);
    EXPECT_EQ(a.GetVertex(out, 1), kNoIndex);
    EXPECT_EQ(out[0], 7);
    EXPECT_TRUE(a.VertexFaceList(1).Empty());
    EXPECT_TRUE(a.VertexEdgeList(0xFFFFFFFF).Empty());
}

TEST(ElementArrayTest, DestroyedArraysRefuseEverything)
{
    const double p[3] = {1, 2, 3};
    std::uint32_t out[3];
    double pos[3];
    VertexArray v(4);
    v.AddVertex(p);
    v.Destroy();
    EXPECT_EQ(v.Count(), kNoIndex);
    EXPECT_EQ(v.AddVertex(p), kNoIndex);
    EXPECT_EQ(v.AddVertexFace(0, 0), kNoIndex);
    EXPECT_EQ(v.AddVertexEdge(0, 0), kNoIndex);
    EXPECT_EQ(v.GetVertex(pos, 0), kNoIndex);
    EXPECT_TRUE(v.VertexFaceList(0).Empty());

    FaceArray f(4);
    f.AddFace(0, 1, 2);
    f.Destroy();
    EXPECT_EQ(f.Count(), kNoIndex);
    EXPECT_EQ(f.AddFace(0, 1, 2), kNoIndex);
    EXPECT_EQ(f.SetFaceEdges(0, 1, 2, 0), kNoIndex);
    EXPECT_EQ(f.GetFace(out, 0), kNoIndex);

    EdgeArray e(4);
    e.AddEdge(0, 1);
    e.Destroy();
    EXPECT_EQ(e.Count(), kNoIndex);
    EXPECT_EQ(e.AddEdge(0, 1), kNoIndex);
    EXPECT_EQ(e.AddEdgeFace(0, 0), kNoIndex);
    EXPECT_EQ(e.GetEdge(out, 0), kNoIndex);
    EXPECT_EQ(e.GetEdgeFaces(out, 0), kNoIndex);
}

TEST(ElementArrayTest, GrowthStopsAtTheElementLimitWithARefusal)
{
    VertexArray v(1, SmallLimits(5));
    for (int i = 0; i < 5; ++i) {
        const double p[3] = {static_cast<double>(i), 0, 0};
        ASSERT_EQ(v.AddVertex(p), static_cast<std::uint32_t>(i));
    }
    const double extra[3] = {9, 9, 9}, known[3] = {2, 0, 0};
    EXPECT_EQ(v.AddVertex(extra), kNoIndex);
    EXPECT_EQ(v.AddVertex(known), 2u); // existing points are still found
    EXPECT_EQ(v.Count(), 5u);
    EXPECT_EQ(v.Capacity(), 5u);

    FaceArray f(1, SmallLimits(3));
    for (std::uint32_t i = 0; i < 3; ++i)
        ASSERT_EQ(f.AddFace(i, i + 1, i + 2), i);
    EXPECT_EQ(f.AddFace(7, 8, 9), kNoIndex);
    EXPECT_EQ(f.AddFace(3, 1, 2), 1u);
    EXPECT_EQ(f.AppendNew(7, 8, 9), kNoIndex);

    EdgeArray e(1, SmallLimits(4));
    for (std::uint32_t i = 0; i < 4; ++i)
        ASSERT_EQ(e.AddEdge(i, i + 1), i);
    EXPECT_EQ(e.AddEdge(8, 9), kNoIndex);
    EXPECT_EQ(e.AddEdge(4, 3), 3u);
    EXPECT_EQ(e.Count(), 4u);
}

TEST(ElementArrayTest, FullAdjacencyStorageRefusesInsteadOfWrapping)
{
    VertexArray v(1, SmallLimits(kMaxElements, 2));
    const double p[3] = {0, 0, 0};
    v.AddVertex(p);
    EXPECT_EQ(v.AddVertexFace(1, 0), 1u);
    EXPECT_EQ(v.AddVertexFace(2, 0), 1u);
    EXPECT_EQ(v.AddVertexFace(3, 0), kNoIndex);
    EXPECT_EQ(v.AddVertexFace(2, 0), 1u); // already there: nothing to store
    EXPECT_EQ(ToVector(v.VertexFaceList(0)), (std::vector<std::uint32_t>{2, 1}));
}

TEST(ElementArrayTest, CapacityComesFromTheHint)
{
    EXPECT_EQ(VertexArray(0).Capacity(), 2u);
    EXPECT_EQ(VertexArray(100).Capacity(), 200u);
    EXPECT_EQ(FaceArray(100).Capacity(), 100u);
    EXPECT_EQ(EdgeArray(100).Capacity(), 300u);
    ArrayLimits bounded;
    bounded.maxInitialCapacity = 10;
    EXPECT_EQ(VertexArray(100, bounded).Capacity(), 10u);
    EXPECT_EQ(VertexArray(100, bounded).BucketCount(), 2048u);
    EXPECT_EQ(EdgeArray(0xFFFFFFFF, bounded).Capacity(), 10u);
    // The bucket count follows the hint exactly: (2n * 7) / 10, at least 2048.
    EXPECT_EQ(VertexArray(1462).BucketCount(), 2048u);
    EXPECT_EQ(VertexArray(1464).BucketCount(), 2049u);
}

TEST(FaceArrayTest, FindsAFaceInAnyOrderAndKeepsTheFirstOrder)
{
    FaceArray f(1);
    EXPECT_EQ(f.AddFace(1, 2, 3), 0u);
    EXPECT_EQ(f.AddFace(3, 1, 2), 0u);
    EXPECT_EQ(f.AddFace(2, 1, 3), 0u);
    EXPECT_EQ(f.AddFace(1, 2, 4), 1u);
    EXPECT_EQ(f.AddFace(1, 1, 2), 2u);
    EXPECT_EQ(f.AddFace(1, 2, 2), 3u);
    std::uint32_t out[3];
    ASSERT_EQ(f.GetFace(out, 0), 0u);
    EXPECT_EQ(out[0], 1u);
    EXPECT_EQ(out[1], 2u);
    EXPECT_EQ(out[2], 3u);
    EXPECT_EQ(f.SetFaceEdges(5, 6, 7, 1), 1u);
    EXPECT_EQ(f.SetFaceEdges(5, 6, 7, 4), kNoIndex);
    ASSERT_EQ(f.GetFaceEdges(out, 1), 0u);
    EXPECT_EQ(out[2], 7u);
    EXPECT_EQ(f.GetFace(out, 4), kNoIndex);
}

TEST(FaceArrayTest, FacesAppendedUnlookedAreFoundLater)
{
    FaceArray f(2);
    for (std::uint32_t i = 0; i < 5000; ++i)
        ASSERT_EQ(f.AppendNew(i, i + 1, i + 2), i);
    for (std::uint32_t i = 0; i < 5000; i += 7)
        ASSERT_EQ(f.AddFace(i + 2, i, i + 1), i);
    EXPECT_EQ(f.AddFace(0, 0, 0), 5000u);
    for (std::uint32_t i = 0; i < 200; ++i)
        ASSERT_EQ(f.AppendNew(i, i, 9), 5001u + i);
    EXPECT_EQ(f.AddFace(9, 150, 150), 5151u);
    EXPECT_EQ(f.AddFace(0, 0, 0), 5000u);
}

TEST(EdgeArrayTest, FindsAnEdgeInEitherDirectionAndKeepsTheFirstOrder)
{
    EdgeArray e(1);
    EXPECT_EQ(e.AddEdge(5, 2), 0u);
    EXPECT_EQ(e.AddEdge(2, 5), 0u);
    EXPECT_EQ(e.AddEdge(5, 5), 1u);
    EXPECT_EQ(e.AddEdge(0xFFFFFFF0, 2), 2u);
    EXPECT_EQ(e.AddEdge(2, 0xFFFFFFF0), 2u);
    std::uint32_t out[2];
    ASSERT_EQ(e.GetEdge(out, 0), 0u);
    EXPECT_EQ(out[0], 5u);
    EXPECT_EQ(out[1], 2u);
    EXPECT_EQ(e.GetEdge(out, 3), kNoIndex);
}

TEST(EdgeArrayTest, ThirdFaceReplacesTheSecondSlot)
{
    EdgeArray e(1);
    e.AddEdge(0, 1);
    std::uint32_t slots[2];
    ASSERT_EQ(e.GetEdgeFaces(slots, 0), 0u);
    EXPECT_EQ(slots[0], kNoIndex);
    EXPECT_EQ(slots[1], kNoIndex);
    EXPECT_EQ(e.AddEdgeFace(10, 0), 1u);
    EXPECT_EQ(e.AddEdgeFace(11, 0), 1u);
    EXPECT_EQ(e.AddEdgeFace(12, 0), 1u);
    e.GetEdgeFaces(slots, 0);
    EXPECT_EQ(slots[0], 10u);
    EXPECT_EQ(slots[1], 12u);
    EXPECT_EQ(e.AddEdgeFace(1, 1), kNoIndex);
}

TEST(EdgeArrayTest, EdgesAppendedUnlookedAreFoundLater)
{
    EdgeArray e(1);
    for (std::uint32_t i = 0; i < 3000; ++i)
        ASSERT_EQ(e.AppendNew(i + 1, i), i);
    for (std::uint32_t i = 0; i < 3000; i += 11)
        ASSERT_EQ(e.AddEdge(i, i + 1), i);
    EXPECT_EQ(e.AddEdge(0, 2), 3000u);
}

TEST(CheckedAllocTest, FreeingNullDoesNothing)
{
    CheckedFree(nullptr);
    SUCCEED();
}

TEST(CheckedAllocDeathTest, RunningOutOfMemoryEndsWithStatusOne)
{
    // The child is started afresh, so it reads these sanitizer options: a failed
    // allocation then returns null instead of aborting, as it does without sanitizers.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("ASAN_OPTIONS", "allocator_may_return_null=1", 1);
    const std::size_t impossible = std::size_t(1) << 62;
    EXPECT_EXIT(CheckedMalloc(impossible), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(CheckedRealloc(nullptr, impossible), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(CheckedCalloc(impossible, 16), testing::ExitedWithCode(1), "");
}

TEST(CheckedAllocDeathTest, AHintBeyondMemoryIsNotAnError)
{
    // Under sanitizers, blocks above 256 MiB count as unavailable, which keeps this quick.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("ASAN_OPTIONS", "allocator_may_return_null=1:max_allocation_size_mb=256", 1);
    EXPECT_EXIT(
        {
            EdgeArray edges(0xFFFFFFFF); // asks for 3 * (2^32 - 1) edge slots
            const bool usable = edges.Capacity() < kMaxElements && edges.AddEdge(1, 2) == 0 &&
                                edges.AddEdge(2, 1) == 0;
            edges.Destroy();
            std::exit(usable ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}
