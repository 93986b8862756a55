// Fuzz target: the game's spawn-template text, through its loading function.
// A text that is refused leaves every record as it was and says why; a text
// that is taken keeps every template within its steps, and reads the same
// twice. Built as a libFuzzer program with clang (ORVA_LIBFUZZER); every
// build also runs it as a regression program over texts it writes itself
// and deterministic mutations of them:
//
//   fuzz_spawn_templates_regression [MUTATIONS]
//   fuzz_spawn_templates_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "game/play.h"
#include "tests/platform/fuzz/fuzz_check.h"
#include "tests/platform/fuzz/fuzz_main_util.h"
#include "tests/platform/fuzz/fuzz_text_mutator.h"

namespace {

// What every input starts from: a few templates already loaded, so that a
// refused text has records to leave alone.
const char kLoaded[] =
    "template 0 hp 5 speed 1\n"
    "step aim 0.5 move 1 attack 2 frames 30\n"
    "template 199 hp 4294967295 alpha 0 scale 0.5 effect 3 score 100\n";

SpawnRecord g_before[kSpawnRecords];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SpawnRecordsClear();
    std::string error;
    FUZZ_CHECK(SpawnTemplatesParse(kLoaded, &error));
    std::memcpy(static_cast<void*>(g_before), g_spawnRecords, sizeof g_before);

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    error.clear();
    if (!SpawnTemplatesParse(text, &error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(std::memcmp(static_cast<const void*>(g_before), g_spawnRecords, sizeof g_before) == 0);
        return 0;
    }
    for (int i = 0; i < kSpawnRecords; ++i) {
        const SpawnRecord& record = g_spawnRecords[i];
        // The text reaches templates only: the scripted records stay.
        FUZZ_CHECK(record.stepCount <= kSpawnSteps);
        if (i < kSpawnTemplateBase) {
            FUZZ_CHECK(std::memcmp(static_cast<const void*>(&record), static_cast<const void*>(&g_before[i]),
                                   sizeof record) == 0);
        }
    }
    // Taken again over the same records, the text gives the same records.
    std::memcpy(static_cast<void*>(g_before), g_spawnRecords, sizeof g_before);
    FUZZ_CHECK(SpawnTemplatesParse(text, &error));
    for (int i = kSpawnTemplateBase; i < kSpawnRecords; ++i) {
        const SpawnRecord& a = g_spawnRecords[i];
        const SpawnRecord& b = g_before[i];
        FUZZ_CHECK(a.used == b.used && a.hp == b.hp && a.stepCount == b.stepCount && a.score == b.score &&
                   a.appearEffect == b.appearEffect && a.alpha == b.alpha);
    }
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
int main(int argc, char** argv)
{
    const std::vector<std::string> texts = {
        "template 1 hp 10\nstep attack 3\n",
        "# a comment line\n"
        "template 7 hp 55 speed 1.5 alpha 128 scale 2 effect 4 score 300   # trailing comment\n"
        "step aim 0.25 move 0.5 attack 1 frames 10\n"
        "step aim -3.14159 move 6.2831853 attack -32768 death 32767 frames 65535\n"
        "\n"
        "template 8\n",
        "template 4 hp 9 speed 1\n"
        "step aim 1 move 1.5707964 attack 1 frames 3\n"
        "step aim 2 move 0.5 attack 2 frames 0\n"
        "step aim 3 move 0 attack 3\n"
        "step\nstep\nstep\nstep\nstep\nstep\nstep\nstep death 9\n",
        "template 0 score 4294967295 effect 27\ntemplate 199 speed -2.5e1\nstep frames 1\n",
        "\ttemplate\t5\thp\t1\r\nstep attack 1\r\n",
    };
    std::vector<std::vector<uint8_t>> seeds;
    for (const std::string& text : texts) {
        std::string error;
        if (!SpawnTemplatesParse(text, &error)) {
            std::fprintf(stderr, "seed does not read: %s\n%s", error.c_str(), text.c_str());
            return 1;
        }
        seeds.emplace_back(text.begin(), text.end());
    }
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    for (const std::vector<uint8_t>& seed : seeds) {
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    }
    const std::vector<const char*> words = {"template ", "step ", " hp ", " speed ", " alpha ", " scale ", " effect ",
                                            " score ", " aim ", " move ", " attack ", " death ", " frames ", "#", "\n",
                                            " -1", " 199", " 200", " 255", " 256", " 27", " 28", " 32767", " 32768",
                                            " 65536", " 4294967296", " 1e39", " -1e39", " nan", " inf", " 0x10",
                                            " 1.5", "\r", "\t", "\x01"};
    fuzztext::Random random;
    for (long i = 0; i < mutations; ++i) {
        std::string input = texts[random.Below(texts.size())];
        for (size_t steps = 1 + random.Below(3); steps > 0; --steps) {
            fuzztext::Mutate(&input, &random, words);
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
