// Play: the tables of enemies, bullets and effects, and the services the
// attack patterns call (random numbers, angles, spawns, sound effects).
#include "game/play.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "game/crt_random.h"
#include "game/patterns/attack_pattern.h"
#include "platform/sys/file.h"
#include "platform/sys/printable.h"

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

// Every complaint of play goes to stderr, and to the trace's observer so that
// tests and tools can see it.
static void PlayLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void PlayLog(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "play: %s\n", line);
    if (g_trace && g_trace->onLog) {
        g_trace->onLog(line);
    }
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
    // Signed 32-bit arithmetic that wraps, as play has always computed it;
    // done in unsigned so that the wrap is defined. A reversed range is no
    // fault: the remainder takes the sign of the product, so it gives lo
    // plus a number below |span|.
    const int32_t span = static_cast<int32_t>(static_cast<uint32_t>(hi) - static_cast<uint32_t>(lo) + 1u);
    int32_t value = lo;
    if (span == 0) {
        // hi = lo - 1 would divide by zero: lo is all there is to give.
        PlayLog("RandomRange(%d, %d) divides by zero; gives %d", lo, hi, lo);
    } else {
        // r1 x r2 is below 2^30, so the product cannot overflow, and a
        // non-negative dividend cannot overflow the remainder either.
        const int32_t rest = (r1 * r2) % span;
        value = static_cast<int32_t>(static_cast<uint32_t>(lo) + static_cast<uint32_t>(rest));
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

// Below -2^27 adding a turn rounds back to the same f32, so the loop of
// AngleWrap could never end there.
static constexpr float kWrapLoopFloor = -134217728.0f;
// From this magnitude down a turn spans fewer than two binades' worth of
// steps, and the plain loop is as quick as skipping ahead.
static constexpr float kWrapSkipFrom = -16.0f;

// Where the loop of AngleWrap would stand after it has added a turn as many
// times as it can without leaving the binade of `angle`, found in one step.
// Inside a binade every sum lands on the grid of that binade, so each turn
// adds the same rounded amount: the loop's result bit for bit, without the
// millions of additions a large angle takes. Needs kWrapLoopFloor <= angle
// < kWrapSkipFrom.
static float AngleWrapSkipInBinade(float angle)
{
    int exponent = 0;
    std::frexp(angle, &exponent);
    // |angle| = count x unit, count in [2^23, 2^24): the grid of this binade.
    const double unit = std::ldexp(1.0, exponent - 24);
    const int64_t count = static_cast<int64_t>(-static_cast<double>(angle) / unit);
    // Every sum rounds to the grid point nearest to the exact sum; kTwoPi /
    // unit is never a tie from |angle| 16 upwards.
    const int64_t turn = static_cast<int64_t>(std::nearbyint(static_cast<double>(kTwoPi) / unit));
    constexpr int64_t kBinadeFloor = int64_t{1} << 23;
    if (turn == 0 || count - kBinadeFloor - 1 < turn) {
        return angle;
    }
    // A sum from count stays on this grid while count - turn - 1 >= 2^23:
    // the exact sum then lies more than half a unit inside the binade.
    const int64_t steps = (count - kBinadeFloor - 1) / turn;
    return static_cast<float>(-static_cast<double>(count - steps * turn) * unit);
}

float AngleWrap(float angle)
{
    // A non-finite angle would never become non-negative.
    if (!std::isfinite(angle)) {
        return angle;
    }
    if (angle < kWrapLoopFloor) {
        // No number of turns would bring this angle up: take its remainder
        // by the same turn instead (exact in double), so the frame goes on.
        double rest = std::fmod(static_cast<double>(angle), static_cast<double>(kTwoPi));
        if (rest < 0.0) {
            rest += static_cast<double>(kTwoPi);
        }
        return static_cast<float>(rest);
    }
    // Add a turn while the angle is negative, exactly as play always has:
    // replays depend on every rounding of these sums.
    while (angle < 0.0f) {
        if (angle < kWrapSkipFrom) {
            angle = AngleWrapSkipInBinade(angle);
        }
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
        // Counted in 32 bits and held at the 16-bit top: a lifetime of
        // 32767 must still end, not wrap the age into a wait that never does.
        const int32_t age = b.age + 1;
        const bool expired = age > b.lifetime;
        b.age = static_cast<int16_t>(age < INT16_MAX ? age : INT16_MAX);
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

// The record of a defined template, or null.
static const SpawnRecord* SpawnTemplateAt(int32_t templateId)
{
    if (templateId < 0 || templateId >= kSpawnTemplates) {
        return nullptr;
    }
    const SpawnRecord& rec = g_spawnRecords[kSpawnTemplateBase + templateId];
    return rec.used != 0 ? &rec : nullptr;
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
        PlayLog("enemy slot %d out of range, using slot %d", slot, kFirstFreeEnemySlot);
        slot = kFirstFreeEnemySlot;
    }
    if (g_trace && g_trace->onEnemy) {
        g_trace->onEnemy(templateId, x, y, aimAngle, moveAngle, slotAsked, slot);
    }

    // A template that was never defined would make an enemy of nothing that
    // never dies. The slot is still returned, untouched, so that a pattern
    // that goes on to write to it writes inside the table.
    const SpawnRecord* rec = SpawnTemplateAt(templateId);
    if (rec == nullptr) {
        PlayLog("spawn template %d is not defined; no enemy spawned in slot %d", templateId, slot);
        return slot;
    }

    EnemyRecord& e = g_enemies[slot];
    e = EnemyRecord{};
    e.active = 1;
    e.spawnIndex = static_cast<int16_t>(kSpawnTemplateBase + templateId);
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
        PlayLog("EnemyDestroy of slot %d out of range", slot);
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

// Spawn-template text. Whole numbers are plain decimals, real numbers plain
// decimals with an optional exponent: no hexadecimal, no infinities, nothing
// a typing slip could turn into another value without a word.

// An angle beyond this many radians either way is a slip (degrees written
// for radians, a lost decimal point), and the bullet arithmetic would spend
// long on it.
static constexpr float kTemplateAngleLimit = 100.0f;
// Far beyond any stage: 200 templates of 12 steps are some 160 KB of text.
static constexpr long kTemplateFileLimit = 1 << 20;

enum class FieldKind { Whole, Real, Angle };

struct FieldRule {
    const char* key;
    FieldKind kind;
    double lo, hi;      // for whole numbers
};

// A token of the text as messages show it: cut short, and escaped, so that
// a terminal sequence or a NUL in a file cannot reach the log as it is.
static std::string Quoted(const std::string& token)
{
    const std::string_view shown = std::string_view(token).substr(0, 32);
    std::string quoted = "'";
    quoted += platform::PrintableText(shown);
    quoted += token.size() > shown.size() ? "...'" : "'";
    return quoted;
}

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// [+-]digits
static bool IsWholeText(std::string_view t)
{
    size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
    if (i == t.size()) {
        return false;
    }
    for (; i < t.size(); ++i) {
        if (!IsDigit(t[i])) {
            return false;
        }
    }
    return true;
}

// [+-](digits[.digits] | .digits)[(e|E)[+-]digits]
static bool IsRealText(std::string_view t)
{
    size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
    size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) {
        ++i;
        ++digits;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            ++i;
        }
        if (i == t.size()) {
            return false;
        }
        while (i < t.size() && IsDigit(t[i])) {
            ++i;
        }
    }
    return i == t.size();
}

static std::string_view WithoutPlus(const std::string& t)
{
    std::string_view v = t;
    if (!v.empty() && v[0] == '+') {
        v.remove_prefix(1);
    }
    return v;
}

// Reads one value by its rule into *out (a whole number, or an f32 held in a
// double); false with the reason in *what.
static bool ParseField(const FieldRule& rule, const std::string& token, double* out, std::string* what)
{
    const std::string_view text = WithoutPlus(token);
    if (rule.kind == FieldKind::Whole) {
        if (!IsWholeText(token)) {
            *what = std::string(rule.key) + " must be a whole number, not " + Quoted(token);
            return false;
        }
        int64_t v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (r.ec != std::errc{} || static_cast<double>(v) < rule.lo || static_cast<double>(v) > rule.hi) {
            char range[96];
            std::snprintf(range, sizeof range, " (%.0f to %.0f)", rule.lo, rule.hi);
            *what = std::string(rule.key) + " " + Quoted(token) + " is out of range" + range;
            return false;
        }
        *out = static_cast<double>(v);
        return true;
    }
    if (!IsRealText(token)) {
        *what = std::string(rule.key) + " must be a decimal number, not " + Quoted(token);
        return false;
    }
    float v = 0.0f;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc{} || !std::isfinite(v)) {
        *what = std::string(rule.key) + " " + Quoted(token) + " does not fit a 32-bit float";
        return false;
    }
    if (rule.kind == FieldKind::Angle && !(v >= -kTemplateAngleLimit && v <= kTemplateAngleLimit)) {
        *what = std::string(rule.key) + " " + Quoted(token) + " is out of range (-100 to 100 radians)";
        return false;
    }
    *out = static_cast<double>(v);
    return true;
}

