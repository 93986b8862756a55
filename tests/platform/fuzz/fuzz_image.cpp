// Fuzz target: every image reader, through the content-sniffing entry points.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::Image image;
    std::string error;
    const bool decoded = platform::DecodeImageMemory(data, size, &image, &error);
    platform::ImageInfo info;
    const bool described = platform::GetImageInfoMemory(data, size, &info, &error);
    if (decoded) {
        // A decoded image is whole, within the limits, and agrees with what
        // the header query says.
        if (image.width <= 0 || image.height <= 0 || image.width > platform::kMaxImageSide ||
            image.height > platform::kMaxImageSide ||
            image.argb.size() != size_t(image.width) * size_t(image.height) || !described ||
            info.width != image.width || info.height != image.height) {
            __builtin_trap();
        }
    } else if (!image.argb.empty() || image.width != 0 || error.empty()) {
        __builtin_trap();
    }
    return 0;
}
