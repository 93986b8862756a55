// Attack-pattern dispatch costs: one frame with 300 enemies on the field,
// most of whose gates fail as in play, and one heavy firing.
#include <benchmark/benchmark.h>

#include "game/crt_random.h"
#include "game/patterns/attack_pattern.h"
#include "game/play.h"

namespace {

// 300 enemies inside the field, running the first twelve base ids in turn,
// with step clocks spread so that a few gates pass each frame.
void SetUpField(int difficulty)
{
    PlayReset();
    SpawnRecordsClear();
    for (int t = 0; t < 12; ++t) {
        SpawnRecord& r = g_spawnRecords[t];
        r.used = 1;
        r.stepCount = 1;
        r.steps[0].attackId = static_cast<int16_t>(t + 1);
    }
    for (int s = 0; s < kEnemySlots; ++s) {
        EnemyRecord& e = g_enemies[s];
        e.active = 1;
        e.spawnIndex = static_cast<int16_t>(s % 12);
        e.x = 130.0f + static_cast<float>((s * 37) % 380);
        e.y = 10.0f + static_cast<float>((s * 53) % 300);
        e.aimAngle = 1.5707964f;
        e.moveAngle = 1.5707964f;
        e.stepClock = static_cast<uint16_t>(1 + (s * 7) % 997);
    }
    g_session.difficulty = static_cast<uint8_t>(difficulty);
    g_player = PlayerRecord{};
    CrtSeed(1);
}

void BM_DispatchFrame300(benchmark::State& state)
{
    SetUpField(static_cast<int>(state.range(0)));
    int fired = 0;
    for (auto _ : state) {
        // Advance the clocks as EnemyMove would, then dispatch; free the
        // bullets so the table never fills.
        for (EnemyRecord& e : g_enemies) {
            e.stepClock = static_cast<uint16_t>(e.stepClock % 1000 + 1);
        }
        EnemyAttackDispatch();
        state.PauseTiming();
        fired += BulletCountActive();
        for (BulletRecord& b : g_bullets) {
            b.active = 0;
        }
        state.ResumeTiming();
    }
    state.counters["bullets_per_frame"] =
        benchmark::Counter(static_cast<double>(fired), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_DispatchFrame300)->Arg(0)->Arg(3);

// 3005: 120 turned bullets in one firing; 3003: 12 drawn spreads and a
// 36-bullet ring.
void BM_HeavyFiring(benchmark::State& state)
{
    SetUpField(3);
    const int16_t id = static_cast<int16_t>(state.range(0));
    for (auto _ : state) {
        AttackPatternRun(10, id, 1);
        state.PauseTiming();
        for (BulletRecord& b : g_bullets) {
            b.active = 0;
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_HeavyFiring)->Arg(5)->Arg(3);

}  // namespace
