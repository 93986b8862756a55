#include "game/play.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "game/crt_random.h"
#include "game/patterns/attack_pattern.h"

EnemyRecord g_enemies[kEnemySlots];
BulletRecord g_bullets[kBulletSlots];
EffectRecord g_effects[kEffectSlots];
SpawnRecord g_spawnRecords[kSpawnRecords];
PlayerRecord g_player;
SessionRecord g_session;

static const PlayTrace* g_trace = nullptr;
static SoundEffectHook g_soundHook = nullptr;
static bool g_soundArmed[kSoundEffects + 1] = {};

// How long an effect stays on the field; effects only decorate, and the
// table must not fill up during long play.
static constexpr int16_t kEffectFrames = 32;

// Enemies that wander this far from the field have left play for good.
static constexpr float kEnemyOuterLeft = 0.0f;
static constexpr float kEnemyOuterRight = 640.0f;
static constexpr float kEnemyOuterTop = -160.0f;
static constexpr float kEnemyOuterBottom = 640.0f;

static constexpr float kTwoPi = 6.2831855f;

void PlaySetTrace(const PlayTrace* trace)
{
    g_trace = trace;
}

void PlayReset()
{
    for (EnemyRecord& e : g_enemies) {
        e = EnemyRecord{};
    }
    for (BulletRecord& b : g_bullets) {
        b = BulletRecord{};
    }
    for (EffectRecord& fx : g_effects) {
        fx = EffectRecord{};
    }
    SoundEffectRearmAll();
}

// ---------------------------------------------------------------- numbers

int32_t RandomRange(int32_t lo, int32_t hi)
{
    const int32_t r1 = CrtRand();
    const int32_t r2 = CrtRand();
    // r1 x r2 is below 2^30, so the product cannot overflow; an empty or
    // overflowing range would divide by zero, so it yields lo instead.
    const int64_t span = static_cast<int64_t>(hi) - lo + 1;
    int32_t value = lo;
    if (span > 0 && span <= INT32_MAX) {
        value = lo + static_cast<int32_t>((r1 * r2) % static_cast<int32_t>(span));
    } else {
        std::fprintf(stderr, "play: RandomRange(%d, %d) has an empty range\n", lo, hi);
    }
    if (g_trace && g_trace->onRandom) {
        g_trace->onRandom(lo, hi, value);
    }
    return value;
}

float DegToRad(int32_t deg)
{
    // Two f32 products in this order: a replay depends on the rounding.
    const float turns = static_cast<float>(deg) * 0.0027777778f;
    return turns * 6.2831855f;
}

float AngleWrap(float angle)
{
    // A non-finite angle would never become non-negative.
    if (!std::isfinite(angle)) {
        return angle;
    }
    while (angle < 0.0f) {
        angle += kTwoPi;
    }
    return angle;
}

// ---------------------------------------------------------------- bullets

void BulletSpawn(int16_t owner, uint16_t kind, int16_t lifetime, float x0, float y0, float r1, float r2,
                 float dr1, float dr2, float A, float dA, float B, float C, float dB, float dC, int16_t age)
{
    int slot = 0;
    for (int i = 0; i < kBulletSlots; ++i) {
        if (g_bullets[i].active == 0) {
            slot = i;
            break;
        }
    }
    BulletRecord& b = g_bullets[slot];
    b = BulletRecord{};
    b.owner = owner;
    b.kind = kind;
    b.lifetime = lifetime;
    b.x0 = x0;
    b.y0 = y0;
    b.r1 = r1;
    b.r2 = r2;
    b.dr1 = dr1;
    b.dr2 = dr2;
    b.A = A;
    b.dA = dA;
    b.B = B;
    b.C = C;
    b.dB = dB;
    b.dC = dC;
    b.age = age;
    b.x = x0;
    b.y = y0;
    b.active = 1;
    if (g_trace && g_trace->onBullet) {
        g_trace->onBullet(slot, b);
    }
}

