#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/core/math.h"
#include "engine/core/matrix.h"
#include "engine/core/vector.h"
#include "platform/gfx/soft_device.h"

namespace {

class OrvaMatrixTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OrvaMath::Initialize()); }
    void TearDown() override { OrvaMath::Destroy(); }
};

OrvaVector Apply(const OrvaMatrix& m, float x, float y, float z)
{
    OrvaVector v(x, y, z);
    v.Transform(m);
    return v;
}

void ExpectVector(const OrvaVector& v, float x, float y, float z, float tolerance = 1e-6f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

void ExpectIdentity(const OrvaMatrix& m, float tolerance)
{
    for (int r = 1; r <= 4; ++r) {
        for (int c = 1; c <= 4; ++c) {
            EXPECT_NEAR(m.GetElement(r, c), r == c ? 1.0f : 0.0f, tolerance) << r << ", " << c;
        }
    }
}

}  // namespace

TEST_F(OrvaMatrixTest, ElementsAreRowMajorFromOne)
{
    OrvaMatrix m;
    m.Translation(5.0f, 6.0f, 7.0f);
    EXPECT_EQ(m.GetElement(4, 1), 5.0f);
    EXPECT_EQ(m.GetElement(4, 3), 7.0f);
    EXPECT_EQ(m.GetData()[13], 6.0f);
    m.SetElement(2, 3, 9.0f);
    EXPECT_EQ(m.GetData()[6], 9.0f);

    platform::Matrix4 device{};
    device.m[3][1] = 6.0f;
    OrvaMatrix fromDevice;
    fromDevice = device;
    EXPECT_EQ(fromDevice.GetElement(4, 2), 6.0f);
    EXPECT_EQ(fromDevice.GetElement(2, 4), 0.0f);

    OrvaMatrix copy;
    copy.Set(m.GetData());
    EXPECT_EQ(copy.GetElement(2, 3), 9.0f);
    copy.Transpose();
    EXPECT_EQ(copy.GetElement(3, 2), 9.0f);
    EXPECT_EQ(copy.GetElement(1, 4), 5.0f);

    OrvaMatrix scale;
    scale.Scaling(2.0f, 3.0f, 4.0f);
    ExpectVector(Apply(scale, 1, 1, 1), 2, 3, 4);
}

TEST_F(OrvaMatrixTest, TableRotationsTurnAxesByQuarterTurns)
{
    OrvaMatrix m;
    m.RotationX(16384);
    EXPECT_EQ(m.GetElement(2, 3), 1.0f);
    EXPECT_EQ(m.GetElement(3, 2), -1.0f);
    ExpectVector(Apply(m, 0, 1, 0), 0, 0, 1);
    m.RotationY(16384 + 65536);  // wraps
    EXPECT_EQ(m.GetElement(1, 3), -1.0f);
    EXPECT_EQ(m.GetElement(3, 1), 1.0f);
    ExpectVector(Apply(m, 0, 0, 1), 1, 0, 0);
    m.RotationZ(-49152);
    EXPECT_EQ(m.GetElement(1, 2), 1.0f);
    EXPECT_EQ(m.GetElement(2, 1), -1.0f);
    ExpectVector(Apply(m, 1, 0, 0), 0, 1, 0);
    // Every rotation starts from the identity: nothing of the last remains.
    EXPECT_EQ(m.GetElement(3, 3), 1.0f);
    EXPECT_EQ(m.GetElement(4, 4), 1.0f);

    m.RotationZ(12345);
    EXPECT_EQ(m.GetElement(1, 1), OrvaMath::Cos(12345));
    EXPECT_EQ(m.GetElement(1, 2), OrvaMath::Sin(12345));
    OrvaVector v = Apply(m, 3.0f, -4.0f, 2.0f);
    EXPECT_NEAR(v.Length(), std::sqrt(29.0f), 1e-5f);
}

TEST_F(OrvaMatrixTest, EulerTurnsAboutXThenYThenZ)
{
    OrvaMatrix m;
    // +Y: X takes it to +Z, Y then takes +Z to +X, Z then +X to +Y.
    m.RotationEuler(16384, 16384, 16384);
    ExpectVector(Apply(m, 0, 1, 0), 0, 1, 0);
    ExpectVector(Apply(m, 1, 0, 0), 0, 0, -1);
    m.RotationEuler(16384, 16384, 0);
    ExpectVector(Apply(m, 0, 1, 0), 1, 0, 0);
    m.RotationEuler(0, 16384, 16384);
    ExpectVector(Apply(m, 0, 0, 1), 0, 1, 0);
}

TEST_F(OrvaMatrixTest, QuaternionMatchesTableRotation)
{
    // A quarter turn about X: (sin 45, 0, 0, cos 45).
    const float h = std::sqrt(0.5f);
    const float q[4] = {h, 0.0f, 0.0f, h};
    OrvaMatrix fromQuat, fromTable;
    fromQuat.RotationQuaternion(q);
    fromTable.RotationX(16384);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(fromQuat.GetData()[i], fromTable.GetData()[i], 1e-6f) << i;
    }
}

TEST_F(OrvaMatrixTest, ProductsAndInverses)
{
    OrvaMatrix turn, move, both;
    turn.RotationZ(16384);
    move.Translation(5.0f, 0.0f, 0.0f);
    both.Multiply(turn, move);
    ExpectVector(Apply(both, 1, 0, 0), 5, 1, 0);
    both = move;
    both *= turn;
    ExpectVector(Apply(both, 1, 0, 0), 0, 6, 0);
    // The result may be an operand.
    both.Multiply(both, both);
    ExpectVector(Apply(both, 1, 0, 0), -6, 5, 0);

    std::mt19937 rng(11);
    std::uniform_int_distribution<int> angle(0, 65535);
    std::uniform_real_distribution<float> value(-20.0f, 20.0f);
    for (int i = 0; i < 100; ++i) {
        OrvaMatrix m, scale, shift, inv;
        m.RotationEuler(angle(rng), angle(rng), angle(rng));
        scale.Scaling(1.5f, 0.5f, 2.0f);
        shift.Translation(value(rng), value(rng), value(rng));
        m.Multiply(scale);
        m *= shift;
        inv.Inverse(m);
        OrvaMatrix product;
        product.Multiply(m, inv);
        ExpectIdentity(product, 2e-5f);
    }

    // A singular matrix has no inverse and stays as it was.
    OrvaMatrix flat;
    flat.Scaling(1.0f, 0.0f, 1.0f);
    flat.Inverse();
    EXPECT_EQ(flat.GetElement(2, 2), 0.0f);
    EXPECT_EQ(flat.GetElement(1, 1), 1.0f);
}
