#include "engine/render/animation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/render/frame.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

void ExpectMatrix(const OrvaMatrix& m, const float (&want)[16], float tolerance = 1e-6f)
{
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(m.GetData()[i], want[i], tolerance) << "element " << i;
    }
}

TEST(OrvaAnimation, ScaleAndPositionKeysAtBetweenBeforeAndAfter)
{
    OrvaAnimation a;
    const OrvaVectorKey scale[2] = {{0, 1.0f, 1.0f, 1.0f}, {100, 3.0f, 3.0f, 3.0f}};
    a.SetScaleKeys(scale, 2);
    EXPECT_FLOAT_EQ(a.EvaluateScale(50.0f)->GetElement(1, 1), 2.0f);
    EXPECT_FLOAT_EQ(a.EvaluateScale(-10.0f)->GetElement(2, 2), 1.0f);
    EXPECT_FLOAT_EQ(a.EvaluateScale(250.0f)->GetElement(3, 3), 3.0f);
    // The fraction takes the time before truncation.
    EXPECT_FLOAT_EQ(a.EvaluateScale(50.5f)->GetElement(1, 1), 2.01f);
    EXPECT_FLOAT_EQ(a.EvaluateScale(0.0f)->GetElement(1, 1), 1.0f);
    EXPECT_FLOAT_EQ(a.EvaluateScale(100.0f)->GetElement(1, 1), 3.0f);
    EXPECT_FLOAT_EQ(a.EvaluateScale(50.0f)->GetElement(4, 4), 1.0f);

    const OrvaVectorKey position[3] = {{-20, 0.0f, 0.0f, 0.0f}, {0, 4.0f, -2.0f, 8.0f}, {40, 8.0f, 2.0f, 0.0f}};
    a.SetPositionKeys(position, 3);
    const OrvaMatrix* m = a.EvaluatePosition(-10.0f);
    EXPECT_FLOAT_EQ(m->GetElement(4, 1), 2.0f);
    EXPECT_FLOAT_EQ(m->GetElement(4, 2), -1.0f);
    m = a.EvaluatePosition(30.0f);
    EXPECT_FLOAT_EQ(m->GetElement(4, 1), 7.0f);
    EXPECT_FLOAT_EQ(m->GetElement(4, 3), 2.0f);
    EXPECT_FLOAT_EQ(m->GetElement(1, 1), 1.0f);
    // Huge and non-number times hold the last and first key.
    EXPECT_FLOAT_EQ(a.EvaluatePosition(1.0e30f)->GetElement(4, 1), 8.0f);
    EXPECT_FLOAT_EQ(a.EvaluatePosition(-1.0e30f)->GetElement(4, 2), 0.0f);
    EXPECT_FLOAT_EQ(a.EvaluatePosition(std::nanf(""))->GetElement(4, 1), 0.0f);
}

TEST(OrvaAnimation, MatrixKeysSwitchOnceTheTimePassesAKey)
{
    OrvaAnimation a;
    OrvaMatrixKey keys[5];
    for (int i = 0; i < 5; ++i) {
        keys[i].time = 10 * i;
        keys[i].matrix.Translation(float(10 * i), 0.0f, 0.0f);
    }
    a.SetMatrixKeys(keys, 5);
    const struct {
        float time;
        float key;
    } cases[] = {{10.0f, 10.0f}, {30.0f, 20.0f}, {31.0f, 30.0f}, {45.0f, 40.0f}, {-5.0f, 0.0f}, {19.9f, 10.0f}};
    for (const auto& c : cases) {
        EXPECT_EQ(a.EvaluateMatrix(c.time)->GetElement(4, 1), c.key) << "time " << c.time;
    }
}

