#pragma once
// What the programs of the fuzz targets share outside libFuzzer: reading
// inputs kept on disk, and writing the seeds the regression programs make
// as a corpus, so that the committed corpora come from the same code as the
// regression runs.
//
//   fuzz_<target>_regression --write-seeds FOLDER
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzzmain {

inline bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes->clear();
    uint8_t block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes->insert(bytes->end(), block, block + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// The file named, or every file in the folder named (not below it) in name
// order, as absolute paths: a target may change its working folder.
inline void AddInputs(const std::string& given, std::vector<std::string>* inputs)
{
    char* resolved = realpath(given.c_str(), nullptr);
    if (resolved == nullptr) {
        std::fprintf(stderr, "%s: no such file or folder\n", given.c_str());
        return;
    }
    const std::string path = resolved;
    std::free(resolved);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "%s: no such file or folder\n", path.c_str());
        return;
    }
    if (!S_ISDIR(info.st_mode)) {
        inputs->push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        std::fprintf(stderr, "%s: cannot read the folder\n", path.c_str());
        return;
    }
    std::vector<std::string> found;
    while (dirent* entry = readdir(dir)) {
        const std::string child = path + "/" + entry->d_name;
        if (entry->d_name[0] != '.' && stat(child.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            found.push_back(child);
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    inputs->insert(inputs->end(), found.begin(), found.end());
}

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
