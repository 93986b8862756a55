// OAG image archives: reading, LZSS packing and unpacking, and building.
#include "engine/core/image_pack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/core/debug.h"
#include "engine/core/sjis.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"
#include "platform/text/codepage.h"

namespace {

constexpr uint32_t kRingSize = 4096;
constexpr uint32_t kMaxMatch = 18;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kRingStart = kRingSize - kMaxMatch;  // 4078
// A flag byte and eight two-byte matches (17 bytes) unpack to at most 144
// bytes: no valid stream unpacks to more than 9 bytes per stored byte.
constexpr uint64_t kMaxLzssRatio = 9;

uint32_t Read32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t Read16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
void Write32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void Write16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

uint8_t FoldAscii(uint8_t b) { return (b >= 'a' && b <= 'z') ? uint8_t(b - 'a' + 'A') : b; }

// Log lines carry names as UTF-8 text.
std::string Printable(const char* sjis) {
    return sjis ? platform::Cp932ToUtf8(sjis) : std::string("(null)");
}

bool ParseRecord(const uint8_t* record, OrvaImagePackEntry* entry) {
    size_t nameLength = 0;
    while (nameLength < OrvaImagePack::kNameSize && record[nameLength] != 0) {
        ++nameLength;
    }
    entry->name.assign(reinterpret_cast<const char*>(record), nameLength);
    entry->offset = Read32(record + 16);
    entry->size = Read32(record + 20);
    entry->width = Read16(record + 24);
    entry->height = Read16(record + 26);
    entry->format = record[28];
    return true;
}

// The header: magic and a count whose records fit in `size` bytes.
bool CheckHeader(const uint8_t* header, uint64_t fileSize, uint32_t* count, const char* label) {
    if (fileSize < OrvaImagePack::kHeaderSize) {
        OrvaDebug::Log("エラー : イメージパック [%s] が短すぎます (%llu バイト)\n", label,
                       (unsigned long long)fileSize);
        return false;
    }
    if (memcmp(header, "OAG\0", 4) != 0) {
        OrvaDebug::Log("エラー : イメージパック [%s] は OAG ファイルではありません\n", label);
        return false;
    }
    *count = Read32(header + 4);
    const uint64_t tableEnd = OrvaImagePack::kHeaderSize + uint64_t(*count) * OrvaImagePack::kRecordSize;
    if (*count > OrvaImagePack::kMaxEntries || tableEnd > fileSize) {
        OrvaDebug::Log("エラー : イメージパック [%s] のエントリ数 %u が不正です\n", label, *count);
        return false;
    }
    return true;
}

// Checks one record against the file it came from.
bool CheckEntry(const OrvaImagePackEntry& e, uint64_t fileSize, const char* label) {
    const std::string name = Printable(e.name.c_str());
    if (e.format >= OrvaImagePack::kFormatCount) {
        OrvaDebug::Log("エラー : イメージパック [%s] のエントリ [%s] の形式 %u が不正です\n", label, name.c_str(),
                       e.format);
        return false;
    }
    if (e.width == 0 || e.height == 0 || e.width > platform::kMaxImageSide || e.height > platform::kMaxImageSide) {
        OrvaDebug::Log("エラー : イメージパック [%s] のエントリ [%s] のサイズ %ux%u が不正です\n", label,
                       name.c_str(), e.width, e.height);
        return false;
    }
    if (uint64_t(e.offset) + e.size > fileSize || e.offset < OrvaImagePack::kHeaderSize) {
        OrvaDebug::Log("エラー : イメージパック [%s] のエントリ [%s] がファイルの外を指しています "
                       "(位置 %u / %u バイト / ファイル %llu バイト)\n",
                       label, name.c_str(), e.offset, e.size, (unsigned long long)fileSize);
        return false;
    }
    return true;
}

uint32_t ToArgb(const uint8_t* p, uint8_t kind) {
    switch (kind) {
    case 0: return Read32(p);
    case 1: return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    case 2: {
        const uint32_t v = Read16(p);
        const uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
        return 0xFF000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
    }
    default: {
        const uint32_t v = Read16(p);
        return (((v >> 12) & 0xF) * 17) << 24 | (((v >> 8) & 0xF) * 17) << 16 | (((v >> 4) & 0xF) * 17) << 8 |
               (v & 0xF) * 17;
    }
    }
}

void FromArgb(uint32_t c, uint8_t kind, uint8_t* p) {
    const uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    switch (kind) {
    case 0: Write32(p, c); break;
    case 1:
        p[0] = uint8_t(b);
        p[1] = uint8_t(g);
        p[2] = uint8_t(r);
        break;
    case 2: Write16(p, uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))); break;
    default:
        // Round to the nearest of the 16 levels (v x 17 widens back).
        Write16(p, uint16_t((((a + 8) / 17) << 12) | (((r + 8) / 17) << 8) | (((g + 8) / 17) << 4) | ((b + 8) / 17)));
        break;
    }
}

}  // namespace

