// Fuzz target: the MCI command-string parser (MciParseCommand). Built as a
// libFuzzer program with clang (ORVA_LIBFUZZER); every build also runs it as
// a regression program over commands it writes itself and deterministic
// mutations that swap, cut, quote and repeat their words:
//
//   fuzz_mci_regression [MUTATIONS]
//   fuzz_mci_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/mci/mci.h"
#include "tests/platform/fuzz/fuzz_main_util.h"

namespace {

using platform::MciCommand;

const char* VerbName(platform::MciVerb verb)
{
    static const char* const kNames[] = {"open", "close", "play", "stop", "pause", "resume", "seek", "status", "set"};
    return kNames[int(verb)];
}

// Keywords in upper case: the parser must not care.
std::string Write(const MciCommand& c)
{
    std::string s = VerbName(c.verb);
    s += " \"" + c.device + "\"";
    if (c.notify) s += " NOTIFY";
    if (c.wait) s += " Wait";
    if (!c.type.empty()) s += " TYPE \"" + c.type + "\"";
    if (!c.alias.empty()) s += " alias \"" + c.alias + "\"";
    if (c.shareable) s += " Shareable";
    if (!c.from.empty()) s += " FROM " + c.from;
    if (!c.to.empty()) s += " to " + c.to;
    switch (c.seekTarget) {
    case platform::MciSeekTarget::kStart: s += " to START"; break;
    case platform::MciSeekTarget::kEnd: s += " TO end"; break;
    case platform::MciSeekTarget::kPosition: s += " to " + c.seekPosition; break;
    default: break;
    }
    static const char* const kItems[] = {"", "MODE", "media Present", "number OF tracks", "length",
                                         "POSITION", "ready", "time format", "current TRACK"};
    if (c.item != platform::MciStatusItem::kNone) s += std::string(" ") + kItems[int(c.item)];
    if (c.track != 0) s += " TRACK " + std::to_string(c.track);
    static const char* const kFormats[] = {"", "MS", "msf", "TMSF"};
    if (c.timeFormat != platform::MciTimeFormat::kNone) s += std::string(" time FORMAT ") + kFormats[int(c.timeFormat)];
    if (c.door == platform::MciDoor::kOpen) s += " door OPEN";
    if (c.door == platform::MciDoor::kClosed) s += " DOOR closed";
    return s;
}

bool Same(const MciCommand& a, const MciCommand& b)
{
    return a.verb == b.verb && a.device == b.device && a.notify == b.notify && a.wait == b.wait && a.type == b.type &&
           a.alias == b.alias && a.shareable == b.shareable && a.from == b.from && a.to == b.to &&
           a.seekTarget == b.seekTarget && a.seekPosition == b.seekPosition && a.item == b.item &&
           a.track == b.track && a.timeFormat == b.timeFormat && a.door == b.door;
}

bool IsPosition(const std::string& s)
{
    if (s.empty() || s.size() > 16) return false;
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || c == ':')) return false;
    }
    return true;
}