void BulletUpdate()
{
    for (BulletRecord& b : g_bullets) {
        if (b.active == 0) {
            continue;
        }
        if (b.age < 0) {
            b.age = static_cast<int16_t>(b.age + 1);
            b.x = b.x0;
            b.y = b.y0;
            continue;
        }
        b.age = static_cast<int16_t>(b.age + 1);
        const bool expired = b.age > b.lifetime;
        b.A = AngleWrap(b.A + b.dA);
        b.B = AngleWrap(b.B + b.dB);
        b.C = AngleWrap(b.C + b.dC);
        b.r1 = b.r1 + b.dr1;
        b.r2 = b.r2 + b.dr2;
        // Every product and sum rounded to f32 as it is formed.
        const float cosB = static_cast<float>(std::cos(static_cast<double>(b.B)));
        const float sinB = static_cast<float>(std::sin(static_cast<double>(b.B)));
        const float cosC = static_cast<float>(std::cos(static_cast<double>(b.C)));
        const float sinC = static_cast<float>(std::sin(static_cast<double>(b.C)));
        const float ax = b.r1 * cosB;
        const float cx = b.r2 * cosC;
        const float ay = b.r1 * sinB;
        const float cy = b.r2 * sinC;
        b.x = (b.x0 + ax) + cx;
        b.y = (b.y0 + ay) + cy;
        if (expired || b.x < 100.0f || b.x > 540.0f || b.y > 500.0f || b.y < -20.0f) {
            b.active = 0;
        }
    }
}

int BulletCountActive()
{
    int n = 0;
    for (const BulletRecord& b : g_bullets) {
        n += b.active != 0;
    }
    return n;
}

// ---------------------------------------------------------------- effects

void EffectSpawn(int32_t kind, float x, float y, float angle, int16_t age)
{
    if (g_trace && g_trace->onEffect) {
        g_trace->onEffect(kind, x, y, angle, age);
    }
    if (kind < 1 || kind > kEffectKinds) {
        return;
    }
    int slot = 0;
    for (int i = 0; i < kEffectSlots; ++i) {
        if (g_effects[i].active == 0) {
            slot = i;
            break;
        }
    }
    EffectRecord& fx = g_effects[slot];
    fx.active = 1;
    fx.kind = kind;
    fx.x = x;
    fx.y = y;
    fx.angle = angle;
    fx.age = age;
}

void EffectUpdate()
{
    for (EffectRecord& fx : g_effects) {
        if (fx.active == 0) {
            continue;
        }
        fx.age = static_cast<int16_t>(fx.age + 1);
        if (fx.age >= kEffectFrames) {
            fx.active = 0;
        }
    }
}

// ---------------------------------------------------------------- sound

void SoundEffectSetHook(SoundEffectHook hook)
{
    g_soundHook = hook;
}

void SoundEffectRearmAll()
{
    for (bool& armed : g_soundArmed) {
        armed = true;
    }
}

void SoundEffectPlay(int32_t n)
{
    if (g_trace && g_trace->onSound) {
        g_trace->onSound(n);
    }
    if (n < 1 || n > kSoundEffects) {
        return;
    }
    if (g_session.soundOn == 0 || !g_soundArmed[n]) {
        return;
    }
    g_soundArmed[n] = false;
    if (g_soundHook) {
        g_soundHook(n);
    }
}

// ---------------------------------------------------------------- enemies

static const SpawnStep kNoStep{};

static const SpawnRecord* SpawnRecordAt(int index)
{
    if (index < 0 || index >= kSpawnRecords) {
        return nullptr;
    }
    return &g_spawnRecords[index];
}

const SpawnStep& EnemyCurrentStep(const EnemyRecord& enemy)
{
    const SpawnRecord* rec = SpawnRecordAt(enemy.spawnIndex);
    if (rec == nullptr || enemy.stepIndex < 0 || enemy.stepIndex >= kSpawnSteps) {
        return kNoStep;
    }
    return rec->steps[enemy.stepIndex];
}

static void EnemyFree(EnemyRecord& e)
{
    e.active = 0;
    e.x = kParkedX;
    e.spawnIndex = 0;
}