uint32_t OrvaImagePack::BytesPerPixel(uint8_t format) {
    static const uint32_t kBytes[4] = {4, 3, 2, 2};
    return format < kFormatCount ? kBytes[format & 3] : 0;
}

bool OrvaImagePack::NameMatches(const char* entryName, const char* recordName, size_t recordNameSize) {
    if (!entryName || !recordName) {
        return false;
    }
    const uint8_t* a = reinterpret_cast<const uint8_t*>(entryName);
    const uint8_t* b = reinterpret_cast<const uint8_t*>(recordName);
    size_t i = 0;
    for (;;) {
        const uint8_t ca = a[i];
        const uint8_t cb = i < recordNameSize ? b[i] : 0;
        if (ca == 0 || cb == 0) {
            return ca == cb;
        }
        if (OrvaSjis::IsLeadByte(ca)) {
            // A double-byte character: both bytes exactly, no case folding.
            if (ca != cb || i + 1 >= recordNameSize || a[i + 1] != b[i + 1] || a[i + 1] == 0) {
                return false;
            }
            i += 2;
            continue;
        }
        if (FoldAscii(ca) != FoldAscii(cb)) {
            return false;
        }
        ++i;
    }
}

bool OrvaImagePack::LzssDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    if ((!in && inSize) || (!out && outSize)) {
        return false;
    }
    uint8_t ring[kRingSize];
    memset(ring, 0, sizeof(ring));
    uint32_t r = kRingStart;
    size_t i = 0;
    size_t o = 0;
    while (o < outSize) {
        if (i >= inSize) {
            return false;
        }
        const uint8_t flags = in[i++];
        for (int bit = 0; bit < 8 && o < outSize; ++bit) {
            if (flags & (1u << bit)) {
                if (i >= inSize) {
                    return false;
                }
                const uint8_t c = in[i++];
                out[o++] = c;
                ring[r] = c;
                r = (r + 1) & (kRingSize - 1);
            } else {
                if (inSize - i < 2) {
                    return false;
                }
                const uint32_t position = in[i] | (uint32_t(in[i + 1] & 0xF0) << 4);
                const uint32_t length = (in[i + 1] & 0x0F) + kMinMatch;
                i += 2;
                if (outSize - o < length) {
                    return false;
                }
                for (uint32_t k = 0; k < length; ++k) {
                    const uint8_t c = ring[(position + k) & (kRingSize - 1)];
                    out[o++] = c;
                    ring[r] = c;
                    r = (r + 1) & (kRingSize - 1);
                }
            }
        }
    }
    return true;
}

