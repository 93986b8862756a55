// Runs a fuzz target over inputs kept on disk, as a libFuzzer program does
// when it is given files and no time to fuzz: every file named, and every
// file in every folder named (not below it), in name order. Builds without
// libFuzzer use this to run the committed corpora and inputs that once
// failed; it fails when it finds no input at all, so that a missing corpus
// is not taken for a clean run.
//
//   fuzz_<target> FILE|FOLDER...
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes)
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

// Paths are made absolute first: a target may change its working folder.
void AddInputs(const std::string& given, std::vector<std::string>* inputs)
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        AddInputs(argv[i], &inputs);
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    size_t bytes = 0;
    std::vector<uint8_t> data;
    for (const std::string& input : inputs) {
        if (!ReadFile(input, &data)) {
            std::fprintf(stderr, "%s: cannot read\n", input.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(data.data(), data.size());
        bytes += data.size();
    }
    std::printf("%zu inputs (%zu bytes) ran\n", inputs.size(), bytes);
    return 0;
}