// Reads "key value" pairs up to the end of the line into values[], each key
// at most once.
static bool ParseKeyValues(std::istringstream& in, const FieldRule* rules, double* values, int count,
                           std::string* what)
{
    bool seen[8] = {};
    std::string key;
    while (in >> key) {
        int k = 0;
        while (k < count && key != rules[k].key) {
            ++k;
        }
        if (k == count) {
            *what = "unknown key " + Quoted(key);
            return false;
        }
        if (seen[k]) {
            *what = "key " + Quoted(key) + " given twice";
            return false;
        }
        seen[k] = true;
        std::string token;
        if (!(in >> token)) {
            *what = "no value for " + Quoted(key);
            return false;
        }
        if (!ParseField(rules[k], token, &values[k], what)) {
            return false;
        }
    }
    return true;
}

// Parses `text` into the spawn records, naming `source` in the log line of
// the first bad line.
static bool SpawnTemplatesParseFrom(std::string_view text, const char* source, std::string* error)
{
    static SpawnRecord staged[kSpawnRecords];
    std::memcpy(static_cast<void*>(staged), g_spawnRecords, sizeof staged);
    // The line that defined each template in this text (0: not in this text).
    int definedOn[kSpawnTemplates] = {};

    std::istringstream lines{std::string(text)};
    std::string line;
    int lineNo = 0;
    SpawnRecord* current = nullptr;
    auto fail = [&](const std::string& what) {
        PlayLog("%s line %d: %s", source, lineNo, what.c_str());
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
            static const FieldRule kIdRule = {"template id", FieldKind::Whole, 0, kSpawnTemplates - 1};
            std::string token;
            double idValue = 0;
            if (!(in >> token)) {
                return fail("template without an id");
            }
            if (!ParseField(kIdRule, token, &idValue, &what)) {
                return fail(what);
            }
            const int id = static_cast<int>(idValue);
            static const FieldRule kRules[] = {
                {"hp", FieldKind::Whole, 0, 4294967295.0},  {"speed", FieldKind::Real, 0, 0},
                {"alpha", FieldKind::Whole, 0, 255},        {"scale", FieldKind::Real, 0, 0},
                {"effect", FieldKind::Whole, 0, kEffectKinds}, {"score", FieldKind::Whole, 0, 4294967295.0},
            };
            double v[] = {0, 0, 255, 1, 0, 0};
            if (!ParseKeyValues(in, kRules, v, 6, &what)) {
                return fail(what);
            }
            if (definedOn[id] != 0) {
                return fail("template " + std::to_string(id) + " is defined twice (first on line " +
                            std::to_string(definedOn[id]) + ")");
            }
            current = &staged[kSpawnTemplateBase + id];
            if (current->used != 0) {
                return fail("template " + std::to_string(id) + " is already loaded");
            }
            definedOn[id] = lineNo;
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
            static const FieldRule kRules[] = {
                {"aim", FieldKind::Angle, 0, 0},
                {"move", FieldKind::Angle, 0, 0},
                {"attack", FieldKind::Whole, -32768, 32767},
                {"death", FieldKind::Whole, -32768, 32767},
                {"frames", FieldKind::Whole, 0, 65535},
            };
            double v[] = {0, 0, 0, 0, 0};
            if (!ParseKeyValues(in, kRules, v, 5, &what)) {
                return fail(what);
            }
            SpawnStep& s = current->steps[current->stepCount++];
            s.aimAngle = static_cast<float>(v[0]);
            s.moveAngle = static_cast<float>(v[1]);
            s.attackId = static_cast<int16_t>(v[2]);
            s.deathId = static_cast<int16_t>(v[3]);
            s.frames = static_cast<uint16_t>(v[4]);
        } else {
            return fail("unknown record " + Quoted(word));
        }
    }
    std::memcpy(static_cast<void*>(g_spawnRecords), staged, sizeof staged);
    return true;
}

