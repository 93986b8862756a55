#include <gtest/gtest.h>

#include <cmath>

#include "engine/core/math.h"

namespace {

constexpr double kUnitsPerRadian = 65536.0 / 6.283185307179586;

// The module is started per test and stopped after it, so each test sees
// the tables; QueriesAgreeWithoutTables stops it on purpose.
class OrvaMathTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OrvaMath::Initialize()); }
    void TearDown() override { OrvaMath::Destroy(); }
};

// Distance between two angles along the circle, in units.
int CircularDistance(int a, int b)
{
    int d = (a - b) & 0xFFFF;
    return d > 32768 ? 65536 - d : d;
}

}  // namespace

TEST_F(OrvaMathTest, QuarterTurnsAreExactAndAnglesWrap)
{
    EXPECT_EQ(OrvaMath::Sin(0), 0.0f);
    EXPECT_EQ(OrvaMath::Sin(16384), 1.0f);
    EXPECT_EQ(OrvaMath::Sin(32768), 0.0f);
    EXPECT_EQ(OrvaMath::Sin(49152), -1.0f);
    EXPECT_EQ(OrvaMath::Cos(0), 1.0f);
    EXPECT_EQ(OrvaMath::Cos(32768), -1.0f);
    // Only the low 16 bits count, also for negative and huge angles.
    EXPECT_EQ(OrvaMath::Sin(65536 + 16384), 1.0f);
    EXPECT_EQ(OrvaMath::Sin(-16384), -1.0f);
    EXPECT_EQ(OrvaMath::Cos(49152 + 65536 * 3), 0.0f);
    EXPECT_EQ(OrvaMath::Sin(1000), OrvaMath::Sin(1000 - 65536 * 7));
    EXPECT_EQ(OrvaMath::Cos(INT32_MAX), OrvaMath::Sin(16383));
    EXPECT_EQ(OrvaMath::Angle(70000), 4464);
    EXPECT_EQ(OrvaMath::Angle(-1), 65535);
}

TEST_F(OrvaMathTest, TableFollowsTheSineAndItsSymmetries)
{
    for (int a = 0; a < 65536; a += 97) {
        EXPECT_NEAR(OrvaMath::Sin(a), std::sin(a / kUnitsPerRadian), 1e-6) << a;
        EXPECT_EQ(OrvaMath::Sin(a + 32768), -OrvaMath::Sin(a)) << a;
        EXPECT_EQ(OrvaMath::Cos(a), OrvaMath::Sin(a + 16384)) << a;
    }
}

TEST_F(OrvaMathTest, QueriesAgreeWithoutTables)
{
    float withTables[4] = {OrvaMath::Sin(12345), OrvaMath::Cos(777), 0.0f, 0.0f};
    withTables[2] = float(OrvaMath::Atan2(0.3f, -0.8f));
    OrvaMath::Destroy();
    EXPECT_EQ(OrvaMath::Sin(12345), withTables[0]);
    EXPECT_EQ(OrvaMath::Cos(777), withTables[1]);
    EXPECT_EQ(float(OrvaMath::Atan2(0.3f, -0.8f)), withTables[2]);
}

TEST_F(OrvaMathTest, RotatePointTurnsCounterClockwise)
{
    float x = 1.0f, y = 0.0f;
    OrvaMath::RotatePoint(x, y, 16384);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 1.0f);
    OrvaMath::RotatePoint(x, y, 16384 + 65536);
    EXPECT_EQ(x, -1.0f);
    EXPECT_EQ(y, 0.0f);

    x = 3.0f;
    y = 4.0f;
    OrvaMath::RotatePoint(x, y, 5000);
    EXPECT_NEAR(std::hypot(x, y), 5.0, 1e-5);
    EXPECT_NEAR(std::atan2(y, x), std::atan2(4.0, 3.0) + 5000 / kUnitsPerRadian, 1e-5);
}

TEST_F(OrvaMathTest, Atan2FindsTheDirectionWithinOneUnit)
{
    EXPECT_EQ(OrvaMath::Atan2(0.0f, 1.0f), 0);
    EXPECT_EQ(OrvaMath::Atan2(1.0f, 0.0f), 16384);
    EXPECT_EQ(OrvaMath::Atan2(0.0f, -2.0f), 32768);
    EXPECT_EQ(OrvaMath::Atan2(-5.0f, 0.0f), 49152);
    EXPECT_EQ(OrvaMath::Atan2(1.0f, 1.0f), 8192);
    EXPECT_EQ(OrvaMath::Atan2(-3.0f, -3.0f), 40960);
    EXPECT_EQ(OrvaMath::Atan2(0.0f, 0.0f), 0);
    EXPECT_EQ(OrvaMath::Atan2(NAN, 1.0f), 0);
    EXPECT_EQ(OrvaMath::Atan2(INFINITY, 1.0f), 16384);

    for (int a = 0; a < 65536; a += 37) {
        double radians = a / kUnitsPerRadian;
        float y = float(7.0 * std::sin(radians));
        float x = float(7.0 * std::cos(radians));
        EXPECT_LE(CircularDistance(OrvaMath::Atan2(y, x), a), 1) << a;
        // And it undoes the table's own sine and cosine.
        EXPECT_LE(CircularDistance(OrvaMath::Atan2(OrvaMath::Sin(a), OrvaMath::Cos(a)), a), 1) << a;
    }
}
