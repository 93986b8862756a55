// Font buffers: texts read or given, appended, and compacted to one of each
// character.
#include "engine/render/font_buffer.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/sjis.h"
#include "engine/render/font_sprite.h"
#include "platform/sys/file.h"

namespace {

// The code set of the compaction in progress: codes in order of first
// appearance.
uint16_t g_codes[65536];
uint32_t g_codeCount = 0;

// Hiragana, katakana, then half-width katakana with the two sound marks.
const char kKana[] =
    "\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8\x82\xA9\x82\xAB\x82\xAD\x82\xAF\x82\xB1\x82\xB3\x82\xB5\x82\xB7"
    "\x82\xB9\x82\xBB\x82\xBD\x82\xBF\x82\xC2\x82\xC4\x82\xC6\x82\xC8\x82\xC9\x82\xCA\x82\xCB\x82\xCC\x82\xCD"
    "\x82\xD0\x82\xD3\x82\xD6\x82\xD9\x82\xDC\x82\xDD\x82\xDE\x82\xDF\x82\xE0\x82\xE2\x82\xE4\x82\xE6\x82\xE7"
    "\x82\xE8\x82\xE9\x82\xEA\x82\xEB\x82\xED\x82\xEE\x82\xEF\x82\xF0\x82\xF1\x82\xAA\x82\xAC\x82\xAE\x82\xB0"
    "\x82\xB2\x82\xB4\x82\xB6\x82\xB8\x82\xBA\x82\xBC\x82\xBE\x82\xC0\x82\xC3\x82\xC5\x82\xC7\x82\xCE\x82\xD1"
    "\x82\xD4\x82\xD7\x82\xDA\x82\xCF\x82\xD2\x82\xD5\x82\xD8\x82\xDB\x82\x9F\x82\xA1\x82\xA3\x82\xA5\x82\xA7"
    "\x82\xE1\x82\xE3\x82\xE5\x82\xC1\x83\x41\x83\x43\x83\x45\x83\x47\x83\x49\x83\x4A\x83\x4C\x83\x4E\x83\x50"
    "\x83\x52\x83\x54\x83\x56\x83\x58\x83\x5A\x83\x5C\x83\x5E\x83\x60\x83\x63\x83\x65\x83\x67\x83\x69\x83\x6A"
    "\x83\x6B\x83\x6C\x83\x6D\x83\x6E\x83\x71\x83\x74\x83\x77\x83\x7A\x83\x7D\x83\x7E\x83\x80\x83\x81\x83\x82"
    "\x83\x84\x83\x86\x83\x88\x83\x89\x83\x8A\x83\x8B\x83\x8C\x83\x8D\x83\x8F\x83\x90\x83\x91\x83\x92\x83\x93"
    "\x83\x4B\x83\x4D\x83\x4F\x83\x51\x83\x53\x83\x55\x83\x57\x83\x59\x83\x5B\x83\x5D\x83\x5F\x83\x61\x83\x64"
    "\x83\x66\x83\x68\x83\x6F\x83\x72\x83\x75\x83\x78\x83\x7B\x83\x70\x83\x73\x83\x76\x83\x79\x83\x7C\x83\x94"
    "\x83\x40\x83\x42\x83\x44\x83\x46\x83\x48\x83\x83\x83\x85\x83\x87\x83\x62\xB1\xB2\xB3\xB4\xB5\xB6\xB7\xB8"
    "\xB9\xBA\xBB\xBC\xBD\xBE\xBF\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD0\xD1\xD2"
    "\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xDA\xDB\xDC\xA6\xDD\xA7\xA8\xA9\xAA\xAB\xAC\xAD\xAE\xDE\xDF";

// Full-width a to z and A to Z, then the same in half width.
const char kAlphabet[] =
    "\x82\x81\x82\x82\x82\x83\x82\x84\x82\x85\x82\x86\x82\x87\x82\x88\x82\x89\x82\x8A\x82\x8B\x82\x8C\x82\x8D"
    "\x82\x8E\x82\x8F\x82\x90\x82\x91\x82\x92\x82\x93\x82\x94\x82\x95\x82\x96\x82\x97\x82\x98\x82\x99\x82\x9A"
    "\x82\x60\x82\x61\x82\x62\x82\x63\x82\x64\x82\x65\x82\x66\x82\x67\x82\x68\x82\x69\x82\x6A\x82\x6B\x82\x6C"
    "\x82\x6D\x82\x6E\x82\x6F\x82\x70\x82\x71\x82\x72\x82\x73\x82\x74\x82\x75\x82\x76\x82\x77\x82\x78\x82\x79"
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Full-width and half-width digits, then the kanji numerals 零 to 九.
const char kDigits[] =
    "\x82\x4F\x82\x50\x82\x51\x82\x52\x82\x53\x82\x54\x82\x55\x82\x56\x82\x57\x82\x58\x30\x31\x32\x33\x34\x35"
    "\x36\x37\x38\x39\x97\xEB\x88\xEA\x93\xF1\x8E\x4F\x8E\x6C\x8C\xDC\x98\x5A\x8E\xB5\x94\xAA\x8B\xE3";

// The JIS X 0208 characters from 0x814F to 0xEA9E as runs of consecutive
// Shift-JIS codes, first and last inclusive.
struct CodeRun {
    uint16_t first;
    uint16_t last;
};
const CodeRun kJisRuns[] = {
    {0x814F, 0x817E}, {0x8180, 0x81AC}, {0x81B8, 0x81BF}, {0x81C8, 0x81CE}, {0x81DA, 0x81E8}, {0x81F0, 0x81F7},
    {0x81FC, 0x81FC}, {0x824F, 0x8258}, {0x8260, 0x8279}, {0x8281, 0x829A}, {0x829F, 0x82F1}, {0x8340, 0x837E},
    {0x8380, 0x8396}, {0x839F, 0x83B6}, {0x83BF, 0x83D6}, {0x8440, 0x8460}, {0x8470, 0x847E}, {0x8480, 0x8491},
    {0x849F, 0x84BE}, {0x889F, 0x88FC}, {0x8940, 0x897E}, {0x8980, 0x89FC}, {0x8A40, 0x8A7E}, {0x8A80, 0x8AFC},
    {0x8B40, 0x8B7E}, {0x8B80, 0x8BFC}, {0x8C40, 0x8C7E}, {0x8C80, 0x8CFC}, {0x8D40, 0x8D7E}, {0x8D80, 0x8DFC},
    {0x8E40, 0x8E7E}, {0x8E80, 0x8EFC}, {0x8F40, 0x8F7E}, {0x8F80, 0x8FFC}, {0x9040, 0x907E}, {0x9080, 0x90FC},
    {0x9140, 0x917E}, {0x9180, 0x91FC}, {0x9240, 0x927E}, {0x9280, 0x92FC}, {0x9340, 0x937E}, {0x9380, 0x93FC},
    {0x9440, 0x947E}, {0x9480, 0x94FC}, {0x9540, 0x957E}, {0x9580, 0x95FC}, {0x9640, 0x967E}, {0x9680, 0x96FC},
    {0x9740, 0x977E}, {0x9780, 0x97FC}, {0x9840, 0x9872}, {0x989F, 0x98FC}, {0x9940, 0x997E}, {0x9980, 0x99FC},
    {0x9A40, 0x9A7E}, {0x9A80, 0x9AFC}, {0x9B40, 0x9B7E}, {0x9B80, 0x9BFC}, {0x9C40, 0x9C7E}, {0x9C80, 0x9CFC},
    {0x9D40, 0x9D7E}, {0x9D80, 0x9DFC}, {0x9E40, 0x9E7E}, {0x9E80, 0x9EFC}, {0x9F40, 0x9F7E}, {0x9F80, 0x9FFC},
    {0xE040, 0xE07E}, {0xE080, 0xE0FC}, {0xE140, 0xE17E}, {0xE180, 0xE1FC}, {0xE240, 0xE27E}, {0xE280, 0xE2FC},
    {0xE340, 0xE37E}, {0xE380, 0xE3FC}, {0xE440, 0xE47E}, {0xE480, 0xE4FC}, {0xE540, 0xE57E}, {0xE580, 0xE5FC},
    {0xE640, 0xE67E}, {0xE680, 0xE6FC}, {0xE740, 0xE77E}, {0xE780, 0xE7FC}, {0xE840, 0xE87E}, {0xE880, 0xE8FC},
    {0xE940, 0xE97E}, {0xE980, 0xE9FC}, {0xEA40, 0xEA7E}, {0xEA80, 0xEA9E},
};
constexpr uint32_t kJisCharacters = 6858;

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

void Step(OrvaProgress progress)
{
    if (progress != nullptr) {
        progress(0);
    }
}

// The smallest multiple of the block size above n: the text is always
// followed by at least one zero byte.
uint64_t BlockSizeAbove(uint64_t n)
{
    return (n / OrvaFontBuffer::kBlockBytes + 1) * OrvaFontBuffer::kBlockBytes;
}

}  // namespace

