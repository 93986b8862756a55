// tarvolenix: until the engine's window and device are in place the program
// plays the enemy side of a stage headless: enemies from spawn templates fly
// in, fire their attack patterns and leave, and a line a second reports the
// tables. Options: --frames N, --difficulty D, --seed N, --templates FILE.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "game/crt_random.h"
#include "game/play.h"

static const char kDefaultTemplates[] = R"(# enemies of the headless stage
template 0 hp 40 speed 1.2 score 100
step aim 1.5707964 move 1.5707964 attack 1 death 3 frames 200
step aim 1.5707964 move 4.712389 attack 4 death 3
template 1 hp 60 speed 0.8 score 150
step aim 1.5707964 move 1.5707964 attack 6 death 12 frames 240
step aim 1.5707964 move 0.3 attack 8
template 2 hp 80 speed 0.6 score 200
step aim 1.5707964 move 1.5707964 attack 5 death 1 frames 300
step aim 1.5707964 move 2.8 attack 7
template 11 hp 2 speed 2.4 score 10
step attack 0
template 12 hp 2 speed 2.0 score 10
step attack 1
template 13 hp 2 speed 1.6 score 10
step attack 0
template 53 hp 2 speed 1.4 score 10
step attack 0
)";

int main(int argc, char** argv)
{
    long frames = 1800;
    long difficulty = 1;
    unsigned long seed = 1;
    const char* templates = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0) {
            frames = std::strtol(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--difficulty") == 0) {
            difficulty = std::strtol(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            seed = std::strtoul(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--templates") == 0) {
            templates = argv[i + 1];
        } else {
            std::fprintf(stderr, "tarvolenix: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    std::string error;
    const bool loaded =
        templates ? SpawnTemplatesLoad(templates, &error) : SpawnTemplatesParse(kDefaultTemplates, &error);
    if (!loaded) {
        std::fprintf(stderr, "tarvolenix: spawn templates: %s\n", error.c_str());
        return 1;
    }
    PlayReset();
    CrtSeed(static_cast<uint32_t>(seed));
    g_session.difficulty = static_cast<uint8_t>(difficulty);

    for (long frame = 1; frame <= frames; ++frame) {
        // A wave every 90 frames across the top of the field.
        if (frame % 90 == 1) {
            const int32_t kind = RandomRange(0, 2);
            const float x = static_cast<float>(RandomRange(160, 480));
            EnemySpawnFromTemplate(kind, x, 10.0f, 0.0f, 0.0f, -1);
        }
        // Now and then the player shoots one down.
        if (frame % 150 == 0) {
            for (int slot = kFirstFreeEnemySlot; slot < kEnemySlots; ++slot) {
                if (g_enemies[slot].active != 0 && g_enemies[slot].y > 60.0f) {
                    EnemyDestroy(slot);
                    break;
                }
            }
        }
        PlayUpdateFrame();
        if (frame % 60 == 0) {
            std::printf("frame %5ld  enemies %3d  bullets %3d  score %u\n", frame, EnemyCountActive(),
                        BulletCountActive(), g_session.score);
        }
    }
    return 0;
}
