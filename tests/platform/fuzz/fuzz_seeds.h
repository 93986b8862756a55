#pragma once
#include <cstdint>
#include <vector>

namespace fuzzseeds {

using Bytes = std::vector<uint8_t>;

// Small valid files of every image format the readers take.
std::vector<Bytes> ImageSeeds();
// Small OAG archives in every pixel format.
std::vector<Bytes> PackSeeds();

}  // namespace fuzzseeds