OrvaFontBuffer::OrvaFontBuffer()
{
    OrvaFontSprite::GetObjectList().PushBack(this);
    OrvaDebug::Log("○ CreateFontBuffer  / ID [0x%08X] / ", Address(this));
}

OrvaFontBuffer::~OrvaFontBuffer()
{
    length = 0;
    data.reset();
    OrvaDebug::Log("● ReleaseFontBuffer  / ID [0x%08X]\n", Address(this));
}

OrvaFontBuffer* OrvaFontBuffer::Create(const char* fileName, OrvaProgress progress)
{
    OrvaFontBuffer* buffer = new (std::nothrow) OrvaFontBuffer();
    if (buffer == nullptr) {
        OrvaDebug::Log("エラー : フォントバッファのメモリを確保できません\n");
        return nullptr;
    }
    OrvaApplication::SetCurrentDirectory();
    Step(progress);
    FILE* file = platform::OpenEngineFileStream(fileName);
    if (file == nullptr) {
        OrvaDebug::Log("エラー : ファイルを開けません [%s]\n", fileName != nullptr ? fileName : "(null)");
        return buffer;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    if (size < 0 || static_cast<uint64_t>(size) > kMaxLength || std::fseek(file, 0, SEEK_SET) != 0) {
        OrvaDebug::Log("エラー : ファイルを読み込めません [%s]\n", fileName);
        std::fclose(file);
        return buffer;
    }
    const uint64_t blockBytes = BlockSizeAbove(static_cast<uint64_t>(size));
    std::unique_ptr<char[]> block(new (std::nothrow) char[blockBytes]());
    if (block == nullptr) {
        OrvaDebug::Log("エラー : フォントバッファのメモリを確保できません [%s]\n", fileName);
        std::fclose(file);
        return buffer;
    }
    Step(progress);
    const size_t got = std::fread(block.get(), 1, static_cast<size_t>(size), file);
    std::fclose(file);
    // Text files written on Windows end their lines with CR LF; the text is
    // taken as a text-mode read takes it, one line feed a line.
    size_t kept = 0;
    for (size_t i = 0; i < got; ++i) {
        if (block[i] == '\r' && i + 1 < got && block[i + 1] == '\n') {
            continue;
        }
        block[kept++] = block[i];
    }
    std::memset(block.get() + kept, 0, got - kept);
    // Up to the first zero byte, as a string.
    const void* zero = std::memchr(block.get(), 0, kept);
    const size_t textBytes = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - block.get()) : kept;
    buffer->Append(block.get(), static_cast<uint32_t>(textBytes));
    return buffer;
}

