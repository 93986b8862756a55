// Runs a fuzz target over inputs kept on disk, as a libFuzzer program does
// when it is given files and no time to fuzz: every file named, and every
// file in every folder named (not below it), in name order. Builds without
// libFuzzer use this to run the committed corpora and inputs that once
// failed; it fails when it finds no input at all, so that a missing corpus
// is not taken for a clean run.
//
//   fuzz_<target> FILE|FOLDER...
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/platform/fuzz/fuzz_main_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        fuzzmain::AddInputs(argv[i], &inputs);
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    size_t bytes = 0;
    std::vector<uint8_t> data;
    for (const std::string& input : inputs) {
        if (!fuzzmain::ReadFile(input, &data)) {
            std::fprintf(stderr, "%s: cannot read\n", input.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(data.data(), data.size());
        bytes += data.size();
    }
    std::printf("%zu inputs (%zu bytes) ran\n", inputs.size(), bytes);
    return 0;
}