int32_t EnemySpawnFromTemplate(int32_t templateId, float x, float y, float aimAngle, float moveAngle, int32_t slot)
{
    const int32_t slotAsked = slot;
    if (slot < 0) {
        slot = kFirstFreeEnemySlot;
        for (int i = kFirstFreeEnemySlot; i < kEnemySlots; ++i) {
            if (g_enemies[i].active == 0) {
                slot = i;
                break;
            }
        }
    } else if (slot >= kEnemySlots) {
        std::fprintf(stderr, "play: enemy slot %d out of range, using slot %d\n", slot, kFirstFreeEnemySlot);
        slot = kFirstFreeEnemySlot;
    }

    // A template id outside the table spawns from an empty record, so that a
    // pattern that goes on to use the returned slot still finds an enemy.
    static const SpawnRecord kEmptyRecord{};
    const int64_t index = static_cast<int64_t>(templateId) + kSpawnTemplateBase;
    const SpawnRecord* rec = SpawnRecordAt(index >= 0 && index < kSpawnRecords ? static_cast<int>(index) : -1);
    if (rec == nullptr) {
        std::fprintf(stderr, "play: spawn template %d out of range\n", templateId);
        rec = &kEmptyRecord;
    }

    EnemyRecord& e = g_enemies[slot];
    e = EnemyRecord{};
    e.active = 1;
    e.spawnIndex = rec == &kEmptyRecord ? 0 : static_cast<int16_t>(index);
    e.stepIndex = 0;
    e.hp = rec->hp;
    e.hpAtSpawn = rec->hp;
    e.stepClock = 0;
    e.lifeClock = 0;
    e.x = x;
    e.y = y;
    e.speed = rec->speed;
    e.alpha = rec->alpha;
    e.scale = rec->scale;
    // The test is on the value passed: an angle computed to exactly 0.0
    // takes the template's own too.
    e.aimAngle = aimAngle == 0.0f ? rec->steps[0].aimAngle : aimAngle;
    e.moveAngle = moveAngle == 0.0f ? rec->steps[0].moveAngle : moveAngle;
    if (g_trace && g_trace->onEnemy) {
        g_trace->onEnemy(templateId, x, y, aimAngle, moveAngle, slotAsked, slot);
    }
    if (rec->appearEffect != 0) {
        EffectSpawn(rec->appearEffect, x, y, 0.0f, 0);
    }
    return slot;
}

void EnemyMove()
{
    for (EnemyRecord& e : g_enemies) {
        if (e.active == 0) {
            continue;
        }
        e.stepClock = static_cast<uint16_t>(e.stepClock + 1);
        e.lifeClock = static_cast<uint16_t>(e.lifeClock + 1);
        const SpawnRecord* rec = SpawnRecordAt(e.spawnIndex);
        const SpawnStep& step = EnemyCurrentStep(e);
        const int next = e.stepIndex + 1;
        if (rec != nullptr && step.frames != 0 && e.stepClock > step.frames && next >= 1 && next < rec->stepCount) {
            e.stepIndex = static_cast<int8_t>(next);
            e.stepClock = 0;
            const SpawnStep& nextStep = rec->steps[next];
            // A step's zero angle keeps the enemy's current one.
            if (nextStep.aimAngle != 0.0f) {
                e.aimAngle = nextStep.aimAngle;
            }
            if (nextStep.moveAngle != 0.0f) {
                e.moveAngle = nextStep.moveAngle;
            }
        }
        const float dx = e.speed * static_cast<float>(std::cos(static_cast<double>(e.moveAngle)));
        const float dy = e.speed * static_cast<float>(std::sin(static_cast<double>(e.moveAngle)));
        e.x = e.x + dx;
        e.y = e.y + dy;
        if (e.x < kEnemyOuterLeft || e.x > kEnemyOuterRight || e.y < kEnemyOuterTop || e.y > kEnemyOuterBottom) {
            EnemyFree(e);
        }
    }
}

void EnemyAttackDispatch()
{
    for (int slot = 0; slot < kEnemySlots; ++slot) {
        const EnemyRecord& e = g_enemies[slot];
        if (e.active != 1 || e.stepClock == 0) {
            continue;
        }
        const int16_t id = EnemyCurrentStep(e).attackId;
        const bool inside = e.x > 120.0f && e.x < 520.0f && e.y > 0.0f && e.y < 480.0f;
        if (inside || id == 61 || id == 122) {
            AttackPatternRun(static_cast<int16_t>(slot), id, 0);
        }
    }
}

void EnemyDestroy(int slot)
{
    if (slot < 0 || slot >= kEnemySlots) {
        std::fprintf(stderr, "play: EnemyDestroy of slot %d out of range\n", slot);
        return;
    }
    EnemyRecord& e = g_enemies[slot];
    if (e.active == 0) {
        return;
    }
    // The explosion first; the death pattern sees the record unchanged.
    EffectSpawn(1, e.x, e.y, 0.0f, 0);
    const SpawnRecord* rec = SpawnRecordAt(e.spawnIndex);
    const int16_t deathId = EnemyCurrentStep(e).deathId;
    AttackPatternRun(static_cast<int16_t>(slot), deathId, 1);
    EnemyFree(e);
    if (rec != nullptr) {
        g_session.score += rec->score;
    }
}

int EnemyCountActive()
{
    int n = 0;
    for (const EnemyRecord& e : g_enemies) {
        n += e.active != 0;
    }
    return n;
}

void PlayUpdateFrame()
{
    SoundEffectRearmAll();
    EnemyMove();
    EnemyAttackDispatch();
    BulletUpdate();
    EffectUpdate();
}