OrvaFontBuffer* OrvaFontBuffer::CreateFromString(const char* text)
{
    OrvaFontBuffer* buffer = new (std::nothrow) OrvaFontBuffer();
    if (buffer == nullptr) {
        OrvaDebug::Log("エラー : フォントバッファのメモリを確保できません\n");
        return nullptr;
    }
    const size_t bytes = text != nullptr ? std::strlen(text) : 0;
    if (bytes > kMaxLength) {
        OrvaDebug::Log("エラー : テキストが長すぎます [%zu バイト]\n", bytes);
        buffer->Append(nullptr, 0);
        return buffer;
    }
    buffer->Append(text, static_cast<uint32_t>(bytes));
    return buffer;
}

// ---- text -------------------------------------------------------------------

const char* OrvaFontBuffer::GetText(uint32_t position) const
{
    if (data == nullptr || position >= length) {
        return nullptr;
    }
    return data.get() + position;
}

uint32_t OrvaFontBuffer::GetLength() const
{
    return length;
}

bool OrvaFontBuffer::Append(const char* text, uint32_t count)
{
    const uint64_t newLength = uint64_t{length} + count;
    if (newLength > kMaxLength) {
        OrvaDebug::Log("エラー : テキストが長すぎます [%u + %u バイト]\n", length, count);
        return false;
    }
    const uint64_t blockBytes = BlockSizeAbove(newLength);
    std::unique_ptr<char[]> block(new (std::nothrow) char[blockBytes]());
    if (block == nullptr) {
        OrvaDebug::Log("エラー : フォントバッファのメモリを確保できません [%u バイト]\n",
                       static_cast<uint32_t>(blockBytes));
        return false;
    }
    if (data != nullptr) {
        std::memcpy(block.get(), data.get(), length);
    }
    if (text != nullptr) {
        std::memcpy(block.get() + length, text, count);
    }
    length = static_cast<uint32_t>(newLength);
    data = std::move(block);
    return true;
}

bool OrvaFontBuffer::AddKana()
{
    return Append(kKana, static_cast<uint32_t>(std::strlen(kKana)));
}

bool OrvaFontBuffer::AddAlphabet()
{
    return Append(kAlphabet, static_cast<uint32_t>(std::strlen(kAlphabet)));
}

