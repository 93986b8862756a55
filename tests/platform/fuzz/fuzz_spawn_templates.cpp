// Fuzz target: the game's spawn-template text, through its loading function.
// A text that is refused leaves every record as it was and says why; a text
// that is taken changes only the templates it names, keeps each within its
// steps, and gives the same records again from the same start. Built as a
// libFuzzer program with clang (ORVA_LIBFUZZER); every build also runs it as
// a regression program over texts it writes itself and deterministic
// mutations of them:
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
SpawnRecord g_taken[kSpawnRecords];

void LoadStart()
{
    SpawnRecordsClear();
    std::string error;
    FUZZ_CHECK(SpawnTemplatesParse(kLoaded, &error));
}

// Field by field: bytes between the fields need not agree.
bool Same(const SpawnRecord& a, const SpawnRecord& b)
{
    if (a.used != b.used || a.hp != b.hp || std::memcmp(&a.speed, &b.speed, sizeof a.speed) != 0 ||
        a.alpha != b.alpha || std::memcmp(&a.scale, &b.scale, sizeof a.scale) != 0 ||
        a.appearEffect != b.appearEffect || a.score != b.score || a.stepCount != b.stepCount) {
        return false;
    }
    for (int k = 0; k < kSpawnSteps; ++k) {
        const SpawnStep& s = a.steps[k];
        const SpawnStep& t = b.steps[k];
        if (std::memcmp(&s.aimAngle, &t.aimAngle, sizeof s.aimAngle) != 0 ||
            std::memcmp(&s.moveAngle, &t.moveAngle, sizeof s.moveAngle) != 0 || s.attackId != t.attackId ||
            s.deathId != t.deathId || s.frames != t.frames) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LoadStart();
    std::memcpy(static_cast<void*>(g_before), g_spawnRecords, sizeof g_before);

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (!SpawnTemplatesParse(text, &error)) {
        FUZZ_CHECK(!error.empty());
        for (int i = 0; i < kSpawnRecords; ++i) {
            FUZZ_CHECK(Same(g_spawnRecords[i], g_before[i]));
        }
        return 0;
    }
    for (int i = 0; i < kSpawnRecords; ++i) {
        const SpawnRecord& record = g_spawnRecords[i];
        FUZZ_CHECK(record.stepCount <= kSpawnSteps);
        // The text reaches templates only: the scripted records stay, and
        // so do the templates it does not name.
        if (i < kSpawnTemplateBase || g_before[i].used) {
            FUZZ_CHECK(Same(record, g_before[i]));
        }
    }
    // From the same start, the same text gives the same records.
    std::memcpy(static_cast<void*>(g_taken), g_spawnRecords, sizeof g_taken);
    LoadStart();
    FUZZ_CHECK(SpawnTemplatesParse(text, &error));
    for (int i = 0; i < kSpawnRecords; ++i) {
        FUZZ_CHECK(Same(g_spawnRecords[i], g_taken[i]));
    }
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
namespace {

void MutateText(std::string* text, fuzzrun::Random* random)
{
    static const std::vector<const char*> kWords = {
        "template ", "step ", " hp ", " speed ", " alpha ", " scale ", " effect ", " score ", " aim ", " move ",
        " attack ", " death ", " frames ", "#", "\n", " -1", " 199", " 200", " 255", " 256", " 27", " 28", " 32767",
        " 32768", " 65536", " 4294967296", " 1e39", " -1e39", " nan", " inf", " 0x10", " 1.5", " 100.5", "\r", "\t",
        "\x01"};
    fuzztext::Mutate(text, random, kWords);
}

}  // namespace

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
        "template 2 score 4294967295 effect 26\ntemplate 198 speed -25.5\nstep frames 1\n",
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
    fuzzrun::Random random(0x510E527FADE682D1ull);
    fuzzrun::Run(texts, mutations, &random, &MutateText, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
