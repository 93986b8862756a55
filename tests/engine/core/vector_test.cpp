#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "engine/core/matrix.h"
#include "engine/core/vector.h"

namespace {

void ExpectVector(const OrvaVector& v, float x, float y, float z, float tolerance = 1e-6f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

}  // namespace

TEST(OrvaVector, DotCrossAndLength)
{
    OrvaVector a(1.0f, 2.0f, 3.0f);
    OrvaVector b(4.0f, -5.0f, 6.0f);
    EXPECT_EQ(a.Dot(b), 12.0f);
    EXPECT_EQ(a.LengthSq(), 14.0f);
    EXPECT_FLOAT_EQ(OrvaVector(3.0f, 0.0f, 4.0f).Length(), 5.0f);

    OrvaVector c;
    c.Cross(OrvaVector(1, 0, 0), OrvaVector(0, 1, 0));
    ExpectVector(c, 0, 0, 1);
    c.Cross(a, b);
    ExpectVector(c, 27, 6, -13);
    // The result may be an operand.
    a.Cross(a, b);
    ExpectVector(a, 27, 6, -13);

    OrvaVector n;
    n.Normalize(OrvaVector(0.0f, -3.0f, 4.0f));
    ExpectVector(n, 0, -0.6f, 0.8f);
    n.Scale(10.0f, 2.0f, -1.0f);
    ExpectVector(n, 0, -1.2f, -0.8f);
    n.Normalize();
    EXPECT_FLOAT_EQ(n.Length(), 1.0f);
    // No zero-length test: the caller gets non-numbers.
    OrvaVector zero;
    zero.Normalize();
    EXPECT_TRUE(std::isnan(zero.x));
}

TEST(OrvaVector, DifferenceIsHeldUntilTheNextSubtraction)
{
    OrvaVector a(5.0f, 5.0f, 5.0f);
    OrvaVector b(1.0f, 2.0f, 3.0f);
    OrvaVector& first = a - b;
    ExpectVector(first, 4, 3, 2);
    OrvaVector& second = b - a;
    EXPECT_EQ(&first, &second);
    ExpectVector(first, -4, -3, -2);

    a += b;
    ExpectVector(a, 6, 7, 8);
    (a += b) += b;
    ExpectVector(a, 8, 11, 14);

    // Another thread's subtractions do not touch this thread's value.
    OrvaVector* otherHeld = nullptr;
    std::thread other([&] {
        OrvaVector p(100.0f, 100.0f, 100.0f);
        for (int i = 0; i < 1000; ++i) {
            otherHeld = &(p - b);
        }
    });
    other.join();
    EXPECT_NE(otherHeld, &first);
    ExpectVector(first, -4, -3, -2);
}

TEST(OrvaVector, TransformsDropOrDivideByW)
{
    OrvaMatrix m;
    m.Translation(1.0f, 2.0f, 3.0f);
    m.SetElement(3, 4, 1.0f);  // w = z + 1
    OrvaVector p(1.0f, 1.0f, 1.0f);
    OrvaVector out;
    out.Transform(p, m);
    ExpectVector(out, 2, 3, 4);
    out.TransformCoord(p, m);
    ExpectVector(out, 1, 1.5f, 2);
    out.TransformNormal(p, m);
    ExpectVector(out, 1, 1, 1);
    // In place, w comes from the point before it moved.
    p.TransformCoord(p, m);
    ExpectVector(p, 1, 1.5f, 2);

    // In place, reading every component before writing any.
    OrvaMatrix turn;
    turn.Identity();
    turn.SetElement(1, 1, 0.0f);
    turn.SetElement(1, 2, 1.0f);
    turn.SetElement(2, 1, -1.0f);
    turn.SetElement(2, 2, 0.0f);
    turn.SetElement(4, 3, 7.0f);
    OrvaVector v(2.0f, 3.0f, 0.0f);
    v.Transform(turn);
    ExpectVector(v, -3, 2, 7);
    v.TransformNormal(turn);
    ExpectVector(v, -2, -3, 7);
    v.TransformCoord(v, turn);
    ExpectVector(v, 3, -2, 14);
}