bool OrvaFontBuffer::AddDigits()
{
    return Append(kDigits, static_cast<uint32_t>(std::strlen(kDigits)));
}

bool OrvaFontBuffer::AddJisCharacters()
{
    char bytes[kJisCharacters * 2];
    uint32_t n = 0;
    for (const CodeRun& run : kJisRuns) {
        for (uint32_t code = run.first; code <= run.last; ++code) {
            bytes[n++] = static_cast<char>(code >> 8);
            bytes[n++] = static_cast<char>(code & 0xFF);
        }
    }
    return Append(bytes, n);
}

// ---- compaction -------------------------------------------------------------

void OrvaFontBuffer::ResetCodeSet()
{
    std::memset(g_codes, 0, sizeof(g_codes));
    g_codeCount = 0;
}

int32_t OrvaFontBuffer::AddCode(uint16_t code)
{
    for (uint32_t i = 0; i < g_codeCount; ++i) {
        if (g_codes[i] == code) {
            return static_cast<int32_t>(i);
        }
    }
    // The set holds every 16-bit code at most once, so it never overflows.
    g_codes[g_codeCount] = code;
    return static_cast<int32_t>(g_codeCount++);
}

uint32_t OrvaFontBuffer::GetCodeSetCount()
{
    return g_codeCount;
}

uint32_t OrvaFontBuffer::WriteCodeSet(char* out, uint32_t outSize)
{
    uint32_t needed = 0;
    for (uint32_t i = 0; i < g_codeCount; ++i) {
        needed += g_codes[i] > 0xFF ? 2 : 1;
    }
    if (out == nullptr || needed > outSize) {
        return needed;
    }
    uint32_t n = 0;
    for (uint32_t i = 0; i < g_codeCount; ++i) {
        if (g_codes[i] > 0xFF) {
            out[n++] = static_cast<char>(g_codes[i] >> 8);
        }
        out[n++] = static_cast<char>(g_codes[i] & 0xFF);
    }
    return n;
}

void OrvaFontBuffer::Compact()
{
    if (length == 0 || data == nullptr) {
        return;
    }
    std::unique_ptr<char[]> filtered(new (std::nothrow) char[BlockSizeAbove(length)]());
    if (filtered == nullptr) {
        OrvaDebug::Log("エラー : フォントバッファのメモリを確保できません [%u バイト]\n", length);
        return;
    }
    const uint8_t* text = reinterpret_cast<const uint8_t*>(data.get());
    uint32_t kept = 0;
    uint32_t i = 0;
    while (i < length) {
        const uint8_t c = text[i];
        if (OrvaSjis::IsLeadByte(c)) {
            // Never take the zero after the text as a trail byte.
            filtered[kept++] = static_cast<char>(c);
            if (i + 1 < length) {
                filtered[kept++] = static_cast<char>(text[i + 1]);
            }
            i += 2;
        } else if (c == '/' && i + 1 < length && text[i + 1] == '*') {
            // Two-byte characters are stepped over whole, so that a trail
            // byte never starts the closing mark.
            i += 2;
            while (i < length) {
                if (OrvaSjis::IsLeadByte(text[i])) {
                    i += 2;
                } else if (text[i] == '*' && i + 1 < length && text[i + 1] == '/') {
                    i += 2;
                    break;
                } else {
                    ++i;
                }
            }
        } else if (c == '/' && i + 1 < length && text[i + 1] == '/') {
            i += 2;
            while (i < length) {
                if (OrvaSjis::IsLeadByte(text[i])) {
                    i += 2;
                } else if (text[i] == '\n') {
                    ++i;
                    break;
                } else {
                    ++i;
                }
            }
        } else {
            filtered[kept++] = static_cast<char>(c);
            ++i;
        }
    }

    ResetCodeSet();
    uint32_t at = 0;
    while (at < kept) {
        uint16_t code = 0;
        int32_t step = OrvaSjis::ReadChar(filtered.get() + at, &code);
        // A zero byte inside the text is a character of its own; the text
        // reader would take it as the end.
        if (step <= 0) {
            code = 0;
            step = 1;
        }
        // A lead byte whose trail byte was cut off by the end stands alone.
        if (static_cast<uint32_t>(step) > kept - at) {
            code = static_cast<uint8_t>(filtered[at]);
            step = 1;
        }
        AddCode(code);
        at += static_cast<uint32_t>(step);
    }
    // The set is never longer than the text, so it fits the buffer's block.
    const uint32_t written = WriteCodeSet(data.get(), length);
    std::memset(data.get() + written, 0, length - written);
    length = written;
}
