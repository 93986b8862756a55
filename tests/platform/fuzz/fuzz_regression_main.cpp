// Runs a fuzz target without libFuzzer: over seed files that this program
// writes into a folder and reads back, then over deterministic mutations of
// them, so that every build exercises the readers with hostile input.
//
//   fuzz_<target>_regression SEED_FOLDER [MUTATIONS]
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/platform/fuzz/fuzz_regression.h"
#include "tests/platform/fuzz/fuzz_seeds.h"

namespace {

using fuzzseeds::Bytes;

using fuzzrun::Random;

bool WriteFile(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadFile(const std::string& path, Bytes* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + n);
    }
    fclose(f);
    return true;
}

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
    if (argc < 2) {
        fprintf(stderr, "usage: %s SEED_FOLDER [MUTATIONS]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const long mutations = argc > 2 ? strtol(argv[2], nullptr, 10) : 3000;
#if defined(ORVA_FUZZ_SEEDS_IMAGE)
    const std::vector<Bytes> made = fuzzseeds::ImageSeeds();
#else
    const std::vector<Bytes> made = fuzzseeds::PackSeeds();
#endif
    mkdir(folder.c_str(), 0755);
    for (size_t i = 0; i < made.size(); ++i) {
        char name[32];
        snprintf(name, sizeof(name), "/seed_%03zu", i);
        if (!WriteFile(folder + name, made[i])) {
            fprintf(stderr, "cannot write seeds into %s\n", folder.c_str());
            return 1;
        }
    }
    // Everything in the folder runs, so inputs that once crashed can be kept
    // there beside the seeds.
    std::vector<Bytes> seeds;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            Bytes bytes;
            if (ReadFile(folder + "/" + entry->d_name, &bytes)) {
                seeds.push_back(std::move(bytes));
            }
        }
        closedir(dir);
    }
    if (seeds.size() < made.size()) {
        fprintf(stderr, "read %zu seeds back, expected at least %zu\n", seeds.size(), made.size());
        return 1;
    }
    fuzzrun::Random random(0x9E3779B97F4A7C15ull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 1);
    printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
