#pragma once
// X files for tests: a text body becomes a text file, the same body as a
// binary file (token by token), and either one compressed.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/xfile.h"

namespace xtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Text(const std::string& body)
{
    const std::string all = "xof 0303txt 0032" + body;
    return Bytes(all.begin(), all.end());
}

inline void Put16(Bytes* b, uint16_t v)
{
    b->push_back(uint8_t(v));
    b->push_back(uint8_t(v >> 8));
}

inline void Put32(Bytes* b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b->push_back(uint8_t(v >> (8 * i)));
}

// The body's tokens in the binary form: numbers in runs of integer or float
// lists, keywords as their tokens, separators dropped except a string's
// terminator.
inline Bytes BinaryBody(const std::string& s)
{
    Bytes out;
    std::vector<std::string> run;
    bool runFloat = false;
    auto flush = [&]() {
        if (run.empty()) return;
        Put16(&out, runFloat ? 7 : 6);
        Put32(&out, uint32_t(run.size()));
        for (const std::string& n : run) {
            if (runFloat) {
                const float f = std::stof(n);
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                Put32(&out, bits);
            } else {
                Put32(&out, uint32_t(std::stoll(n)));
            }
        }
        run.clear();
    };
    size_t i = 0;
    bool afterString = false;
    while (i < s.size()) {
        const char c = s[i];
        if (c <= ' ') { ++i; continue; }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
            while (i < s.size() && s[i] != '\n') ++i;
            continue;
        }
        const bool numberStart = (c >= '0' && c <= '9') || (c == '-' && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9');
        if (numberStart) {
            size_t e = i + 1;
            while (e < s.size() && ((s[e] >= '0' && s[e] <= '9') || s[e] == '.' || s[e] == 'e' || s[e] == '-')) ++e;
            const std::string n = s.substr(i, e - i);
            const bool isFloat = n.find('.') != std::string::npos;
            if (!run.empty() && isFloat != runFloat) flush();
            runFloat = isFloat;
            run.push_back(n);
            i = e;
            afterString = false;
            continue;
        }
        if (c == ';' || c == ',') {
            if (afterString) {
                Put32(&out, c == ';' ? 20 : 19);
                afterString = false;
            }
            ++i;
            continue;
        }
        flush();
        afterString = false;
        switch (c) {
        case '{': Put16(&out, 10); ++i; continue;
        case '}': Put16(&out, 11); ++i; continue;
        case '[': Put16(&out, 14); ++i; continue;
        case ']': Put16(&out, 15); ++i; continue;
        case '.': Put16(&out, 18); ++i; continue;
        default: break;
        }
        if (c == '<') {
            Put16(&out, 5);
            for (int k = 0; k < 16; ++k) out.push_back(uint8_t(k));
            i = s.find('>', i) + 1;
            continue;
        }
        if (c == '"') {
            const size_t e = s.find('"', i + 1);
            Put16(&out, 2);
            Put32(&out, uint32_t(e - i - 1));
            out.insert(out.end(), s.begin() + long(i) + 1, s.begin() + long(e));
            i = e + 1;
            afterString = true;
            continue;
        }
        size_t e = i;
        while (e < s.size() && s[e] > ' ' && std::strchr("{}[];,\"<>", s[e]) == nullptr) ++e;
        const std::string word = s.substr(i, e - i);
        i = e;
        static const struct { const char* w; uint16_t t; } kWords[] = {
            {"template", 31}, {"WORD", 40}, {"DWORD", 41}, {"FLOAT", 42}, {"DOUBLE", 43}, {"CHAR", 44},
            {"UCHAR", 45}, {"SWORD", 46}, {"SDWORD", 47}, {"LPSTR", 49}, {"CSTRING", 51}, {"array", 52}};
        bool keyword = false;
        for (const auto& k : kWords) {
            if (word == k.w) {
                Put16(&out, k.t);
                keyword = true;
            }
        }
        if (!keyword) {
            Put16(&out, 1);
            Put32(&out, uint32_t(word.size()));
            out.insert(out.end(), word.begin(), word.end());
        }
    }
    flush();
    return out;
}

inline Bytes Binary(const std::string& body)
{
    const std::string header = "xof 0303bin 0032";
    Bytes out(header.begin(), header.end());
    const Bytes b = BinaryBody(body);
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// format: "tzip" (text inside) or "bzip" (binary inside).
inline Bytes Compressed(const std::string& body, const char* format)
{
    const std::string header = std::string("xof 0303") + format + "0032";
    const Bytes inner = std::strcmp(format, "tzip") == 0 ? Bytes(body.begin(), body.end()) : BinaryBody(body);
    Bytes packed;
    platform::XFileCompress(inner.data(), inner.size(), &packed);
    Bytes out(header.begin(), header.end());
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

}  // namespace xtest