// ---------------------------------------------------------------- templates

void SpawnRecordsClear()
{
    for (SpawnRecord& r : g_spawnRecords) {
        r = SpawnRecord{};
    }
}

static bool ParseKeyValues(std::istringstream& in, const char* const* keys, double* values, int count,
                           std::string* what)
{
    std::string key;
    while (in >> key) {
        int k = 0;
        while (k < count && key != keys[k]) {
            ++k;
        }
        if (k == count) {
            *what = "unknown key '" + key + "'";
            return false;
        }
        std::string number;
        if (!(in >> number)) {
            *what = "no value for '" + key + "'";
            return false;
        }
        char* end = nullptr;
        const double v = std::strtod(number.c_str(), &end);
        if (end == number.c_str() || *end != '\0' || !std::isfinite(v)) {
            *what = "bad number '" + number + "' for '" + key + "'";
            return false;
        }
        values[k] = v;
    }
    return true;
}

static bool InRange(double v, double lo, double hi)
{
    return v >= lo && v <= hi;
}

bool SpawnTemplatesParse(std::string_view text, std::string* error)
{
    static SpawnRecord staged[kSpawnRecords];
    std::memcpy(static_cast<void*>(staged), g_spawnRecords, sizeof staged);

    std::istringstream lines{std::string(text)};
    std::string line;
    int lineNo = 0;
    SpawnRecord* current = nullptr;
    auto fail = [&](const std::string& what) {
        if (error) {
            *error = "line " + std::to_string(lineNo) + ": " + what;
        }
        return false;
    };
    while (std::getline(lines, line)) {
        ++lineNo;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.resize(hash);
        }
        std::istringstream in(line);
        std::string word;
        if (!(in >> word)) {
            continue;
        }
        std::string what;
        if (word == "template") {
            long id = -1;
            if (!(in >> id) || id < 0 || id >= kSpawnTemplates) {
                return fail("template id must be 0 to " + std::to_string(kSpawnTemplates - 1));
            }
            static const char* const keys[] = {"hp", "speed", "alpha", "scale", "effect", "score"};
            double v[] = {0, 0, 255, 1, 0, 0};
            if (!ParseKeyValues(in, keys, v, 6, &what)) {
                return fail(what);
            }
            if (!InRange(v[0], 0, 4294967295.0) || !InRange(v[2], 0, 255) || !InRange(v[4], 0, kEffectKinds) ||
                !InRange(v[5], 0, 4294967295.0)) {
                return fail("value out of range");
            }
            current = &staged[kSpawnTemplateBase + id];
            *current = SpawnRecord{};
            current->used = 1;
            current->hp = static_cast<uint32_t>(v[0]);
            current->speed = static_cast<float>(v[1]);
            current->alpha = static_cast<uint8_t>(v[2]);
            current->scale = static_cast<float>(v[3]);
            current->appearEffect = static_cast<int32_t>(v[4]);
            current->score = static_cast<uint32_t>(v[5]);
        } else if (word == "step") {
            if (current == nullptr) {
                return fail("step before any template");
            }
            if (current->stepCount >= kSpawnSteps) {
                return fail("more than " + std::to_string(kSpawnSteps) + " steps");
            }
            static const char* const keys[] = {"aim", "move", "attack", "death", "frames"};
            double v[] = {0, 0, 0, 0, 0};
            if (!ParseKeyValues(in, keys, v, 5, &what)) {
                return fail(what);
            }
            if (!InRange(v[2], -32768, 32767) || !InRange(v[3], -32768, 32767) || !InRange(v[4], 0, 65535)) {
                return fail("value out of range");
            }
            SpawnStep& s = current->steps[current->stepCount++];
            s.aimAngle = static_cast<float>(v[0]);
            s.moveAngle = static_cast<float>(v[1]);
            s.attackId = static_cast<int16_t>(v[2]);
            s.deathId = static_cast<int16_t>(v[3]);
            s.frames = static_cast<uint16_t>(v[4]);
        } else {
            return fail("unknown record '" + word + "'");
        }
    }
    std::memcpy(static_cast<void*>(g_spawnRecords), staged, sizeof staged);
    return true;
}

bool SpawnTemplatesLoad(const char* path, std::string* error)
{
    std::ifstream file(path ? path : "", std::ios::binary);
    if (!file) {
        if (error) {
            *error = std::string("cannot open ") + (path ? path : "(null)");
        }
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    return SpawnTemplatesParse(text.str(), error);
}
