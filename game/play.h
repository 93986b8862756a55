#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The play tables and the play services that enemies, bullets and the attack
// patterns share. Everything here runs on the main thread, once a frame.
// Positions are f32 screen pixels, speeds pixels per frame, angles f32
// radians, timers frame counts.

constexpr int kEnemySlots = 300;
constexpr int kBulletSlots = 600;
constexpr int kEffectSlots = 300;
constexpr int kSpawnRecords = 500;          // per stage: 300 scripted, 200 templates
constexpr int kSpawnTemplateBase = 300;     // template T is spawn record T + 300
constexpr int kSpawnTemplates = kSpawnRecords - kSpawnTemplateBase;
constexpr int kSpawnSteps = 12;
constexpr int kFirstFreeEnemySlot = 10;     // slots 0 to 9 are taken only by number
constexpr int kSoundEffects = 26;
constexpr int kEffectKinds = 27;
constexpr float kParkedX = 800.0f;          // x of a free enemy slot

enum Difficulty : uint8_t {
    DifficultyEasy = 0,
    DifficultyNormal = 1,
    DifficultyHard = 2,
    DifficultyExtra = 3,
};

// One step of a spawn record: where the enemy looks and heads, the patterns
// it runs, and how long the step lasts.
struct SpawnStep {
    float aimAngle = 0.0f;      // radians
    float moveAngle = 0.0f;     // radians
    int16_t attackId = 0;       // pattern run every frame (0 none)
    int16_t deathId = 0;        // pattern run once at destruction (0 none)
    uint16_t frames = 0;        // step length; 0 = the step lasts until the enemy leaves
};

// The in-memory form of a spawn record, the part that spawning and moving an
// enemy need.
struct SpawnRecord {
    uint8_t used = 0;
    uint32_t hp = 0;
    float speed = 0.0f;         // pixels per frame along the move angle
    uint8_t alpha = 255;
    float scale = 1.0f;
    int32_t appearEffect = 0;   // effect kind spawned at the enemy on appearance (0 none)
    uint32_t score = 0;
    uint8_t stepCount = 0;
    SpawnStep steps[kSpawnSteps] = {};
};

struct EnemyRecord {
    uint8_t active = 0;
    int8_t stepIndex = 0;
    int16_t spawnIndex = 0;
    uint32_t hp = 0;
    uint32_t hpAtSpawn = 0;
    uint16_t stepClock = 0;     // frames since the current spawn step began
    uint16_t lifeClock = 0;     // frames since the enemy appeared
    float x = kParkedX;
    float y = 0.0f;
    float aimAngle = 0.0f;
    float moveAngle = 0.0f;
    float speed = 0.0f;
    uint8_t alpha = 255;
    float scale = 1.0f;
};

struct BulletRecord {
    uint8_t active = 0;
    int16_t owner = -1;         // enemy slot, -1 none
    uint16_t kind = 0;
    int16_t lifetime = 0;       // frames, counted from the end of a negative age
    int16_t age = 0;
    float x0 = 0.0f, y0 = 0.0f; // origin
    float r1 = 0.0f, r2 = 0.0f; // arm lengths
    float dr1 = 0.0f, dr2 = 0.0f;
    float A = 0.0f, dA = 0.0f;  // sprite turn
    float B = 0.0f, C = 0.0f;   // arm headings
    float dB = 0.0f, dC = 0.0f;
    float x = 0.0f, y = 0.0f;   // position after the last update
};

struct EffectRecord {
    uint8_t active = 0;
    int32_t kind = 0;
    float x = 0.0f, y = 0.0f;
    float angle = 0.0f;
    int16_t age = 0;            // negative delays the effect
};

struct PlayerRecord {
    uint8_t state = 1;          // 1 playing, 2 down
    float x = 320.0f;
    float y = 400.0f;
};

struct SessionRecord {
    uint8_t controlType = 0;
    uint8_t formation = 0;
    uint8_t difficulty = DifficultyEasy;
    uint8_t playMode = 0;
    uint8_t stage = 0;
    uint8_t lives = 3;
    uint8_t continues = 0;
    uint8_t soundOn = 1;
    uint32_t score = 0;
};

