#include "engine/render/scene_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

namespace {

struct KeySpec {
    int32_t shape;
    float time;
    float value;
    float p[6];
};

// A channel of the given keys and behaviours, built the way a loader does.
void Fill(OrvaSceneChannel* c, int32_t pre, int32_t post, std::initializer_list<KeySpec> keys)
{
    c->SetBehavior(pre, post);
    OrvaSceneKey* k = c->ResetKeys(static_cast<int32_t>(keys.size()));
    int i = 0;
    for (const KeySpec& s : keys) {
        k[i].shape = s.shape;
        k[i].time = s.time;
        k[i].value = s.value;
        for (int j = 0; j < 6; ++j) {
            k[i].p[j] = s.p[j];
        }
        ++i;
    }
}

// Keys at 0 (value 0) and 10 (value 10), both linear.
void Ramp(OrvaSceneChannel* c, int32_t pre, int32_t post)
{
    Fill(c, pre, post, {{kOrvaKeyLinear, 0.0f, 0.0f, {}}, {kOrvaKeyLinear, 10.0f, 10.0f, {}}});
}

TEST(OrvaSceneChannel, EmptyChannelGivesTheDefault)
{
    OrvaSceneChannel c;
    EXPECT_EQ(c.GetPreBehavior(), kOrvaChannelConstant);
    EXPECT_EQ(c.GetPostBehavior(), kOrvaChannelConstant);
    EXPECT_EQ(c.Evaluate(5.0f, 7.5f), 7.5f);
    EXPECT_EQ(c.ResetKeys(0), nullptr);
    EXPECT_EQ(c.Evaluate(-3.0f, 1.0f), 1.0f);
}

TEST(OrvaSceneChannel, OneKeyHoldsItsValueUnderEveryBehaviour)
{
    OrvaSceneChannel c;
    for (int32_t b : {kOrvaChannelConstant, kOrvaChannelRepeat, kOrvaChannelOscillate, kOrvaChannelOffsetRepeat,
                      kOrvaChannelLinear}) {
        Fill(&c, b, b, {{kOrvaKeyHermite, 5.0f, 3.0f, {0, 0, 0, 9, 9, 0}}});
        EXPECT_EQ(c.Evaluate(-20.0f, 0.0f), 3.0f) << b;
        EXPECT_EQ(c.Evaluate(5.0f, 0.0f), 3.0f) << b;
        EXPECT_EQ(c.Evaluate(40.0f, 0.0f), 3.0f) << b;
    }
    Fill(&c, kOrvaChannelReset, kOrvaChannelReset, {{kOrvaKeyHermite, 5.0f, 3.0f, {}}});
    EXPECT_EQ(c.Evaluate(4.0f, 9.0f), 0.0f);
    EXPECT_EQ(c.Evaluate(5.0f, 9.0f), 3.0f);
    EXPECT_EQ(c.Evaluate(6.0f, 9.0f), 0.0f);
}

TEST(OrvaSceneChannel, ResetAndConstantOutsideTheKeys)
{
    OrvaSceneChannel c;
    Ramp(&c, kOrvaChannelReset, kOrvaChannelReset);
    EXPECT_EQ(c.Evaluate(-1.0f, 5.0f), 0.0f);
    EXPECT_EQ(c.Evaluate(11.0f, 5.0f), 0.0f);
    EXPECT_EQ(c.Evaluate(0.0f, 5.0f), 0.0f);
    EXPECT_EQ(c.Evaluate(10.0f, 5.0f), 10.0f);
    Ramp(&c, kOrvaChannelConstant, kOrvaChannelConstant);
    EXPECT_EQ(c.Evaluate(-1.0f, 5.0f), 0.0f);
    EXPECT_EQ(c.Evaluate(11.0f, 5.0f), 10.0f);
    EXPECT_EQ(c.Evaluate(2.5f, 5.0f), 2.5f);
}

TEST(OrvaSceneChannel, RepeatOscillateAndOffsetRepeat)
{
    OrvaSceneChannel c;
    Ramp(&c, kOrvaChannelRepeat, kOrvaChannelRepeat);
    EXPECT_FLOAT_EQ(c.Evaluate(15.0f, 0.0f), 5.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(25.0f, 0.0f), 5.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(-3.0f, 0.0f), 7.0f);

    Ramp(&c, kOrvaChannelOscillate, kOrvaChannelOscillate);
    EXPECT_FLOAT_EQ(c.Evaluate(12.0f, 0.0f), 8.0f);    // cycle 1 runs backwards
    EXPECT_FLOAT_EQ(c.Evaluate(15.0f, 0.0f), 5.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(23.0f, 0.0f), 3.0f);    // cycle 2 forwards again
    EXPECT_FLOAT_EQ(c.Evaluate(-2.0f, 0.0f), 2.0f);    // cycle -1 backwards

    Ramp(&c, kOrvaChannelOffsetRepeat, kOrvaChannelOffsetRepeat);
    EXPECT_FLOAT_EQ(c.Evaluate(15.0f, 0.0f), 15.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(25.0f, 0.0f), 25.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(-5.0f, 0.0f), -5.0f);
}

TEST(OrvaSceneChannel, WrapCountsCyclesFromTimeZero)
{
    int32_t cycles = 99;
    EXPECT_FLOAT_EQ(OrvaSceneChannel::WrapTime(25.0f, 10.0f, 20.0f, &cycles), 15.0f);
    EXPECT_EQ(cycles, 1);
    EXPECT_FLOAT_EQ(OrvaSceneChannel::WrapTime(-5.0f, 0.0f, 10.0f, &cycles), 5.0f);
    EXPECT_EQ(cycles, -1);
    EXPECT_FLOAT_EQ(OrvaSceneChannel::WrapTime(3.0f, 4.0f, 4.0f, &cycles), 4.0f);
    EXPECT_EQ(cycles, 0);
    // Absurd times still give a defined cycle count.
    OrvaSceneChannel::WrapTime(3.0e38f, 0.0f, 1.0e-30f, &cycles);
    EXPECT_EQ(cycles, 0);

    OrvaSceneChannel c;
    Fill(&c, 1, kOrvaChannelRepeat, {{3, 10.0f, 0.0f, {}}, {3, 20.0f, 10.0f, {}}});
    EXPECT_FLOAT_EQ(c.Evaluate(25.0f, 0.0f), 5.0f);
}

TEST(OrvaSceneChannel, OscillateMirrorsInsideARangeAwayFromZero)
{
    // Keys at 10 and 20: the backward cycle stays between the keys.
    OrvaSceneChannel c;
    Fill(&c, 1, kOrvaChannelOscillate, {{3, 10.0f, 0.0f, {}}, {3, 20.0f, 10.0f, {}}});
    EXPECT_FLOAT_EQ(c.Evaluate(22.0f, 0.0f), 8.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(29.0f, 0.0f), 1.0f);
}

TEST(OrvaSceneChannel, LinearBehaviourExtendsTheEndTangents)
{
    OrvaSceneChannel c;
    Ramp(&c, kOrvaChannelLinear, kOrvaChannelLinear);
    // A linear first key has no outgoing tangent.
    EXPECT_EQ(c.Evaluate(-7.0f, 3.0f), 0.0f);
    EXPECT_EQ(c.Evaluate(14.0f, 3.0f), 10.0f);

    Fill(&c, kOrvaChannelLinear, kOrvaChannelLinear,
         {{kOrvaKeyHermite, 0.0f, 0.0f, {0, 0, 0, 0, 5, 0}}, {kOrvaKeyHermite, 10.0f, 10.0f, {0, 0, 0, 20, 0, 0}}});
    EXPECT_FLOAT_EQ(c.Evaluate(-4.0f, 0.0f), -2.0f);   // slope 5 / 10
    EXPECT_FLOAT_EQ(c.Evaluate(12.0f, 0.0f), 14.0f);   // slope 20 / 10
}

TEST(OrvaSceneChannel, HermiteTangentsScaleByTheNeighbouringSpans)
{
    OrvaSceneChannel c;
    Fill(&c, 1, 1, {{kOrvaKeyHermite, 0.0f, 0.0f, {0, 0, 0, 0, 2, 0}}, {kOrvaKeyHermite, 10.0f, 10.0f, {0, 0, 0, 4, 0, 0}}});
    // h1 = h2 = 0.5, h3 = 0.125, h4 = -0.125.
    EXPECT_FLOAT_EQ(c.Evaluate(5.0f, 0.0f), 5.0f + 0.25f - 0.5f);

    Fill(&c, 1, 1,
         {{kOrvaKeyBezier, 0.0f, 0.0f, {0, 0, 0, 0, 2, 0}},
          {kOrvaKeyBezier, 10.0f, 10.0f, {0, 0, 0, 4, 6, 0}},
          {kOrvaKeyBezier, 30.0f, 0.0f, {}}});
    // The incoming tangent 4 is scaled by 10 / 30.
    EXPECT_NEAR(c.Evaluate(5.0f, 0.0f), 5.25f - 0.125f * 4.0f / 3.0f, 1e-5);
    // Past the middle key: outgoing 6 x 20 / 30, incoming 0.
    EXPECT_NEAR(c.Evaluate(20.0f, 0.0f), 5.0f + 0.125f * 4.0f, 1e-5);
}

TEST(OrvaSceneChannel, TcbSplines)
{
    OrvaSceneChannel c;
    // No tension, continuity or bias over two keys: a straight line.
    Fill(&c, 1, 1, {{kOrvaKeyTcb, 0.0f, 0.0f, {}}, {kOrvaKeyTcb, 10.0f, 10.0f, {}}});
    EXPECT_FLOAT_EQ(c.Evaluate(2.5f, 0.0f), 2.5f);
    EXPECT_FLOAT_EQ(c.Evaluate(5.0f, 0.0f), 5.0f);
    // Tension 1 on both sides: no tangents, only the basis (h2 at 0.25).
    Fill(&c, 1, 1, {{kOrvaKeyTcb, 0.0f, 0.0f, {1, 0, 0, 0, 0, 0}}, {kOrvaKeyTcb, 10.0f, 10.0f, {1, 0, 0, 0, 0, 0}}});
    EXPECT_FLOAT_EQ(c.Evaluate(2.5f, 0.0f), 1.5625f);
    // A peak: leaving the middle key flat, entering the last at slope -10.
    Fill(&c, 1, 1, {{kOrvaKeyTcb, 0.0f, 0.0f, {}}, {kOrvaKeyTcb, 10.0f, 10.0f, {}}, {kOrvaKeyTcb, 20.0f, 0.0f, {}}});
    EXPECT_FLOAT_EQ(c.Evaluate(15.0f, 0.0f), 6.25f);
}

// Continuity and bias weigh the two neighbouring differences unevenly, and
// the two sides of a key differently: a = (1 - T)(1 + C)(1 + B) and b =
// (1 - T)(1 - C)(1 - B) leaving a key, a = (1 - T)(1 - C)(1 + B) and b =
// (1 - T)(1 + C)(1 - B) entering it.
TEST(OrvaSceneChannel, TcbContinuityAndBias)
{
    OrvaSceneChannel c;
    Fill(&c, 1, 1,
         {{kOrvaKeyTcb, 0.0f, 0.0f, {0, 0.5f, 0.25f, 0, 0, 0}},
          {kOrvaKeyTcb, 10.0f, 10.0f, {0, -0.5f, 0.25f, 0, 0, 0}},
          {kOrvaKeyTcb, 20.0f, 0.0f, {0, 0.5f, -0.5f, 0, 0, 0}}});
    // First span at t 0.5 (h1 = h2 = 0.5, h3 = 0.125, h4 = -0.125): leaving
    // the first key b d = 0.5 x 0.75 x 10 = 3.75; entering the middle one
    // (b (0 - 10) + a 10) x 10 / 20 with a = 1.5 x 1.25, b = 0.5 x 0.75: 7.5.
    EXPECT_FLOAT_EQ(c.Evaluate(5.0f, 0.0f), 5.0f + 0.125f * 3.75f - 0.125f * 7.5f);
    // Second span at t 0.25 (h1 = 0.84375, h3 = 0.140625, h4 = -0.046875):
    // leaving the middle key (a 10 + b (-10)) x 10 / 20 with a = 0.5 x 1.25,
    // b = 1.5 x 0.75: -2.5; entering the last a d = 0.5 x 0.5 x -10 = -2.5.
    EXPECT_FLOAT_EQ(c.Evaluate(12.5f, 0.0f), 8.4375f - 0.140625f * 2.5f + 0.046875f * 2.5f);
}

TEST(OrvaSceneChannel, SteppedHoldsThePreviousValueThroughItsOwnTime)
{
    OrvaSceneChannel c;
    Fill(&c, 1, 1, {{kOrvaKeyLinear, 0.0f, 1.0f, {}}, {kOrvaKeyStepped, 10.0f, 5.0f, {}}, {kOrvaKeyLinear, 20.0f, 7.0f, {}}});
    EXPECT_EQ(c.Evaluate(5.0f, 0.0f), 1.0f);
    EXPECT_EQ(c.Evaluate(10.0f, 0.0f), 1.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(15.0f, 0.0f), 6.0f);
    EXPECT_EQ(c.Evaluate(25.0f, 0.0f), 7.0f);
}

TEST(OrvaSceneChannel, Bezier2DSpans)
{
    OrvaSceneChannel c;
    // Time handles a third of the way in from each end: time runs evenly
    // along the curve; the value curve is 10 (3t^2 - 2t^3).
    const float third = 10.0f / 3.0f;
    Fill(&c, 1, 1,
         {{kOrvaKeyBezier2D, 0.0f, 0.0f, {0, 0, third, 0, 0, 0}},
          {kOrvaKeyBezier2D, 10.0f, 10.0f, {-third, 0, 0, 0, 0, 0}}});
    EXPECT_NEAR(c.Evaluate(5.0f, 0.0f), 5.0f, 1e-4);
    EXPECT_NEAR(c.Evaluate(2.5f, 0.0f), 1.5625f, 1e-3);
    EXPECT_NEAR(c.Evaluate(7.5f, 0.0f), 8.4375f, 1e-3);
    // A start key of another shape: default time handle, value handle p2 / 3.
    Fill(&c, 1, 1,
         {{kOrvaKeyLinear, 0.0f, 0.0f, {0, 3, 0, 0, 0, 0}},
          {kOrvaKeyBezier2D, 10.0f, 10.0f, {-third, 0, 0, 0, 0, 0}}});
    EXPECT_NEAR(c.Evaluate(5.0f, 0.0f), 5.375f, 1e-4);
    // The bisection ends even for a time the curve never reaches.
    EXPECT_NEAR(OrvaSceneChannel::BisectBezier(0.0f, third, 2.0f * third, 10.0f, 50.0f), 1.0f, 1e-6);
    EXPECT_NEAR(OrvaSceneChannel::BisectBezier(0.0f, third, 2.0f * third, 10.0f, NAN), 0.0f, 1e-6);
}

TEST(OrvaSceneChannel, UnknownShapesAndBehaviours)
{
    OrvaSceneChannel c;
    Fill(&c, 1, kOrvaChannelOffsetRepeat, {{kOrvaKeyLinear, 0.0f, 0.0f, {}}, {9, 10.0f, 10.0f, {}}});
    EXPECT_EQ(c.Evaluate(5.0f, 3.0f), 0.0f);
    EXPECT_EQ(c.Evaluate(15.0f, 3.0f), 10.0f);   // 0 plus the offset
    // An unknown behaviour leaves the time alone: the last span extends.
    Ramp(&c, 7, 7);
    EXPECT_FLOAT_EQ(c.Evaluate(15.0f, 0.0f), 15.0f);
    EXPECT_FLOAT_EQ(c.Evaluate(-2.0f, 0.0f), -2.0f);
}

TEST(OrvaSceneChannel, KeysSharingATimeGiveTheLaterKey)
{
    OrvaSceneChannel c;
    for (int32_t shape : {kOrvaKeyTcb, kOrvaKeyHermite, kOrvaKeyLinear}) {
        Fill(&c, kOrvaChannelLinear, kOrvaChannelRepeat,
             {{shape, 0.0f, 0.0f, {}}, {shape, 0.0f, 5.0f, {}}, {shape, 10.0f, 10.0f, {}}});
        EXPECT_EQ(c.Evaluate(0.0f, 0.0f), 5.0f) << shape;
        EXPECT_TRUE(std::isfinite(c.Evaluate(5.0f, 0.0f))) << shape;
        EXPECT_TRUE(std::isfinite(c.Evaluate(-5.0f, 0.0f))) << shape;
        EXPECT_TRUE(std::isfinite(c.Evaluate(15.0f, 0.0f))) << shape;
    }
    // All keys at one time: the wrap collapses onto it.
    Fill(&c, kOrvaChannelRepeat, kOrvaChannelRepeat, {{3, 4.0f, 1.0f, {}}, {3, 4.0f, 2.0f, {}}});
    EXPECT_EQ(c.Evaluate(9.0f, 0.0f), 2.0f);
    Fill(&c, kOrvaChannelLinear, kOrvaChannelLinear, {{1, 4.0f, 1.0f, {}}, {1, 4.0f, 2.0f, {}}});
    EXPECT_EQ(c.Evaluate(1.0f, 0.0f), 1.0f);
    EXPECT_EQ(c.Evaluate(9.0f, 0.0f), 2.0f);
}

}  // namespace
