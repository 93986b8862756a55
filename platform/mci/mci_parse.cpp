// The command-string parser: words, then the keywords each verb takes.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/mci/mci.h"

namespace platform {

namespace {

struct Word {
    std::string text;
    bool quoted = false;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

uint32_t SplitWords(const char* text, size_t length, std::vector<Word>* words)
{
    size_t i = 0;
    while (i < length) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        Word word;
        if (text[i] == '"') {
            const char* end = static_cast<const char*>(std::memchr(text + i + 1, '"', length - i - 1));
            if (end == nullptr) {
                return kMciErrorNoClosingQuote;
            }
            word.text.assign(text + i + 1, end);
            word.quoted = true;
            i = static_cast<size_t>(end - text) + 1;
            // A quoted word ends at its quote: "a"b would be two words run
            // together, which no command means.
            if (i < length && !IsBlank(text[i])) {
                return kMciErrorUnrecognizedKeyword;
            }
        } else {
            const size_t start = i;
            while (i < length && !IsBlank(text[i])) {
                if (text[i] == '"') {
                    return kMciErrorUnrecognizedKeyword;
                }
                ++i;
            }
            word.text.assign(text + start, i - start);
        }
        words->push_back(std::move(word));
    }
    return kMciOk;
}

// Positions are digits, with colons between the fields of the MSF and TMSF
// formats; the device reads them in its time format.
bool IsPositionText(const std::string& text)
{
    if (text.empty() || text.size() > 16) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || c == ':')) {
            return false;
        }
    }
    return true;
}

bool ParseTrack(const std::string& text, int32_t* out)
{
    if (text.empty() || text.size() > 3) {
        return false;
    }
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 99) {
        return false;
    }
    *out = value;
    return true;
}

bool ParseVerb(const std::string& word, MciVerb* verb)
{
    static const struct {
        const char* name;
        MciVerb verb;
    } kVerbs[] = {
        {"open", MciVerb::kOpen},     {"close", MciVerb::kClose},   {"play", MciVerb::kPlay},
        {"stop", MciVerb::kStop},     {"pause", MciVerb::kPause},   {"resume", MciVerb::kResume},
        {"seek", MciVerb::kSeek},     {"status", MciVerb::kStatus}, {"set", MciVerb::kSet},
    };
    for (const auto& entry : kVerbs) {
        if (word == entry.name) {
            *verb = entry.verb;
            return true;
        }
    }
    return false;
}

// Reads the keywords after the device. Each verb takes its own set; a
// keyword given twice is refused rather than one of them silently winning.
class KeywordReader {
public:
    KeywordReader(const std::vector<Word>& words, MciCommand* command) : words(words), command(command) {}

    uint32_t Read()
    {
        size_t i = 2;
        while (i < words.size()) {
            const std::string key = Lower(words[i].text);
            if (words[i].quoted) {
                return kMciErrorUnrecognizedKeyword;
            }
            uint32_t result = kMciOk;
            if (key == "notify") {
                result = Flag(&command->notify);
                ++i;
            } else if (key == "wait") {
                result = Flag(&command->wait);
                ++i;
            } else {
                result = ReadVerbKeyword(key, &i);
            }
            if (result != kMciOk) {
                return result;
            }
        }
        return Finish();
    }

private:
    static uint32_t Flag(bool* flag)
    {
        if (*flag) {
            return kMciErrorDuplicateFlags;
        }
        *flag = true;
        return kMciOk;
    }

    // The word after a keyword: its value.
    uint32_t Value(size_t* i, std::string* out)
    {
        if (*i + 1 >= words.size()) {
            return kMciErrorMissingParameter;
        }
        if (!out->empty()) {
            return kMciErrorDuplicateFlags;
        }
        *out = words[*i + 1].text;
        if (out->empty()) {
            return kMciErrorMissingString;
        }
        *i += 2;
        return kMciOk;
    }

    uint32_t Position(size_t* i, std::string* out)
    {
        const uint32_t result = Value(i, out);
        if (result != kMciOk) {
            return result;
        }
        return IsPositionText(*out) ? kMciOk : kMciErrorBadInteger;
    }

    uint32_t ReadVerbKeyword(const std::string& key, size_t* i)
    {
        switch (command->verb) {
        case MciVerb::kOpen:
            if (key == "type") {
                const uint32_t result = Value(i, &command->type);
                command->type = Lower(command->type);
                return result;
            }
            if (key == "alias") {
                return Value(i, &command->alias);
            }
            if (key == "shareable") {
                ++*i;
                return Flag(&command->shareable);
            }
            return kMciErrorUnrecognizedKeyword;
        case MciVerb::kPlay:
            if (key == "from") {
                return Position(i, &command->from);
            }
            if (key == "to") {
                return Position(i, &command->to);
            }
            return kMciErrorUnrecognizedKeyword;
        case MciVerb::kSeek:
            return ReadSeek(key, i);
        case MciVerb::kStatus:
            return ReadStatus(key, i);
        case MciVerb::kSet:
            return ReadSet(key, i);
        default:
            return kMciErrorUnrecognizedKeyword;
        }
    }

    uint32_t ReadSeek(const std::string& key, size_t* i)
    {
        if (key != "to") {
            return kMciErrorUnrecognizedKeyword;
        }
        if (command->seekTarget != MciSeekTarget::kNone) {
            return kMciErrorDuplicateFlags;
        }
        if (*i + 1 >= words.size()) {
            return kMciErrorMissingParameter;
        }
        const std::string value = Lower(words[*i + 1].text);
        *i += 2;
        if (value == "start") {
            command->seekTarget = MciSeekTarget::kStart;
        } else if (value == "end") {
            command->seekTarget = MciSeekTarget::kEnd;
        } else if (IsPositionText(value)) {
            command->seekTarget = MciSeekTarget::kPosition;
            command->seekPosition = value;
        } else {
            return kMciErrorBadInteger;
        }
        return kMciOk;
    }