bool OrvaImagePack::LzssEncode(const uint8_t* in, size_t inSize, std::vector<uint8_t>* out) {
    if (!out || (!in && inSize)) {
        return false;
    }
    // The text is searched as if preceded by the window's zero fill, so that
    // runs of zeros at the start pack too; a match never reaches further back
    // than kRingStart bytes, where the ring still holds what it copies.
    constexpr size_t kHashSize = 1 << 14;
    constexpr int kMaxChain = 96;
    try {
        out->clear();
        std::vector<uint8_t> text(kRingStart + inSize, 0);
        if (inSize) {
            memcpy(text.data() + kRingStart, in, inSize);
        }
        const size_t total = text.size();
        std::vector<int64_t> head(kHashSize, -1);
        std::vector<int64_t> prev(total, -1);
        auto hashAt = [&](size_t p) {
            return ((uint32_t(text[p]) << 10) ^ (uint32_t(text[p + 1]) << 5) ^ text[p + 2]) & (kHashSize - 1);
        };
        auto insert = [&](size_t p) {
            if (p + kMinMatch <= total) {
                const uint32_t h = hashAt(p);
                prev[p] = head[h];
                head[h] = int64_t(p);
            }
        };
        for (size_t p = 0; p < kRingStart; ++p) {
            insert(p);
        }
        size_t flagAt = 0;
        int bit = 8;
        size_t p = kRingStart;
        while (p < total) {
            if (bit == 8) {
                flagAt = out->size();
                out->push_back(0);
                bit = 0;
            }
            size_t bestLength = 0;
            size_t bestPos = 0;
            if (p + kMinMatch <= total) {
                const size_t limit = std::min<size_t>(kMaxMatch, total - p);
                int chain = 0;
                for (int64_t c = head[hashAt(p)]; c >= 0 && chain < kMaxChain; c = prev[size_t(c)], ++chain) {
                    const size_t candidate = size_t(c);
                    if (p - candidate > kRingStart) {
                        break;
                    }
                    size_t length = 0;
                    while (length < limit && text[candidate + length] == text[p + length]) {
                        ++length;
                    }
                    if (length > bestLength) {
                        bestLength = length;
                        bestPos = candidate;
                        if (length == limit) {
                            break;
                        }
                    }
                }
            }
            if (bestLength >= kMinMatch) {
                // Text position t (data byte t - kRingStart) sits at ring position t mod 4096.
                const uint32_t ringPos = uint32_t(bestPos) & (kRingSize - 1);
                out->push_back(uint8_t(ringPos));
                out->push_back(uint8_t(((ringPos >> 4) & 0xF0) | (bestLength - kMinMatch)));
                for (size_t k = 0; k < bestLength; ++k) {
                    insert(p + k);
                }
                p += bestLength;
            } else {
                (*out)[flagAt] |= uint8_t(1u << bit);
                out->push_back(text[p]);
                insert(p);
                ++p;
            }
            ++bit;
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        return false;
    }
    return true;
}

bool OrvaImagePack::DecodeEntryData(const OrvaImagePackEntry& entry, const uint8_t* data, size_t size,
                                    platform::Image* out) {
    if (!out) {
        return false;
    }
    *out = platform::Image();
    const std::string name = Printable(entry.name.c_str());
    const uint32_t bpp = BytesPerPixel(entry.format);
    if (bpp == 0 || entry.width == 0 || entry.height == 0 || entry.width > platform::kMaxImageSide ||
        entry.height > platform::kMaxImageSide || (!data && size)) {
        OrvaDebug::Log("エラー : イメージ [%s] の形式 %u / サイズ %ux%u が不正です\n", name.c_str(), entry.format,
                       entry.width, entry.height);
        return false;
    }
    const uint64_t pixels = uint64_t(entry.width) * entry.height;
    const uint64_t needed = pixels * bpp;
    const bool packed = entry.format >= 4;
    if (!packed && size < needed) {
        OrvaDebug::Log("エラー : イメージ [%s] のデータが足りません (%zu / %llu バイト)\n", name.c_str(), size,
                       (unsigned long long)needed);
        return false;
    }
    if (packed && needed > uint64_t(size) * kMaxLzssRatio) {
        OrvaDebug::Log("エラー : イメージ [%s] の圧縮データ %zu バイトから %llu バイトは展開できません\n",
                       name.c_str(), size, (unsigned long long)needed);
        return false;
    }
    try {
        std::vector<uint8_t> unpacked;
        const uint8_t* bytes = data;
        if (packed) {
            unpacked.resize(size_t(needed));
            if (!LzssDecode(data, size, unpacked.data(), unpacked.size())) {
                OrvaDebug::Log("エラー : イメージ [%s] の圧縮データが壊れています\n", name.c_str());
                return false;
            }
            bytes = unpacked.data();
        }
        out->argb.resize(size_t(pixels));
        const uint8_t kind = entry.format & 3;
        for (size_t i = 0; i < size_t(pixels); ++i) {
            out->argb[i] = ToArgb(bytes + i * bpp, kind);
        }
        out->width = entry.width;
        out->height = entry.height;
    } catch (const std::bad_alloc&) {
        *out = platform::Image();
        OrvaDebug::Log("エラー : イメージ [%s] のメモリが確保できません (%ux%u)\n", name.c_str(), entry.width,
                       entry.height);
        return false;
    }
    return true;
}

bool OrvaImagePack::ReadDirectoryFromMemory(const uint8_t* data, size_t size,
                                            std::vector<OrvaImagePackEntry>* entries) {
    if (!entries || (!data && size)) {
        return false;
    }
    entries->clear();
    uint32_t count = 0;
    if (!CheckHeader(data, size, &count, "(memory)")) {
        return false;
    }
    try {
        entries->reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            OrvaImagePackEntry e;
            ParseRecord(data + kHeaderSize + size_t(i) * kRecordSize, &e);
            if (!CheckEntry(e, size, "(memory)")) {
                entries->clear();
                return false;
            }
            entries->push_back(std::move(e));
        }
    } catch (const std::bad_alloc&) {
        entries->clear();
        return false;
    }
    return true;
}