bool SpawnTemplatesParse(std::string_view text, std::string* error)
{
    return SpawnTemplatesParseFrom(text, "spawn templates", error);
}

bool SpawnTemplatesLoad(const char* path, std::string* error)
{
    auto refuse = [&](const std::string& what) {
        PlayLog("%s", what.c_str());
        if (error) {
            *error = what;
        }
        return false;
    };
    const std::string name = path ? platform::PrintableText(path) : "(null)";
    // Only a regular file is a template text: opening a FIFO to read would
    // wait for a writer for ever.
    const int fd = path ? platform::OpenRegularFile(path) : -1;
    if (fd < 0) {
        const int code = path ? errno : EINVAL;
        return refuse(code == EINVAL || code == EISDIR ? name + " is not a regular file"
                                                       : "cannot open " + name + ": " + std::strerror(code));
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        const int openErrno = errno;
        close(fd);
        return refuse("cannot open " + name + ": " + std::strerror(openErrno));
    }
    std::string text;
    char chunk[16384];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (static_cast<long>(text.size() + got) > kTemplateFileLimit) {
            std::fclose(file);
            return refuse(name + " is larger than " + std::to_string(kTemplateFileLimit) + " bytes");
        }
        text.append(chunk, got);
    }
    const bool readFailed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (readFailed) {
        return refuse("cannot read " + name + ": " + std::strerror(readErrno));
    }
    return SpawnTemplatesParseFrom(text, name.c_str(), error);
}
