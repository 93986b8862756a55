#pragma once
// What the regression programs of the fuzz targets share: writing the seeds
// they make as a corpus, so that the committed corpora come from the same
// code as the regression runs.
//
//   fuzz_<target>_regression --write-seeds FOLDER
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace fuzzmain {

// True when the arguments ask for the seeds to be written; they are then
// written as FOLDER/seed_NN and *status is the program's exit status.
inline bool WriteSeedsIfAsked(int argc, char** argv, const std::vector<std::vector<uint8_t>>& seeds, int* status)
{
    if (argc < 2 || std::strcmp(argv[1], "--write-seeds") != 0) {
        return false;
    }
    *status = 1;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s --write-seeds FOLDER\n", argv[0]);
        return true;
    }
    const std::string folder = argv[2];
    mkdir(folder.c_str(), 0755);
    for (size_t i = 0; i < seeds.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/seed_%02zu", i);
        const std::string path = folder + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return true;
        }
        const bool written = std::fwrite(seeds[i].data(), 1, seeds[i].size(), file) == seeds[i].size();
        if (std::fclose(file) != 0 || !written) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return true;
        }
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    *status = 0;
    return true;
}

}  // namespace fuzzmain
