// Engine file names turned into host paths.
#include "platform/sys/path.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace platform {

std::string HostPath(const char* engineName)
{
    if (engineName == nullptr || engineName[0] == '\0') {
        std::fprintf(stderr, "sys: empty file name\n");
        return std::string();
    }
    // CP932 rather than SHIFT_JIS: the engine's names are Windows code page
    // 932, where 0x5C is a backslash and not a yen sign.
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "sys: no CP932 converter: %s\n", std::strerror(errno));
        return std::string();
    }
    std::string result;
    bool ok = true;
    try {
        const size_t length = std::strlen(engineName);
        // A CP932 character of one or two bytes becomes at most three UTF-8 bytes.
        std::string converted(length * 3 + 1, '\0');
        char* in = const_cast<char*>(engineName);
        size_t inLeft = length;
        char* out = converted.data();
        size_t outLeft = converted.size();
        if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) {
            std::fprintf(stderr, "sys: file name is not Shift-JIS at byte %zu: %s\n", length - inLeft,
                         std::strerror(errno));
            ok = false;
        } else {
            converted.resize(converted.size() - outLeft);
            // Only after converting: a second Shift-JIS byte may be 0x5C, while
            // no byte of a multi-byte UTF-8 character is.
            for (char& c : converted) {
                if (c == '\\') {
                    c = '/';
                }
            }
            result = std::move(converted);
        }
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "sys: out of memory converting a file name\n");
        ok = false;
    }
    iconv_close(converter);
    return ok ? result : std::string();
}

}  // namespace platform
