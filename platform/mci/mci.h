#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Media control by command strings ("open", "play", "status" ... addressed
// to a device or its alias), interpreted here. Three device types:
// "cdaudio" (a CD drive whose audio sectors are played into our mixer),
// "waveaudio" (an audio file through MediaStream) and "sequencer" (a
// Standard MIDI File through MidiSynth). A command that asks for "notify"
// and is given a target reports how it ended (completed, superseded by a
// later command, aborted) through the target's function.
//
// Threads: commands may come from any thread; they are served one at a time
// under one lock. Notifications are delivered with nothing locked, either on
// the thread of the command that caused them or on the interpreter's own
// watcher thread (a play reaching its end), so a target must only hand word
// on (post a message, set a flag), never send a command itself.
namespace platform {

// Results of a command: 0 is success; the others keep the numbers the
// engine's callers know.
enum MciError : uint32_t {
    kMciOk = 0,
    kMciErrorUnrecognizedKeyword = 259,
    kMciErrorUnrecognizedCommand = 261,
    kMciErrorHardware = 262,
    kMciErrorInvalidDeviceName = 263,  // no device open under that name or alias
    kMciErrorOutOfMemory = 264,
    kMciErrorCannotLoadDriver = 266,   // the device type cannot start here (no CD drive, no SoundFont)
    kMciErrorMissingCommand = 267,
    kMciErrorParamOverflow = 268,      // a command or reply that does not fit
    kMciErrorMissingString = 269,
    kMciErrorBadInteger = 270,
    kMciErrorMissingParameter = 273,
    kMciErrorUnsupportedFunction = 274,
    kMciErrorFileNotFound = 275,
    kMciErrorDeviceNotReady = 276,     // a CD device without a readable disc
    kMciErrorOutOfRange = 282,
    kMciErrorDeviceTypeRequired = 287,
    kMciErrorDuplicateAlias = 289,
    kMciErrorBadConstant = 290,
    kMciErrorMissingDeviceName = 292,
    kMciErrorBadTimeFormat = 293,
    kMciErrorNoClosingQuote = 294,
    kMciErrorDuplicateFlags = 295,
    kMciErrorInvalidFile = 296,        // a file that is not of the device's kind
};

// How a command that asked for "notify" ended.
constexpr uint32_t kMciNotifySuccessful = 1;
constexpr uint32_t kMciNotifySuperseded = 2;
constexpr uint32_t kMciNotifyAborted = 4;

// The longest command accepted, in bytes without the terminating zero.
constexpr size_t kMciMaxCommandLength = 1024;

// Where the notifications of a command go: notify(user, status, deviceId).
struct MciNotifyTarget {
    void (*notify)(void* user, uint32_t status, uint32_t deviceId) = nullptr;
    void* user = nullptr;
};

// Sends one command. The reply (status queries; empty for the others) is
// written zero-terminated into reply when reply and replySize are given; a
// reply that does not fit fails with kMciErrorParamOverflow and leaves an
// empty string. reply may be the very buffer that holds the command. target
// null: no notification, as for a command without "notify".
uint32_t MciSendString(const char* command, char* reply, size_t replySize, const MciNotifyTarget* target);

// A short English description of a result, never null.
const char* MciGetErrorText(uint32_t error);

// Sees every command with its result after it is served (diagnostics and
// tests); null removes it. Called with the interpreter's lock held: it must
// not send a command.
using MciCommandObserver = void (*)(const char* command, uint32_t result);
void MciSetCommandObserver(MciCommandObserver observer);

// ---- The command parser, on its own so that it can be checked alone.

enum class MciVerb { kOpen, kClose, kPlay, kStop, kPause, kResume, kSeek, kStatus, kSet };

enum class MciStatusItem {
    kNone,
    kMode,
    kMediaPresent,
    kNumberOfTracks,
    kLength,
    kPosition,
    kReady,
    kTimeFormat,
    kCurrentTrack,
};

enum class MciTimeFormat { kNone, kMilliseconds, kMsf, kTmsf };
enum class MciSeekTarget { kNone, kStart, kEnd, kPosition };
enum class MciDoor { kNone, kOpen, kClosed };

struct MciCommand {
    MciVerb verb = MciVerb::kOpen;
    // The device name, alias or file as written (quotes removed). "all" for
    // "close all".
    std::string device;
    bool notify = false;
    bool wait = false;
    // open
    std::string type;   // device type, lower case; empty when not given
    std::string alias;  // empty when not given
    bool shareable = false;
    // play: positions as written, read in the device's time format
    std::string from;   // empty: from the current position
    std::string to;     // empty: to the end
    // seek
    MciSeekTarget seekTarget = MciSeekTarget::kNone;
    std::string seekPosition;
    // status
    MciStatusItem item = MciStatusItem::kNone;
    int32_t track = 0;  // 0: no "track" given
    // set
    MciTimeFormat timeFormat = MciTimeFormat::kNone;
    MciDoor door = MciDoor::kNone;
};

// Reads one command string: verb, device, then the keywords the verb takes,
// in any order, case-insensitive. Words are separated by blanks; a word in
// double quotes may hold blanks. kMciOk and the command in out, else the
// error (out then unspecified).
uint32_t MciParseCommand(const char* text, MciCommand* out);

// ---- CD drives.

// A disc's table of contents in sectors (1/75 s; 588 stereo frames).
struct CdToc {
    std::vector<int32_t> trackStarts;  // first sector of track k at [k - 1]
    int32_t leadOut = 0;               // the sector after the last track
};

// A CD drive as the "cdaudio" device uses it.
class CdDrive {
public:
    static constexpr int32_t kFramesPerSector = 588;
    static constexpr int32_t kBytesPerSector = 2352;  // 16-bit little-endian stereo
    static constexpr int32_t kSectorsPerSecond = 75;

    virtual ~CdDrive() = default;
    // False when there is no readable disc.
    virtual bool ReadToc(CdToc* out) = 0;
    // Reads `count` audio sectors from `sector` into out (count x
    // kBytesPerSector bytes); false when they cannot be read. Called on a
    // reader thread while the device plays.
    virtual bool ReadAudio(int32_t sector, int32_t count, uint8_t* out) = 0;
    virtual bool OpenDoor() = 0;
    virtual bool CloseDoor() = 0;
};

// The system's first CD drive through libcdio; null when there is none.
std::unique_ptr<CdDrive> OpenSystemCdDrive();

// What "open cdaudio" opens: by default OpenSystemCdDrive; tests install a
// drive of their own. Null restores the default.
using CdDriveOpener = std::unique_ptr<CdDrive> (*)();
void MciSetCdDriveOpener(CdDriveOpener opener);

}  // namespace platform
