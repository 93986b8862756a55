// Fuzz target: the OAG archive reader and the LZSS decoder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/image_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<OrvaImagePackEntry> entries;
    const bool listed = OrvaImagePack::ReadDirectoryFromMemory(data, size, &entries);
    // Look up the first record's name (as stored) and a fixed one.
    std::string first;
    if (size >= 8 + 32) {
        first.assign(reinterpret_cast<const char*>(data) + 8, strnlen(reinterpret_cast<const char*>(data) + 8, 16));
    }
    for (const std::string& name : {first, std::string("title")}) {
        platform::Image image;
        if (OrvaImagePack::LoadEntryFromMemory(data, size, name.c_str(), &image)) {
            if (image.argb.size() != size_t(image.width) * size_t(image.height) || image.width <= 0 ||
                image.height <= 0) {
                __builtin_trap();
            }
        } else if (!image.argb.empty()) {
            __builtin_trap();
        }
    }
    for (const OrvaImagePackEntry& e : entries) {
        if (!listed || uint64_t(e.offset) + e.size > size || e.format > 7) {
            __builtin_trap();
        }
    }
    // The raw stream decoder on its own, into a fenced buffer.
    uint8_t out[4096 + 1];
    out[4096] = 0xA5;
    const size_t want = size % 4096;
    OrvaImagePack::LzssDecode(data, size, out, want);
    if (out[4096] != 0xA5) {
        __builtin_trap();
    }
    return 0;
}