extern EnemyRecord g_enemies[kEnemySlots];
extern BulletRecord g_bullets[kBulletSlots];
extern EffectRecord g_effects[kEffectSlots];
extern SpawnRecord g_spawnRecords[kSpawnRecords];
extern PlayerRecord g_player;
extern SessionRecord g_session;

// Clears every play table: free enemy slots parked at x 800, free bullets and
// effects, every sound effect armed. Spawn records are kept.
void PlayReset();

// Spawn records. A template text holds lines
//   template T hp H speed S alpha A scale C effect E score N
//   step aim A move M attack I death D frames F
// with the steps of a template after its template line; '#' starts a comment.
// Keys may be left out (0, or alpha 255 and scale 1), none given twice.
// T, H, A, E, N, I, D and F are whole decimal numbers in the range of their
// field; S, C and the angles decimal numbers that fit an f32, the angles
// within -100 to 100 radians. A template is defined once: to load it anew,
// clear the records first. Returns false with a message in *error (and a log
// line naming the line) on the first bad line, leaving the records unchanged.
bool SpawnTemplatesParse(std::string_view text, std::string* error);
// The same from a file; anything but a regular file (a directory, a FIFO) is
// refused without being read. Words of the text and the path are shown
// escaped in messages.
bool SpawnTemplatesLoad(const char* path, std::string* error);
void SpawnRecordsClear();
// The step an enemy is on; a zero step when its record or index is out of range.
const SpawnStep& EnemyCurrentStep(const EnemyRecord& enemy);

void BulletSpawn(int16_t owner, uint16_t kind, int16_t lifetime, float x0, float y0, float r1, float r2,
                 float dr1, float dr2, float A, float dA, float B, float C, float dB, float dC, int16_t age);
void BulletUpdate();
int BulletCountActive();

// Returns the slot used. A template that is not defined spawns nothing: a log
// line names it, and the slot that would have been used comes back untouched.
int32_t EnemySpawnFromTemplate(int32_t templateId, float x, float y, float aimAngle, float moveAngle, int32_t slot);
void EnemyMove();
void EnemyAttackDispatch();
void EnemyDestroy(int slot);
int EnemyCountActive();

void EffectSpawn(int32_t kind, float x, float y, float angle, int16_t age);
void EffectUpdate();

// Sound effects are played through a hook so that the sound module can be
// attached later; each effect starts at most once a frame.
using SoundEffectHook = void (*)(int n);
void SoundEffectSetHook(SoundEffectHook hook);
void SoundEffectPlay(int32_t n);
void SoundEffectRearmAll();

// lo + (r1 x r2) mod (hi - lo + 1) in wrapping signed 32-bit arithmetic, on
// two draws of the generator; hi = lo - 1 (a zero divisor) gives lo.
int32_t RandomRange(int32_t lo, int32_t hi);
float DegToRad(int32_t deg);
// Adds a turn (6.2831855) while the angle is negative. Below -2^27, where a
// turn no longer changes the f32, the remainder by a turn instead.
float AngleWrap(float angle);

// One frame of the enemy and bullet part of the play update, in play order:
// EnemyMove, EnemyAttackDispatch, BulletUpdate, EffectUpdate.
void PlayUpdateFrame();

// Observers of every service call, for tools and tests. Each pointer may be null.
struct PlayTrace {
    void (*onRandom)(int32_t lo, int32_t hi, int32_t value) = nullptr;
    void (*onBullet)(int slot, const BulletRecord& bullet) = nullptr;
    void (*onEnemy)(int32_t templateId, float x, float y, float aimAngle, float moveAngle, int32_t slotAsked,
                    int32_t slotUsed) = nullptr;
    void (*onEffect)(int32_t kind, float x, float y, float angle, int16_t age) = nullptr;
    void (*onSound)(int32_t n) = nullptr;
    void (*onLog)(const char* line) = nullptr;  // each log line of play, without "play: "
};
void PlaySetTrace(const PlayTrace* trace);
