// The pattern-trace engine: the options read, one call run on a fresh
// play state, and the lines it prints.
#include "tools/trace/pattern_trace_run.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "game/crt_random.h"
#include "game/patterns/attack_pattern.h"
#include "game/play.h"

const char kPatternTraceUsage[] =
    "usage: pattern-trace --id N [--difficulty D] [--once 0|1] [--clock C] [--slot S]\n"
    "                     [--enemy X,Y,AIM,MOVE] [--step K] [--player STATE,X,Y] [--seed N]\n"
    "                     [--other SLOT,X,Y,AIM]...\n";

static bool ParseLong(const std::string& text, long lo, long hi, long* out)
{
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

static bool ParseInt(const std::string& text, long lo, long hi, int* out)
{
    long v = 0;
    if (!ParseLong(text, lo, hi, &v)) {
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

static bool ParseFloat(const std::string& text, float* out)
{
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const float v = std::strtof(text.c_str(), &end);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *out = v;
    return true;
}

static std::vector<std::string> SplitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

bool PatternTraceParseArgs(int argc, const char* const* argv, TraceOptions* o, std::string* error)
{
    bool haveId = false;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            *error = "missing value for " + flag;
            return false;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (flag == "--id") {
            ok = ParseInt(value, -32768, 65535, &o->id);
            haveId = ok;
        } else if (flag == "--difficulty") {
            ok = ParseInt(value, 0, 255, &o->difficulty);
        } else if (flag == "--once") {
            ok = ParseInt(value, 0, 1, &o->once);
        } else if (flag == "--clock") {
            ok = ParseInt(value, -32768, 65535, &o->clock);
        } else if (flag == "--slot") {
            ok = ParseInt(value, 0, kEnemySlots - 1, &o->slot);
        } else if (flag == "--step") {
            ok = ParseInt(value, -128, 127, &o->step);
        } else if (flag == "--seed") {
            long seed = 0;
            ok = ParseLong(value, 0, 4294967295L, &seed);
            o->seed = static_cast<uint32_t>(seed);
        } else if (flag == "--enemy") {
            const auto p = SplitCommas(value);
            ok = p.size() == 4 && ParseFloat(p[0], &o->enemyX) && ParseFloat(p[1], &o->enemyY) &&
                 ParseFloat(p[2], &o->enemyAim) && ParseFloat(p[3], &o->enemyMove);
        } else if (flag == "--player") {
            const auto p = SplitCommas(value);
            ok = p.size() == 3 && ParseInt(p[0], 0, 255, &o->playerState) && ParseFloat(p[1], &o->playerX) &&
                 ParseFloat(p[2], &o->playerY);
        } else if (flag == "--other") {
            const auto p = SplitCommas(value);
            TraceOther other;
            ok = p.size() == 4 && ParseInt(p[0], 0, kEnemySlots - 1, &other.slot) && ParseFloat(p[1], &other.x) &&
                 ParseFloat(p[2], &other.y) && ParseFloat(p[3], &other.aim);
            if (ok) {
                o->others.push_back(other);
            }
        } else {
            *error = "unknown option " + flag;
            return false;
        }
        if (!ok) {
            *error = "bad value '" + value + "' for " + flag;
            return false;
        }
    }
    if (!haveId) {
        *error = "--id is required";
        return false;
    }
    return true;
}

static std::vector<std::string>* g_lines = nullptr;

static void Emit(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    g_lines->emplace_back(buffer);
}

static void OnRandom(int32_t lo, int32_t hi, int32_t value)
{
    Emit("rnd %d %d -> %d", lo, hi, value);
}

static void OnBullet(int slot, const BulletRecord& b)
{
    Emit("bullet slot=%d owner=%d kind=%u life=%d x0=%.9g y0=%.9g r1=%.9g r2=%.9g dr1=%.9g dr2=%.9g "
         "A=%.9g dA=%.9g B=%.9g C=%.9g dB=%.9g dC=%.9g age=%d",
         slot, b.owner, static_cast<unsigned>(b.kind), b.lifetime, b.x0, b.y0, b.r1, b.r2, b.dr1, b.dr2, b.A, b.dA,
         b.B, b.C, b.dB, b.dC, b.age);
}

static void OnEnemy(int32_t templateId, float x, float y, float aim, float move, int32_t slotAsked, int32_t slotUsed)
{
    Emit("enemy template=%d x=%.9g y=%.9g aim=%.9g move=%.9g slot=%d -> %d", templateId, x, y, aim, move, slotAsked,
         slotUsed);
}

static void OnEffect(int32_t kind, float x, float y, float angle, int16_t age)
{
    Emit("effect kind=%d x=%.9g y=%.9g angle=%.9g age=%d", kind, x, y, angle, age);
}

static void OnSound(int32_t n)
{
    Emit("sound %d", n);
}

std::vector<std::string> PatternTraceRun(const TraceOptions& o)
{
    // A fresh play state: every template with hp 1000 + T, no appearance
    // effect, first step aim 0.25 and move 0.5.
    PlayReset();
    SpawnRecordsClear();
    for (int t = 0; t < kSpawnTemplates; ++t) {
        SpawnRecord& r = g_spawnRecords[kSpawnTemplateBase + t];
        r.used = 1;
        r.hp = static_cast<uint32_t>(1000 + t);
        r.stepCount = 1;
        r.steps[0].aimAngle = 0.25f;
        r.steps[0].moveAngle = 0.5f;
    }
    g_session.difficulty = static_cast<uint8_t>(o.difficulty);
    g_session.soundOn = 1;
    g_player.state = static_cast<uint8_t>(o.playerState);
    g_player.x = o.playerX;
    g_player.y = o.playerY;
    CrtSeed(o.seed);

    for (const TraceOther& other : o.others) {
        if (other.slot < 0 || other.slot >= kEnemySlots) {
            continue;
        }
        EnemyRecord& e = g_enemies[other.slot];
        e = EnemyRecord{};
        e.active = 1;
        e.x = other.x;
        e.y = other.y;
        e.aimAngle = other.aim;
        e.moveAngle = 0.0f;
    }
    std::vector<std::string> lines;
    if (o.slot < 0 || o.slot >= kEnemySlots) {
        return lines;
    }
    EnemyRecord& self = g_enemies[o.slot];
    self = EnemyRecord{};
    self.active = 1;
    self.stepClock = static_cast<uint16_t>(o.clock);
    self.stepIndex = static_cast<int8_t>(o.step);
    self.hp = 0;
    self.x = o.enemyX;
    self.y = o.enemyY;
    self.aimAngle = o.enemyAim;
    self.moveAngle = o.enemyMove;

    PlayTrace trace;
    trace.onRandom = OnRandom;
    trace.onBullet = OnBullet;
    trace.onEnemy = OnEnemy;
    trace.onEffect = OnEffect;
    trace.onSound = OnSound;
    g_lines = &lines;
    PlaySetTrace(&trace);
    AttackPatternRun(static_cast<int16_t>(o.slot), static_cast<int16_t>(o.id), static_cast<uint8_t>(o.once));
    PlaySetTrace(nullptr);

    for (int s = 0; s < kEnemySlots; ++s) {
        const EnemyRecord& e = g_enemies[s];
        if (e.active != 0) {
            Emit("state slot=%d step=%d hp=%u x=%.9g y=%.9g aim=%.9g move=%.9g", s, e.stepIndex, e.hp, e.x, e.y,
                 e.aimAngle, e.moveAngle);
        }
    }
    g_lines = nullptr;
    return lines;
}