    // Items of one or more words; "track n" qualifies length and position.
    uint32_t ReadStatus(const std::string& key, size_t* i)
    {
        if (key == "track") {
            if (command->track != 0) {
                return kMciErrorDuplicateFlags;
            }
            if (*i + 1 >= words.size()) {
                return kMciErrorMissingParameter;
            }
            if (!ParseTrack(words[*i + 1].text, &command->track)) {
                return kMciErrorBadInteger;
            }
            *i += 2;
            return kMciOk;
        }
        static const struct {
            const char* words[3];
            MciStatusItem item;
        } kItems[] = {
            {{"mode", nullptr, nullptr}, MciStatusItem::kMode},
            {{"media", "present", nullptr}, MciStatusItem::kMediaPresent},
            {{"number", "of", "tracks"}, MciStatusItem::kNumberOfTracks},
            {{"length", nullptr, nullptr}, MciStatusItem::kLength},
            {{"position", nullptr, nullptr}, MciStatusItem::kPosition},
            {{"ready", nullptr, nullptr}, MciStatusItem::kReady},
            {{"time", "format", nullptr}, MciStatusItem::kTimeFormat},
            {{"current", "track", nullptr}, MciStatusItem::kCurrentTrack},
        };
        for (const auto& entry : kItems) {
            size_t count = 0;
            while (count < 3 && entry.words[count] != nullptr) {
                ++count;
            }
            if (key != entry.words[0]) {
                continue;
            }
            for (size_t k = 1; k < count; ++k) {
                if (*i + k >= words.size()) {
                    return kMciErrorMissingParameter;
                }
                if (Lower(words[*i + k].text) != entry.words[k]) {
                    return kMciErrorUnrecognizedKeyword;
                }
            }
            // One item per query: the reply has room for one answer.
            if (command->item != MciStatusItem::kNone) {
                return kMciErrorDuplicateFlags;
            }
            command->item = entry.item;
            *i += count;
            return kMciOk;
        }
        return kMciErrorUnrecognizedKeyword;
    }

    uint32_t ReadSet(const std::string& key, size_t* i)
    {
        if (key == "time") {
            if (*i + 2 >= words.size()) {
                return kMciErrorMissingParameter;
            }
            if (Lower(words[*i + 1].text) != "format") {
                return kMciErrorUnrecognizedKeyword;
            }
            if (command->timeFormat != MciTimeFormat::kNone) {
                return kMciErrorDuplicateFlags;
            }
            const std::string format = Lower(words[*i + 2].text);
            if (format == "milliseconds" || format == "ms") {
                command->timeFormat = MciTimeFormat::kMilliseconds;
            } else if (format == "msf") {
                command->timeFormat = MciTimeFormat::kMsf;
            } else if (format == "tmsf") {
                command->timeFormat = MciTimeFormat::kTmsf;
            } else {
                return kMciErrorBadTimeFormat;
            }
            *i += 3;
            return kMciOk;
        }
        if (key == "door") {
            if (*i + 1 >= words.size()) {
                return kMciErrorMissingParameter;
            }
            if (command->door != MciDoor::kNone) {
                return kMciErrorDuplicateFlags;
            }
            const std::string value = Lower(words[*i + 1].text);
            if (value == "open") {
                command->door = MciDoor::kOpen;
            } else if (value == "closed") {
                command->door = MciDoor::kClosed;
            } else {
                return kMciErrorBadConstant;
            }
            *i += 2;
            return kMciOk;
        }
        return kMciErrorUnrecognizedKeyword;
    }

    uint32_t Finish()
    {
        if (command->verb == MciVerb::kSeek && command->seekTarget == MciSeekTarget::kNone) {
            return kMciErrorMissingParameter;
        }
        if (command->verb == MciVerb::kStatus) {
            if (command->item == MciStatusItem::kNone) {
                return kMciErrorMissingParameter;
            }
            if (command->track != 0 && command->item != MciStatusItem::kLength &&
                command->item != MciStatusItem::kPosition) {
                return kMciErrorUnrecognizedKeyword;
            }
        }
        if (command->verb == MciVerb::kSet && command->timeFormat == MciTimeFormat::kNone &&
            command->door == MciDoor::kNone) {
            return kMciErrorMissingParameter;
        }
        return kMciOk;
    }

    const std::vector<Word>& words;
    MciCommand* command;
};

}  // namespace

uint32_t MciParseCommand(const char* text, MciCommand* out)
{
    if (text == nullptr || out == nullptr) {
        return kMciErrorMissingCommand;
    }
    const size_t length = strnlen(text, kMciMaxCommandLength + 1);
    if (length > kMciMaxCommandLength) {
        return kMciErrorParamOverflow;
    }
    try {
        std::vector<Word> words;
        const uint32_t split = SplitWords(text, length, &words);
        if (split != kMciOk) {
            return split;
        }
        if (words.empty()) {
            return kMciErrorMissingCommand;
        }
        *out = MciCommand();
        if (words[0].quoted || !ParseVerb(Lower(words[0].text), &out->verb)) {
            return kMciErrorUnrecognizedCommand;
        }
        if (words.size() < 2 || words[1].text.empty()) {
            return kMciErrorMissingDeviceName;
        }
        out->device = words[1].text;
        return KeywordReader(words, out).Read();
    } catch (const std::bad_alloc&) {
        return kMciErrorOutOfMemory;
    }
}

}  // namespace platform
