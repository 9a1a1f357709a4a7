#include <polyvant/Vector.h>

#include <cmath>
#include <gtest/gtest.h>

using namespace polyvant;

TEST(VectorTest, AngleIsZeroAgainstANullVectorAndClampedWhenAntiParallel)
{
    const double x[3] = {1, 0, 0};
    const double zero[3] = {0, 0, 0};
    const double minusTwoX[3] = {-2, 0, 0};
    const double diagonal[3] = {1, 1, 0};
    EXPECT_EQ(VecAngle(x, zero), 0.0);
    EXPECT_EQ(VecAngle(x, minusTwoX), 180.0);
    EXPECT_NEAR(VecAngle(x, diagonal), 45.0, 1e-12);
    const double nan3[3] = {NAN, 0, 0};
    EXPECT_EQ(VecAngle(x, nan3), 0.0);
}

TEST(VectorTest, NormalizeLeavesZeroAndNanAlone)
{
    double zero[3] = {0, 0, 0};
    VecNormalize(zero);
    EXPECT_EQ(zero[0], 0.0);
    EXPECT_EQ(zero[1], 0.0);
    EXPECT_EQ(zero[2], 0.0);
    double v[3] = {3, 0, 4};
    VecNormalize(v);
    EXPECT_DOUBLE_EQ(v[0], 0.6);
    EXPECT_DOUBLE_EQ(v[2], 0.8);
}

TEST(VectorTest, EqualityToleranceIsStrictlyBelowOneMillionth)
{
    const double origin[3] = {0, 0, 0};
    const double inside[3] = {9.99e-7, 0, 0};
    const double edge[3] = {1e-6, 0, 0};
    EXPECT_EQ(VecEqual(origin, inside), 1);
    EXPECT_EQ(VecEqual(origin, edge), 0);
}

TEST(VectorTest, TriangleNormalPointsAwayFromACounterClockwiseViewer)
{
    const double tri[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    double n[3];
    TriangleNormal(tri, n);
    EXPECT_EQ(n[0], 0.0);
    EXPECT_EQ(n[1], 0.0);
    EXPECT_EQ(n[2], -1.0);
}

TEST(VectorTest, MinMaxGiveTheSameResultWhenOutputAliasesAnInput)
{
    const double b[3] = {1, -5, 3};
    double a[3] = {2, -1, 3};
    double separate[3];
    VecMin(separate, a, b);
    VecMin(a, a, b);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a[i], separate[i]);
    double c[3] = {2, -1, 3};
    VecMax(separate, c, b);
    VecMax(c, c, b);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c[i], separate[i]);
}