TEST(OrvaAnimation, RotationKeysTurnByTheirConjugate)
{
    OrvaAnimation a;
    // Stored (x, y, z, w) = (0, 0, -sin 45, cos 45): the matrix turns +X to
    // +Y (a quarter turn about Z in the row-vector sense).
    const float h = std::sqrt(0.5f);
    const OrvaRotationKey keys[2] = {{0, 0.0f, 0.0f, 0.0f, 1.0f}, {10, 0.0f, 0.0f, -h, h}};
    a.SetRotationKeys(keys, 2);
    const float quarter[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrix(*a.EvaluateRotation(10.0f), quarter);
    ExpectMatrix(*a.EvaluateRotation(99.0f), quarter);
    // Half way: an eighth of a turn.
    const float c = std::cos(0.25f * 3.14159265f), s = std::sin(0.25f * 3.14159265f);
    const float eighth[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrix(*a.EvaluateRotation(5.0f), eighth);
}

TEST(OrvaAnimation, KeySearchStaysInsideTheKeys)
{
    OrvaAnimation a;
    // Equal times give the earlier key, not a zero divided by zero.
    const OrvaVectorKey same[4] = {{0, 0, 0, 0}, {5, 1, 1, 1}, {5, 2, 2, 2}, {10, 3, 3, 3}};
    a.SetScaleKeys(same, 4);
    const float x = a.EvaluateScale(5.0f)->GetElement(1, 1);
    EXPECT_TRUE(x == 1.0f || x == 2.0f) << x;
    EXPECT_FALSE(std::isnan(a.EvaluateScale(5.5f)->GetElement(1, 1)));
    // Keys out of order: whatever comes back lies inside the array.
    OrvaVectorKey shuffled[7];
    const int times[7] = {0, 50, 10, 40, 20, 30, 60};
    for (int i = 0; i < 7; ++i) shuffled[i] = {times[i], float(i), 0, 0};
    for (int t = -5; t < 70; ++t) {
        const OrvaVectorKey* k = a.FindPositionKey(shuffled, 7, t);
        ASSERT_NE(k, nullptr);
        EXPECT_GE(k, shuffled);
        EXPECT_LT(k, shuffled + 7);
    }
    EXPECT_EQ(a.FindScaleKey(shuffled, 0, 5), nullptr);
    a.SetPositionKeys(shuffled, 7);
    for (int t = -5; t < 70; ++t) {
        EXPECT_FALSE(std::isnan(a.EvaluatePosition(float(t) + 0.5f)->GetElement(4, 1)));
    }
}

// A frame tree with an animation: rotation only on Arm, position keys on
// Hand, an animation naming a frame defined after it, two frames sharing a
// name, and key sets that are refused.
const char kTree[] = R"(
AnimationSet Early { Animation { {Late} AnimationKey { 2; 1; 0; 3; 9.0,9.0,9.0;; } } }
Frame Arm {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 1.0,2.0,3.0,1.0;; }
  Frame Hand {
    FrameTransformMatrix { 2.0,0.0,0.0,0.0, 0.0,2.0,0.0,0.0, 0.0,0.0,2.0,0.0, 5.0,0.0,0.0,1.0;; }
  }
  Frame Twin { }
}
Frame Twin { }
Frame Still {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 7.0,0.0,0.0,1.0;; }
}
Frame Late { }
AnimationSet Walk {
  Animation {
    {Arm}
    AnimationKey { 0; 2; 0; 4; 1.0,0.0,0.0,0.0;;, 10; 4; 0.70710678,0.0,0.0,-0.70710678;;; }
  }
  Animation {
    AnimationKey { 2; 2; 0; 3; 0.0,0.0,0.0;;, 10; 3; 0.0,10.0,0.0;;; }
    AnimationKey { 2; 2; 0; 3; 1.0,0.0,0.0;;, 10; 3; 1.0,20.0,0.0;;; }
    {Hand}
  }
  Animation { {Twin} AnimationKey { 1; 1; 0; 3; 2.0,2.0,2.0;; } }
  Animation { {Still} AnimationKey { 2; 1; 0; 2; 1.0,1.0;; } AnimationKey { 3; 1; 0; 3; 1.0,1.0,1.0;; } }
}
)";

class OrvaFrameTest : public meshtest::MeshFixture {};

TEST_F(OrvaFrameTest, NamesAndTheirLimits)
{
    OrvaFrame f;
    EXPECT_STREQ(f.GetName(), "");
    const std::string longName(300, 'n');
    f.SetName(longName.c_str());
    EXPECT_EQ(std::string(f.GetName()), std::string(255, 'n'));
    EXPECT_EQ(f.CompareName(longName.c_str()), 0);
    f.SetName("Arm");
    EXPECT_EQ(f.CompareName("Arm"), 1);
    EXPECT_EQ(f.CompareName("arm"), 0);
    EXPECT_EQ(f.CompareName(nullptr), 0);
    f.SetName(nullptr);
    EXPECT_STREQ(f.GetName(), "");
}

