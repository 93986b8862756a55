#pragma once
// The scene the tests of base ids 200 to 231 (the boss's bullets and
// children) share: the running enemy in slot 12, its aim and move angles
// and the player apart from each other.
#include "tests/game/patterns/trace_util.h"

namespace bossscene {

constexpr float kEnemyX = 300.0f;
constexpr float kEnemyY = 120.0f;
constexpr float kEnemyAim = 0.7f;
constexpr float kEnemyMove = 2.1f;
constexpr float kPlayerX = 380.0f;
constexpr float kPlayerY = 410.0f;
constexpr float kDown = 1.5707964f;
constexpr int kSlot = 12;

inline TraceOptions Options(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kEnemyX, .enemyY = kEnemyY, .enemyAim = kEnemyAim, .enemyMove = kEnemyMove, .playerX = kPlayerX, .playerY = kPlayerY, .slot = kSlot}, id, difficulty, clock, once);
}

}  // namespace bossscene
