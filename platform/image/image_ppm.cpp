// Netpbm grey and colour maps: P2 and P3 (text), P5 and P6 (binary), with
// any maximum value up to 65535 (two bytes per sample, high first, above 255).
#include "platform/image/image_internal.h"

namespace platform::image_detail {

namespace {

inline bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Skips white space and comments (from '#' to the end of the line).
void SkipSpace(const uint8_t* data, size_t size, size_t* pos) {
    while (*pos < size) {
        if (IsSpace(data[*pos])) {
            ++*pos;
        } else if (data[*pos] == '#') {
            while (*pos < size && data[*pos] != '\n' && data[*pos] != '\r') {
                ++*pos;
            }
        } else {
            break;
        }
    }
}

// A decimal number of at most nine digits.
bool ReadNumber(const uint8_t* data, size_t size, size_t* pos, uint32_t* value) {
    SkipSpace(data, size, pos);
    uint32_t v = 0;
    int digits = 0;
    while (*pos < size && data[*pos] >= '0' && data[*pos] <= '9') {
        if (digits == 9) {
            return false;
        }
        v = v * 10 + uint32_t(data[*pos] - '0');
        ++digits;
        ++*pos;
    }
    if (digits == 0) {
        return false;
    }
    *value = v;
    return true;
}

}  // namespace

bool ReadPpm(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error) {
    if (size < 3 || data[0] != 'P') {
        return Fail(error, "PPM: no signature");
    }
    const char kind = char(data[1]);
    if (kind != '2' && kind != '3' && kind != '5' && kind != '6') {
        return Fail(error, "PPM: kind P%c is not supported", kind);
    }
    const bool text = kind == '2' || kind == '3';
    const int channels = (kind == '3' || kind == '6') ? 3 : 1;
    size_t pos = 2;
    uint32_t width = 0, height = 0, maxValue = 0;
    if (!ReadNumber(data, size, &pos, &width) || !ReadNumber(data, size, &pos, &height) ||
        !ReadNumber(data, size, &pos, &maxValue)) {
        return Fail(error, "PPM: bad or truncated header");
    }
    if (!CheckDimensions(width, height, error)) {
        return false;
    }
    if (maxValue == 0 || maxValue > 65535) {
        return Fail(error, "PPM: maximum value %u out of range", maxValue);
    }
    // Exactly one white-space byte separates the header from binary samples.
    if (pos >= size || !IsSpace(data[pos])) {
        return Fail(error, "PPM: no white space after the header");
    }
    ++pos;

    info->format = ImageFileFormat::Ppm;
    info->width = int(width);
    info->height = int(height);
    const int sampleBytes = maxValue > 255 ? 2 : 1;
    info->bitsPerPixel = channels * 8 * sampleBytes;
    info->hasAlpha = false;
    if (!out) {
        return true;
    }

    const uint64_t samples = uint64_t(width) * height * uint64_t(channels);
    // A text sample takes at least one digit and one separator (the last
    // needs no separator).
    const uint64_t needed = text ? samples * 2 - 1 : samples * uint64_t(sampleBytes);
    if (uint64_t(size - pos) < needed) {
        return Fail(error, "PPM: truncated pixel data (%llu bytes at least, %zu present)",
                    (unsigned long long)needed, size - pos);
    }
    if (!AllocatePixels(out, int(width), int(height), 0xFF000000u, error)) {
        return false;
    }
    auto scale = [maxValue](uint32_t v) -> uint32_t {
        if (v > maxValue) {
            v = maxValue;
        }
        return (v * 255 + maxValue / 2) / maxValue;
    };
    uint32_t sample[3] = {0, 0, 0};
    const size_t pixels = size_t(width) * height;
    for (size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < channels; ++c) {
            if (text) {
                if (!ReadNumber(data, size, &pos, &sample[c])) {
                    return Fail(error, "PPM: bad or missing sample at pixel %zu", i);
                }
            } else if (sampleBytes == 2) {
                sample[c] = (uint32_t(data[pos]) << 8) | data[pos + 1];
                pos += 2;
            } else {
                sample[c] = data[pos++];
            }
            sample[c] = scale(sample[c]);
        }
        out->argb[i] = channels == 3 ? Argb(0xFF, sample[0], sample[1], sample[2])
                                     : Argb(0xFF, sample[0], sample[0], sample[0]);
    }
    return true;
}

}  // namespace platform::image_detail
