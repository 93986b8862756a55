#pragma once
// The scene the child-pattern tests of base ids 111 to 163 share, and the
// list of emissions a call should make, built in call order.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/game/patterns/trace_util.h"

namespace childscene {

// The enemy, the player, the aim angle and the move angle stand apart, so
// that the aim, the aim angle and the move angle all differ.
constexpr float kEnemyX = 300.0f, kEnemyY = 120.0f;
constexpr float kPlayerX = 380.0f, kPlayerY = 410.0f;
constexpr float kAimAngle = 0.7f, kMoveAngle = 2.1f;
constexpr int kSlot = 10;

inline TraceOptions Options(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kEnemyX, .enemyY = kEnemyY, .enemyAim = kAimAngle, .enemyMove = kMoveAngle, .playerX = kPlayerX, .playerY = kPlayerY, .slot = kSlot}, id, difficulty, clock, once);
}

inline std::vector<std::string> Emit(int id, int difficulty, int clock, int once = 0)
{
    return TraceEmissions(PatternTraceRun(Options(id, difficulty, clock, once)));
}

inline float AimFromPoint(float x, float y)
{
    return TraceAim(x, y, kPlayerX, kPlayerY);
}

// The owner of a call's bullets: the enemy, or none on the death path.
inline int OwnerOf(int once)
{
    return once != 0 ? -1 : kSlot;
}

// The emissions one call should make, in order. Random draws are taken from
// the actual trace, after checking their range and place.
class Expected {
public:
    // `childSlotStep` 0 keeps every child in the first slot (a full table).
    Expected(std::vector<std::string> actual, int owner, int firstChildSlot = kSlot + 1, int childSlotStep = 1)
        : actual_(std::move(actual)), owner_(owner), childSlot_(firstChildSlot), childSlotStep_(childSlotStep)
    {
    }

    int Rnd(int lo, int hi)
    {
        int gotLo = 0, gotHi = 0, value = lo;
        const size_t at = want_.size();
        if (at >= actual_.size() ||
            std::sscanf(actual_[at].c_str(), "rnd %d %d -> %d", &gotLo, &gotHi, &value) != 3) {
            value = lo;
        }
        want_.push_back(TraceFormat("rnd %d %d -> %d", lo, hi, value));
        return value;
    }
    void Child(int templateId, float x, float y, float aim, float move)
    {
        want_.push_back(TraceFormat("enemy template=%d x=%.9g y=%.9g aim=%.9g move=%.9g slot=-1 -> %d", templateId, x, y,
                               aim, move, childSlot_));
        childSlot_ += childSlotStep_;
    }
    void Shot(float x0, float y0, int kind, int life, float speed, float heading, float spin = 0.0f)
    {
        want_.push_back(TraceFormat("bullet slot=%d owner=%d kind=%d life=%d x0=%.9g y0=%.9g r1=0 r2=0 dr1=%.9g dr2=0 "
                               "A=%.9g dA=0 B=%.9g C=0 dB=0 dC=0 age=0",
                               bulletSlot_++, owner_, kind, life, x0, y0, speed, spin, heading));
    }
    void Effect(float x, float y) { want_.push_back(TraceFormat("effect kind=12 x=%.9g y=%.9g angle=0 age=0", x, y)); }
    void Sound(int n) { want_.push_back(TraceFormat("sound %d", n)); }

    void Check() const
    {
        EXPECT_EQ(actual_.size(), want_.size());
        for (size_t i = 0; i < actual_.size() && i < want_.size(); ++i) {
            if (actual_[i] != want_[i]) {
                ADD_FAILURE() << "emission " << i << "\n  got:  " << actual_[i] << "\n  want: " << want_[i];
                return;
            }
        }
    }

private:
    std::vector<std::string> actual_;
    std::vector<std::string> want_;
    int owner_;
    int childSlot_;
    int childSlotStep_;
    int bulletSlot_ = 0;
};

}  // namespace childscene
