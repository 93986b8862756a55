// Runs the image and OAG archive fuzz targets without libFuzzer, over the
// seeds this program makes and deterministic mutations of them, so that
// every build exercises the readers with hostile input:
//
//   fuzz_<target>_regression [MUTATIONS]
//   fuzz_<target>_regression --write-seeds FOLDER
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/platform/fuzz/fuzz_main_util.h"
#include "tests/platform/fuzz/fuzz_regression.h"
#include "tests/platform/fuzz/fuzz_seeds.h"

namespace {

using fuzzseeds::Bytes;

using fuzzrun::Random;

void Mutate(Bytes* b, Random* r) {
    static const uint32_t kInteresting[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0xFFFF, 16384, 16385,
                                            0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF0u};
    const int steps = 1 + int(r->Below(4));
    for (int s = 0; s < steps; ++s) {
        const size_t size = b->size();
        switch (r->Below(7)) {
        case 0:
            if (size) (*b)[r->Below(size)] ^= uint8_t(1u << r->Below(8));
            break;
        case 1:
            if (size) (*b)[r->Below(size)] = uint8_t(kInteresting[r->Below(13)]);
            break;
        case 2:
            if (size >= 4) {
                const size_t at = r->Below(size - 3);
                const uint32_t v = kInteresting[r->Below(13)];
                for (int i = 0; i < 4; ++i) (*b)[at + i] = uint8_t(v >> (8 * i));
            }
            break;
        case 3:
            b->resize(r->Below(size + 1));
            break;
        case 4:
            if (size) {
                const size_t from = r->Below(size), length = 1 + r->Below(std::min<size_t>(64, size - from));
                const Bytes chunk(b->begin() + long(from), b->begin() + long(from + length));
                b->insert(b->begin() + long(r->Below(b->size() + 1)), chunk.begin(), chunk.end());
            }
            break;
        case 5:
            if (size) {
                const size_t from = r->Below(size), length = 1 + r->Below(std::min<size_t>(64, size - from));
                b->erase(b->begin() + long(from), b->begin() + long(from + length));
            }
            break;
        default:
            for (size_t i = 0, n = 1 + r->Below(16); i < n; ++i) {
                b->insert(b->begin() + long(r->Below(b->size() + 1)), uint8_t(r->Next()));
            }
            break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
#if defined(ORVA_FUZZ_SEEDS_IMAGE)
    const std::vector<Bytes> seeds = fuzzseeds::ImageSeeds();
#else
    const std::vector<Bytes> seeds = fuzzseeds::PackSeeds();
#endif
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    const long mutations = argc > 1 ? strtol(argv[1], nullptr, 10) : 3000;
    fuzzrun::Random random(0x9E3779B97F4A7C15ull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 1);
    printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