TEST_F(OrvaFrameTest, LoadsTreeBindsAnimationsAndAnimates)
{
    for (const xtest::Bytes& bytes : {xtest::Text(kTree), xtest::Binary(kTree), xtest::Compressed(kTree, "bzip")}) {
        animations.ReleaseAll();
        while (frames.GetCount() > 1) frames.GetAt(1)->Release();
        ASSERT_TRUE(Load(bytes)) << error;
        // Depth first, parents first, after the root.
        const char* order[] = {"MASTER_FRAME", "Arm", "Hand", "Twin", "Twin", "Still", "Late"};
        ASSERT_EQ(frames.GetCount(), 7);
        for (int i = 0; i < 7; ++i) EXPECT_STREQ(FrameAt(i)->GetName(), order[i]);
        EXPECT_EQ(FrameAt(2)->GetParent(), FrameAt(1));
        EXPECT_EQ(FrameAt(1)->GetParent(), root);
        ASSERT_EQ(animations.GetCount(), 5);
        // Late was loaded after its animation, which drives it all the same.
        EXPECT_EQ(static_cast<OrvaObject*>(FrameAt(6)->GetAnimation()), animations.GetAt(0));
        EXPECT_STREQ(static_cast<OrvaAnimation*>(animations.GetAt(0))->GetName(), "Late");
        // Both Twins share one animation; the second position set replaced
        // the first; Still's sets are refused (too few values, kind 3).
        EXPECT_EQ(FrameAt(3)->GetAnimation(), FrameAt(4)->GetAnimation());
        EXPECT_NE(FrameAt(3)->GetAnimation(), nullptr);
        OrvaAnimation* hand = FrameAt(2)->GetAnimation();
        ASSERT_NE(hand, nullptr);
        EXPECT_EQ(hand->GetPositionKeyCount(), 2u);
        EXPECT_EQ(hand->GetPositionKeys()[0].x, 1.0f);
        OrvaAnimation* still = FrameAt(5)->GetAnimation();
        ASSERT_NE(still, nullptr);
        EXPECT_EQ(still->GetPositionKeyCount() + still->GetScaleKeyCount() + still->GetRotationKeyCount() +
                      still->GetMatrixKeyCount(),
                  0u);
        const OrvaRotationKey& r = FrameAt(1)->GetAnimation()->GetRotationKeys()[1];
        EXPECT_EQ(r.time, 10);
        EXPECT_FLOAT_EQ(r.w, 0.70710678f);
        EXPECT_FLOAT_EQ(r.z, -0.70710678f);

        OrvaModelLoader::Animate(&frames, 10.0f);
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        ExpectMatrix(*root->GetCombinedMatrix(), identity);
        // Arm: a quarter turn (+X to +Y) keeping its loaded place (1, 2, 3).
        const float arm[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
        ExpectMatrix(*FrameAt(1)->GetLocalMatrix(), arm);
        ExpectMatrix(*FrameAt(1)->GetCombinedMatrix(), arm);
        // Hand: position keys alone, its loaded matrix unused: (1, 20, 0);
        // combined = hand x arm: (1, 20, 0) turned to (-20, 1, 0), + (1, 2, 3).
        const float handLocal[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 20, 0, 1};
        ExpectMatrix(*FrameAt(2)->GetLocalMatrix(), handLocal);
        const float handCombined[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, -19, 3, 3, 1};
        ExpectMatrix(*FrameAt(2)->GetCombinedMatrix(), handCombined, 1e-5f);
        // Still, without usable keys, keeps its translation on the identity.
        EXPECT_EQ(FrameAt(5)->GetLocalMatrix()->GetElement(4, 1), 7.0f);

        OrvaMatrix out;
        ASSERT_TRUE(OrvaModelLoader::GetFrameMatrix(&frames, &out, 2, 5.0f));
        EXPECT_FLOAT_EQ(out.GetElement(4, 2), 10.0f);
        EXPECT_EQ(FrameAt(2)->GetLocalMatrix()->GetElement(4, 2), 20.0f);
        ASSERT_TRUE(OrvaModelLoader::GetFrameMatrix(&frames, &out, 0, 5.0f));
        ExpectMatrix(out, identity);
        ASSERT_TRUE(OrvaModelLoader::GetFrameMatrix(&frames, &out, 6, 5.0f));
        const float late[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 9, 9, 9, 1};
        ExpectMatrix(out, late);
        EXPECT_FALSE(OrvaModelLoader::GetFrameMatrix(&frames, &out, 7, 5.0f));
        EXPECT_FALSE(OrvaModelLoader::GetFrameMatrix(&frames, &out, -1, 5.0f));
    }
}

}  // namespace
