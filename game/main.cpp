// tarvolenix: the game's entry. Options: --frames N ends the run after N
// frames (for scripts and tests); nothing else.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/application.h"
#include "engine/engine.h"
#include "game/game.h"
#include "platform/sys/printable.h"

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long long frames = std::strtoll(argv[++i], &end, 10);
            if (*end != '\0' || frames < 0) {
                std::fprintf(stderr, "tarvolenix: bad frame count %s\n", platform::PrintableText(argv[i]).c_str());
                return 2;
            }
            GameSetFrameLimit(frames);
        } else {
            std::fprintf(stderr, "usage: tarvolenix [--frames N]\n");
            return 2;
        }
    }
    OrvaEngine::RegisterModules();
    const int32_t result = OrvaApplication::Run(GameSetup, GameMain);
    return result < 0 ? 1 : result;
}