bool OrvaImagePack::LoadEntryFromMemory(const uint8_t* data, size_t size, const char* entryName,
                                        platform::Image* out) {
    if (!out) {
        return false;
    }
    *out = platform::Image();
    if (!entryName || (!data && size)) {
        return false;
    }
    uint32_t count = 0;
    if (!CheckHeader(data, size, &count, "(memory)")) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = data + kHeaderSize + size_t(i) * kRecordSize;
        if (!NameMatches(entryName, reinterpret_cast<const char*>(record), kNameSize)) {
            continue;
        }
        OrvaImagePackEntry e;
        ParseRecord(record, &e);
        if (!CheckEntry(e, size, "(memory)")) {
            return false;
        }
        return DecodeEntryData(e, data + e.offset, e.size, out);
    }
    OrvaDebug::Log("エラー : イメージパックにエントリ [%s] がありません\n", Printable(entryName).c_str());
    return false;
}

namespace {

// An open archive file with its size and checked record table.
struct PackFile {
    FILE* file = nullptr;
    uint64_t size = 0;
    std::vector<uint8_t> table;  // the header and every record
    std::string label;           // the host path, for log lines
    ~PackFile() {
        if (file) {
            fclose(file);
        }
    }
};

bool OpenPack(const char* packFile, PackFile* pack) {
    if (!packFile) {
        OrvaDebug::Log("エラー : イメージパックのファイル名がありません\n");
        return false;
    }
    const std::string host = platform::HostPath(packFile);
    pack->label = host.empty() ? Printable(packFile) : host;
    if (host.empty()) {
        OrvaDebug::Log("エラー : イメージパック [%s] のファイル名が不正です\n", pack->label.c_str());
        return false;
    }
    pack->file = platform::OpenRegularFileStream(host.c_str());
    if (!pack->file) {
        if (errno == EISDIR) {
            OrvaDebug::Log("エラー : イメージパック [%s] はフォルダです\n", pack->label.c_str());
        } else {
            OrvaDebug::Log("エラー : イメージパック [%s] が開けません\n", pack->label.c_str());
        }
        return false;
    }
    long length = -1;
    if (fseek(pack->file, 0, SEEK_END) == 0) {
        length = ftell(pack->file);
    }
    if (length < 0 || fseek(pack->file, 0, SEEK_SET) != 0) {
        OrvaDebug::Log("エラー : イメージパック [%s] のサイズが読めません\n", pack->label.c_str());
        return false;
    }
    pack->size = uint64_t(length);
    uint8_t header[OrvaImagePack::kHeaderSize] = {0};
    const size_t got = fread(header, 1, sizeof(header), pack->file);
    uint32_t count = 0;
    if (!CheckHeader(header, got < sizeof(header) ? got : pack->size, &count, pack->label.c_str())) {
        return false;
    }
    try {
        pack->table.resize(OrvaImagePack::kHeaderSize + size_t(count) * OrvaImagePack::kRecordSize);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("エラー : イメージパック [%s] のメモリが確保できません\n", pack->label.c_str());
        return false;
    }
    memcpy(pack->table.data(), header, sizeof(header));
    const size_t recordBytes = pack->table.size() - sizeof(header);
    if (fread(pack->table.data() + sizeof(header), 1, recordBytes, pack->file) != recordBytes) {
        OrvaDebug::Log("エラー : イメージパック [%s] のエントリが読めません\n", pack->label.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool OrvaImagePack::ReadDirectory(const char* packFile, std::vector<OrvaImagePackEntry>* entries) {
    if (!entries) {
        return false;
    }
    entries->clear();
    PackFile pack;
    if (!OpenPack(packFile, &pack)) {
        return false;
    }
    const uint32_t count = uint32_t((pack.table.size() - kHeaderSize) / kRecordSize);
    try {
        for (uint32_t i = 0; i < count; ++i) {
            OrvaImagePackEntry e;
            ParseRecord(pack.table.data() + kHeaderSize + size_t(i) * kRecordSize, &e);
            if (!CheckEntry(e, pack.size, pack.label.c_str())) {
                entries->clear();
                return false;
            }
            entries->push_back(std::move(e));
        }
    } catch (const std::bad_alloc&) {
        entries->clear();
        return false;
    }
    return true;
}

bool OrvaImagePack::LoadEntry(const char* packFile, const char* entryName, platform::Image* out) {
    if (!out) {
        return false;
    }
    *out = platform::Image();
    if (!entryName) {
        OrvaDebug::Log("エラー : イメージパックのエントリ名がありません\n");
        return false;
    }
    PackFile pack;
    if (!OpenPack(packFile, &pack)) {
        return false;
    }
    const uint32_t count = uint32_t((pack.table.size() - kHeaderSize) / kRecordSize);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = pack.table.data() + kHeaderSize + size_t(i) * kRecordSize;
        if (!NameMatches(entryName, reinterpret_cast<const char*>(record), kNameSize)) {
            continue;
        }
        OrvaImagePackEntry e;
        ParseRecord(record, &e);
        if (!CheckEntry(e, pack.size, pack.label.c_str())) {
            return false;
        }
        std::vector<uint8_t> data;
        try {
            data.resize(e.size);
        } catch (const std::bad_alloc&) {
            OrvaDebug::Log("エラー : イメージパック [%s] のメモリが確保できません (%u バイト)\n", pack.label.c_str(),
                           e.size);
            return false;
        }
        if (fseek(pack.file, long(e.offset), SEEK_SET) != 0 ||
            fread(data.data(), 1, data.size(), pack.file) != data.size()) {
            OrvaDebug::Log("エラー : イメージパック [%s] のエントリ [%s] が読めません\n", pack.label.c_str(),
                           Printable(entryName).c_str());
            return false;
        }
        return DecodeEntryData(e, data.data(), data.size(), out);
    }
    OrvaDebug::Log("エラー : イメージパック [%s] にエントリ [%s] がありません\n", pack.label.c_str(),
                   Printable(entryName).c_str());
    return false;
}

bool OrvaImagePack::Build(const std::vector<OrvaImagePackSource>& sources, std::vector<uint8_t>* out) {
    if (!out) {
        return false;
    }
    out->clear();
    if (sources.size() > kMaxEntries) {
        OrvaDebug::Log("エラー : イメージパックのエントリが多すぎます (%zu)\n", sources.size());
        return false;
    }
    // An entry is found by the first name that matches, so a second entry of
    // the same name could never be read back.
    for (size_t i = 0; i < sources.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (NameMatches(sources[i].name.c_str(), sources[j].name.c_str(), sources[j].name.size())) {
                OrvaDebug::Log("エラー : エントリ名 [%s] が重複しています\n", Printable(sources[i].name.c_str()).c_str());
                return false;
            }
        }
    }
    try {
        const size_t tableEnd = kHeaderSize + sources.size() * kRecordSize;
        out->assign(tableEnd, 0);
        memcpy(out->data(), "OAG\0", 4);
        Write32(out->data() + 4, uint32_t(sources.size()));
        for (size_t i = 0; i < sources.size(); ++i) {
            const OrvaImagePackSource& s = sources[i];
            const platform::Image* image = s.image;
            if (s.name.empty() || s.name.size() > kNameSize || s.name.find('\0') != std::string::npos) {
                OrvaDebug::Log("エラー : エントリ名 [%s] は 1 から 16 バイトです\n", Printable(s.name.c_str()).c_str());
                out->clear();
                return false;
            }
            if (!image || s.format >= kFormatCount || image->width <= 0 || image->height <= 0 ||
                image->width > platform::kMaxImageSide || image->height > platform::kMaxImageSide ||
                image->argb.size() != size_t(image->width) * size_t(image->height)) {
                OrvaDebug::Log("エラー : エントリ [%s] のイメージか形式 %u が不正です\n",
                               Printable(s.name.c_str()).c_str(), s.format);
                out->clear();
                return false;
            }
            const uint32_t bpp = BytesPerPixel(s.format);
            std::vector<uint8_t> raw(image->argb.size() * bpp);
            for (size_t p = 0; p < image->argb.size(); ++p) {
                FromArgb(image->argb[p], s.format & 3, raw.data() + p * bpp);
            }
            std::vector<uint8_t> packed;
            const std::vector<uint8_t>* stored = &raw;
            if (s.format >= 4) {
                if (!LzssEncode(raw.data(), raw.size(), &packed)) {
                    out->clear();
                    return false;
                }
                stored = &packed;
            }
            if (out->size() + stored->size() > 0xFFFFFFFFull) {
                OrvaDebug::Log("エラー : イメージパックが 4GB を超えます\n");
                out->clear();
                return false;
            }
            uint8_t* record = out->data() + kHeaderSize + i * kRecordSize;
            memcpy(record, s.name.data(), s.name.size());
            Write32(record + 16, uint32_t(out->size()));
            Write32(record + 20, uint32_t(stored->size()));
            Write16(record + 24, uint16_t(image->width));
            Write16(record + 26, uint16_t(image->height));
            record[28] = s.format;
            out->insert(out->end(), stored->begin(), stored->end());
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        OrvaDebug::Log("エラー : イメージパックのメモリが確保できません\n");
        return false;
    }
    return true;
}

bool OrvaImagePack::Write(const char* hostPath, const std::vector<OrvaImagePackSource>& sources) {
    if (!hostPath) {
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!Build(sources, &bytes)) {
        return false;
    }
    std::string error;
    if (!platform::WriteWholeFile(hostPath, bytes.data(), bytes.size(), &error)) {
        OrvaDebug::Log("エラー : イメージパック [%s] が書き込めません (%s)\n", hostPath, error.c_str());
        return false;
    }
    return true;
}
