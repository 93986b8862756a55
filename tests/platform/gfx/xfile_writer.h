#pragma once
// X files for tests, written as the public description of the format has
// them: a text body becomes a text file; the same body becomes a binary
// file token by token (2-byte token numbers, names and strings with a
// 4-byte length, numbers in integer and float lists, a string followed by
// its ";" or "," as a 2-byte token as the format's own writer does, or as
// the 4-byte value some writers store); and either one compressed the
// MSZIP way (the unpacked size, then blocks of at most 32 KB, each "CK" and
// raw deflate with the block before it as the dictionary).
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// How a string's closing separator is stored in the binary form.
enum class StringEnd { Token, Wide };

// The body's tokens in the binary form: numbers in runs of integer or float
// lists, keywords as their tokens, separators dropped except the one after
// a string.
inline Bytes BinaryBody(const std::string& s, StringEnd stringEnd = StringEnd::Token)
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
                const uint16_t token = c == ';' ? 20 : 19;
                if (stringEnd == StringEnd::Wide) {
                    Put32(&out, token);
                } else {
                    Put16(&out, token);
                }
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

inline Bytes Binary(const std::string& body, StringEnd stringEnd = StringEnd::Token)
{
    const std::string header = "xof 0303bin 0032";
    Bytes out(header.begin(), header.end());
    const Bytes b = BinaryBody(body, stringEnd);
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// The compressed body: the size of the whole unpacked file (header
// included), then per block its unpacked and packed sizes (u16 each, the
// packed one counting "CK"), "CK" and the raw deflate stream, finished per
// block, with up to 32 KB of what came before as its dictionary.
inline Bytes Pack(const Bytes& body)
{
    constexpr size_t kBlock = 32768;
    Bytes out;
    Put32(&out, uint32_t(body.size() + 16));
    std::vector<uint8_t> packed(compressBound(kBlock) + 64);
    for (size_t at = 0; at < body.size(); at += kBlock) {
        const size_t len = body.size() - at < kBlock ? body.size() - at : kBlock;
        z_stream z{};
        deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        if (at > 0) {
            const size_t dict = at < kBlock ? at : kBlock;
            deflateSetDictionary(&z, body.data() + at - dict, uInt(dict));
        }
        z.next_in = const_cast<Bytef*>(body.data() + at);
        z.avail_in = uInt(len);
        z.next_out = packed.data();
        z.avail_out = uInt(packed.size());
        deflate(&z, Z_FINISH);
        const size_t got = packed.size() - z.avail_out;
        deflateEnd(&z);
        Put16(&out, uint16_t(len));
        Put16(&out, uint16_t(got + 2));
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.begin(), packed.begin() + long(got));
    }
    return out;
}

// format: "tzip" (text inside) or "bzip" (binary inside).
inline Bytes Compressed(const std::string& body, const char* format, StringEnd stringEnd = StringEnd::Token)
{
    const std::string header = std::string("xof 0303") + format + "0032";
    const Bytes inner =
        std::strcmp(format, "tzip") == 0 ? Bytes(body.begin(), body.end()) : BinaryBody(body, stringEnd);
    const Bytes packed = Pack(inner);
    Bytes out(header.begin(), header.end());
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

}  // namespace xtest