bool IsKnownError(uint32_t e)
{
    static const uint32_t kErrors[] = {
        platform::kMciErrorUnrecognizedKeyword, platform::kMciErrorUnrecognizedCommand,
        platform::kMciErrorOutOfMemory,         platform::kMciErrorMissingCommand,
        platform::kMciErrorParamOverflow,       platform::kMciErrorMissingString,
        platform::kMciErrorBadInteger,          platform::kMciErrorMissingParameter,
        platform::kMciErrorBadTimeFormat,       platform::kMciErrorNoClosingQuote,
        platform::kMciErrorDuplicateFlags,      platform::kMciErrorMissingDeviceName,
        platform::kMciErrorBadConstant,
    };
    for (uint32_t k : kErrors) {
        if (e == k) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The command ends at its first zero. An input without one within the
    // longest command plus one byte is passed unterminated in a block of
    // exactly its size: the parser must stop looking by then.
    const size_t scan = size < platform::kMciMaxCommandLength + 1 ? size : platform::kMciMaxCommandLength + 1;
    const bool terminate = size <= platform::kMciMaxCommandLength && (size == 0 || std::memchr(data, 0, scan) == nullptr);
    std::unique_ptr<char[]> text(new char[size + (terminate ? 1 : 0)]);
    if (size) std::memcpy(text.get(), data, size);
    if (terminate) text[size] = '\0';
    const size_t length = strnlen(text.get(), scan + (terminate ? 1 : 0));

    MciCommand command;
    const uint32_t result = platform::MciParseCommand(text.get(), &command);
    if (result != platform::kMciOk) {
        if (!IsKnownError(result) || (length > platform::kMciMaxCommandLength) != (result == platform::kMciErrorParamOverflow)) {
            __builtin_trap();
        }
        return 0;
    }
    // What was read came from the text: within its length, the type in
    // lower case, positions as digits and colons, keywords only where the
    // verb takes them.
    const std::string whole(text.get(), length);
    if (length > platform::kMciMaxCommandLength || command.device.empty() ||
        whole.find(command.device) == std::string::npos || command.alias.size() > length ||
        command.type.size() > length) {
        __builtin_trap();
    }
    for (char c : command.type) {
        if (c >= 'A' && c <= 'Z') __builtin_trap();
    }
    using platform::MciVerb;
    const MciVerb verb = command.verb;
    if ((verb != MciVerb::kOpen && (!command.type.empty() || !command.alias.empty() || command.shareable)) ||
        (verb != MciVerb::kPlay && (!command.from.empty() || !command.to.empty())) ||
        (!command.from.empty() && !IsPosition(command.from)) || (!command.to.empty() && !IsPosition(command.to)) ||
        ((verb == MciVerb::kSeek) != (command.seekTarget != platform::MciSeekTarget::kNone)) ||
        ((command.seekTarget == platform::MciSeekTarget::kPosition) != IsPosition(command.seekPosition)) ||
        ((verb == MciVerb::kStatus) != (command.item != platform::MciStatusItem::kNone)) ||
        (command.track != 0 && (command.track < 1 || command.track > 99 ||
                                (command.item != platform::MciStatusItem::kLength &&
                                 command.item != platform::MciStatusItem::kPosition))) ||
        ((verb == MciVerb::kSet) != (command.timeFormat != platform::MciTimeFormat::kNone ||
                                     command.door != platform::MciDoor::kNone))) {
        __builtin_trap();
    }
    // Written again, it reads to the same command.
    const std::string again = Write(command);
    MciCommand reread;
    if (again.size() <= platform::kMciMaxCommandLength &&
        (platform::MciParseCommand(again.c_str(), &reread) != platform::kMciOk || !Same(reread, command))) {
        __builtin_trap();
    }
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using fuzzrun::Random;

std::vector<std::string> Words(const std::string& s)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        const size_t start = i;
        if (i < s.size() && s[i] == '"') {
            const size_t end = s.find('"', i + 1);
            i = end == std::string::npos ? s.size() : end + 1;
        } else {
            while (i < s.size() && s[i] != ' ') ++i;
        }
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

std::string Join(const std::vector<std::string>& words, const char* blank)
{
    std::string s;
    for (size_t i = 0; i < words.size(); ++i) s += (i ? blank : "") + words[i];
    return s;
}

// Word-level mutations (the parser works on words), then byte-level ones.
void Mutate(std::string* s, Random* r)
{
    static const char* const kWords[] = {"notify", "wait", "to", "from", "track", "time", "format", "door",
                                         "\"a b\"", "\"\"", "\"", "12:30:05", "0", "100", "all", "TYPE"};
    static const char* const kBlanks[] = {" ", "\t", "\r\n", "  "};
    std::vector<std::string> words = Words(*s);
    switch (r->Below(8)) {
    case 0: if (words.size() > 1) words.erase(words.begin() + long(1 + r->Below(words.size() - 1))); break;
    case 1: words.insert(words.begin() + long(r->Below(words.size() + 1)), kWords[r->Below(16)]); break;
    case 2: if (!words.empty()) words.push_back(words[r->Below(words.size())]); break;
    case 3:
        if (words.size() > 2) {
            const size_t a = r->Below(words.size()), b = r->Below(words.size());
            std::swap(words[a], words[b]);
        }
        break;
    case 4: if (!words.empty()) words[r->Below(words.size())] = kWords[r->Below(16)]; break;
    case 5:
        if (!s->empty()) (*s)[r->Below(s->size())] = char(r->Below(2) ? r->Next() : "\" \0:9aZ"[r->Below(7)]);
        return;
    case 6: s->resize(r->Below(s->size() + 1)); return;
    default: s->append(r->Below(2) ? size_t(1100) : r->Below(40), char('a' + r->Below(26))); return;
    }
    *s = Join(words, kBlanks[r->Below(4)]);
}

}  // namespace

int main(int argc, char** argv)
{
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    const std::vector<std::string> seeds = {
        "open cdaudio alias cd shareable wait",
        "open \"C:\\Music Files\\theme.mid\" type sequencer alias bgm notify",
        "open se.wav type WaveAudio alias \"shot one\"",
        "play cd from 1:00:02:10 to 3 notify",
        "play bgm from 0",
        "seek cd to start wait",
        "seek bgm to 12:30",
        "status cd length track 4",
        "status cd number of tracks",
        "status bgm media present",
        "status cd current track wait",
        "set cd time format tmsf",
        "set cd door open wait",
        "close all",
        "stop bgm notify",
        "pause cd",
        "resume cd",
    };
    std::vector<std::vector<uint8_t>> seedBytes;
    for (const std::string& seed : seeds) {
        seedBytes.emplace_back(seed.begin(), seed.end());
    }
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seedBytes, &status)) {
        return status;
    }
    for (const std::string& seed : seeds) {
        MciCommand command;
        if (platform::MciParseCommand(seed.c_str(), &command) != platform::kMciOk) {
            std::fprintf(stderr, "seed \"%s\" does not read\n", seed.c_str());
            return 1;
        }
    }
    fuzzrun::Random random(0x3C6EF372FE94F82Bull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
