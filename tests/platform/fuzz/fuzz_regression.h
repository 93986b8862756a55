#pragma once
// What the fuzz targets share when they run as regression programs rather
// than under libFuzzer: a small deterministic generator, and the loop that
// feeds the target its seeds and then mutations of them.
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzzrun {

// xorshift64, high bits out; each program starts it from its own state so
// that every program walks its own mutations, the same in every run.
struct Random {
    explicit Random(uint64_t start) : state(start) {}
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 16);
    }
    size_t Below(size_t n) { return n ? Next() % n : 0; }

    uint64_t state;
};

// The target on one input: bytes or the characters of a text.
template <typename Input>
void Feed(const Input& input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

// The target on every seed, then on `mutations` copies of seeds picked at
// random, each changed by 1 to `maxRounds` calls of mutate (one call, and no
// draw for the count, when maxRounds is 1). `each` sees every mutated input
// after the target did.
template <typename Input, typename Each>
void Run(const std::vector<Input>& seeds, long mutations, Random* random, void (*mutate)(Input*, Random*),
         size_t maxRounds, Each each)
{
    for (const Input& seed : seeds) {
        Feed(seed);
    }
    for (long i = 0; i < mutations; ++i) {
        Input input = seeds[random->Below(seeds.size())];
        for (size_t rounds = maxRounds > 1 ? 1 + random->Below(maxRounds) : 1; rounds > 0; --rounds) {
            mutate(&input, random);
        }
        Feed(input);
        each(input);
    }
}

template <typename Input>
void Run(const std::vector<Input>& seeds, long mutations, Random* random, void (*mutate)(Input*, Random*),
         size_t maxRounds)
{
    Run(seeds, mutations, random, mutate, maxRounds, [](const Input&) {});
}

}  // namespace fuzzrun
