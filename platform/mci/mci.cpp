// The command interpreter: the table of open devices, the time formats, the
// notifications, and the watcher thread that sees plays reach their end.
#include "platform/mci/mci.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/mci/mci_device.h"
#include "platform/sys/path.h"

namespace platform {

namespace {

struct Entry {
    uint32_t id = 0;
    std::string alias;  // lower case
    std::unique_ptr<MciDevice> device;
    MciTimeFormat timeFormat = MciTimeFormat::kMilliseconds;
    bool notifyPending = false;
    MciNotifyTarget pendingTarget;
};

struct Delivery {
    MciNotifyTarget target;
    uint32_t status = 0;
    uint32_t id = 0;
};

// The watcher runs while any device is open. Its stop flag is its own, so
// one that is being joined never mistakes a later watcher's state for its.
struct Watcher {
    std::thread thread;
    std::atomic<bool> stop{false};
};

std::mutex g_lock;  // guards everything below
std::vector<std::unique_ptr<Entry>> g_entries;
uint32_t g_nextId = 1;
std::unique_ptr<Watcher> g_watcher;
CdDriveOpener g_cdOpener = nullptr;
MciCommandObserver g_observer = nullptr;

// Wakes the watcher; a lock of its own, never held while a device is called.
std::mutex g_wakeLock;
std::condition_variable g_wake;
bool g_woken = false;

constexpr auto kWatchInterval = std::chrono::milliseconds(5);

// A program that ends without closing its devices must not leave the
// watcher running into the destruction of the table it reads (a joinable
// thread destroyed is a crash): stop it first, then close what is open.
// Declared after the state it uses, so it is destroyed before it.
struct ExitGuard {
    ~ExitGuard()
    {
        std::unique_ptr<Watcher> watcher;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            watcher = std::move(g_watcher);
        }
        if (watcher != nullptr) {
            watcher->stop.store(true);
            {
                std::lock_guard<std::mutex> guard(g_wakeLock);
                g_woken = true;
            }
            g_wake.notify_all();
            watcher->thread.join();
        }
        std::lock_guard<std::mutex> guard(g_lock);
        g_entries.clear();
    }
};
ExitGuard g_exitGuard;

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

Entry* FindLocked(const std::string& name)
{
    const std::string key = Lower(name);
    for (const std::unique_ptr<Entry>& entry : g_entries) {
        if (entry->alias == key) {
            return entry.get();
        }
    }
    return nullptr;
}

void Queue(std::vector<Delivery>* out, Entry* entry, uint32_t status)
{
    if (!entry->notifyPending) {
        return;
    }
    entry->notifyPending = false;
    out->push_back(Delivery{entry->pendingTarget, status, entry->id});
}

// Takes every play that has ended and queues its notification.
void PollLocked(std::vector<Delivery>* out)
{
    for (const std::unique_ptr<Entry>& entry : g_entries) {
        if (entry->device->TakeEnded()) {
            Queue(out, entry.get(), kMciNotifySuccessful);
        }
    }
}

void Deliver(const std::vector<Delivery>& deliveries)
{
    for (const Delivery& delivery : deliveries) {
        if (delivery.target.notify != nullptr) {
            delivery.target.notify(delivery.target.user, delivery.status, delivery.id);
        }
    }
}

void WatchLoop(Watcher* self)
{
    while (!self->stop.load()) {
        {
            std::unique_lock<std::mutex> wakeGuard(g_wakeLock);
            g_wake.wait_for(wakeGuard, kWatchInterval, [self] { return g_woken || self->stop.load(); });
            g_woken = false;
        }
        if (self->stop.load()) {
            return;
        }
        std::vector<Delivery> deliveries;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            PollLocked(&deliveries);
        }
        Deliver(deliveries);
    }
}

// Starts the watcher with the first device; false when no thread starts.
bool StartWatcherLocked()
{
    if (g_watcher != nullptr) {
        return true;
    }
    try {
        std::unique_ptr<Watcher> watcher(new Watcher);
        Watcher* raw = watcher.get();
        watcher->thread = std::thread([raw] { WatchLoop(raw); });
        g_watcher = std::move(watcher);
        return true;
    } catch (...) {
        std::fprintf(stderr, "mci: the watcher thread did not start\n");
        return false;
    }
}

// With the last device closed, hands the watcher back to be joined outside
// the lock (it takes the lock itself).
std::unique_ptr<Watcher> RetireWatcherLocked()
{
    if (!g_entries.empty() || g_watcher == nullptr) {
        return nullptr;
    }
    g_watcher->stop.store(true);
    return std::move(g_watcher);
}

// ---- Time formats.

constexpr int64_t kMsfFramesPerSecond = 75;

int64_t MsToMsfFrames(int64_t ms)
{
    return (ms * kMsfFramesPerSecond + 999) / 1000;
}

int64_t MsfFramesToMs(int64_t frames)
{
    return frames * 1000 / kMsfFramesPerSecond;
}

// Up to `maxFields` colon-separated fields of at most 9 digits each.
bool SplitFields(const std::string& text, size_t maxFields, std::vector<int64_t>* fields)
{
    int64_t value = 0;
    size_t digits = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ':') {
            if (digits == 0 || fields->size() == maxFields) {
                return false;
            }
            fields->push_back(value);
            value = 0;
            digits = 0;
            continue;
        }
        if (++digits > 9) {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// A position in the entry's time format, read into milliseconds.
uint32_t ReadPosition(Entry* entry, const std::string& text, int64_t* ms)
{
    std::vector<int64_t> fields;
    switch (entry->timeFormat) {
    case MciTimeFormat::kMsf:
        // Minutes, or minutes and seconds, or all three; seconds below 60
        // and frames below 75 when given.
        if (!SplitFields(text, 3, &fields) || (fields.size() > 1 && fields[1] >= 60) ||
            (fields.size() > 2 && fields[2] >= kMsfFramesPerSecond)) {
            return kMciErrorBadInteger;
        }
        fields.resize(3, 0);
        *ms = MsfFramesToMs((fields[0] * 60 + fields[1]) * kMsfFramesPerSecond + fields[2]);
        return kMciOk;
    case MciTimeFormat::kTmsf: {
        if (!SplitFields(text, 4, &fields) || (fields.size() > 2 && fields[2] >= 60) ||
            (fields.size() > 3 && fields[3] >= kMsfFramesPerSecond)) {
            return kMciErrorBadInteger;
        }
        fields.resize(4, 0);
        int32_t tracks = 0;
        uint32_t result = entry->device->GetTrackCount(&tracks);
        if (result != kMciOk) {
            return result;
        }
        if (fields[0] < 1 || fields[0] > tracks) {
            return kMciErrorOutOfRange;
        }
        int64_t trackStart = 0;
        result = entry->device->GetPosition(static_cast<int32_t>(fields[0]), &trackStart);
        if (result != kMciOk) {
            return result;
        }
        *ms = MsfFramesToMs(MsToMsfFrames(trackStart) + (fields[1] * 60 + fields[2]) * kMsfFramesPerSecond + fields[3]);
        return kMciOk;
    }
    default:
        if (text.find(':') != std::string::npos || text.size() > 12) {
            return kMciErrorBadInteger;
        }
        *ms = std::stoll(text);
        return kMciOk;
    }
}

std::string FormatMsf(int64_t ms)
{
    const int64_t frames = MsToMsfFrames(ms);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(frames / (60 * kMsfFramesPerSecond)),
                  static_cast<long long>(frames / kMsfFramesPerSecond % 60), static_cast<long long>(frames % kMsfFramesPerSecond));
    return text;
}

// A position (not a length) in the entry's time format.
uint32_t FormatPosition(Entry* entry, int64_t ms, std::string* out)
{
    if (entry->timeFormat == MciTimeFormat::kMilliseconds) {
        *out = std::to_string(ms);
        return kMciOk;
    }
    if (entry->timeFormat == MciTimeFormat::kMsf) {
        *out = FormatMsf(ms);
        return kMciOk;
    }
    // Track, then the time into it.
    int32_t tracks = 0;
    uint32_t result = entry->device->GetTrackCount(&tracks);
    if (result != kMciOk) {
        return result;
    }
    int32_t track = 1;
    int64_t trackStart = 0;
    for (int32_t k = 1; k <= tracks; ++k) {
        int64_t start = 0;
        result = entry->device->GetPosition(k, &start);
        if (result != kMciOk) {
            return result;
        }
        if (k == 1 || start <= ms) {
            track = k;
            trackStart = start;
        }
    }
    const int64_t into = MsToMsfFrames(ms) - MsToMsfFrames(trackStart);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%s", track, FormatMsf(MsfFramesToMs(into < 0 ? 0 : into)).c_str());
    *out = text;
    return kMciOk;
}

const char* ModeName(MciMode mode)
{
    switch (mode) {
    case MciMode::kNotReady:
        return "not ready";
    case MciMode::kPlaying:
        return "playing";
    case MciMode::kPaused:
        return "paused";
    case MciMode::kOpen:
        return "open";
    default:
        return "stopped";
    }
}

const char* TimeFormatName(MciTimeFormat format)
{
    switch (format) {
    case MciTimeFormat::kMsf:
        return "msf";
    case MciTimeFormat::kTmsf:
        return "tmsf";
    default:
        return "milliseconds";
    }
}

// ---- Commands.

// What the device word of "open" names when no type is given: a device
// type, else a file whose extension says its type.
std::string TypeFromName(const std::string& name)
{
    const std::string lower = Lower(name);
    if (lower == "cdaudio" || lower == "waveaudio" || lower == "sequencer") {
        return lower;
    }
    const size_t dot = lower.rfind('.');
    if (dot == std::string::npos) {
        return std::string();
    }
    const std::string extension = lower.substr(dot + 1);
    if (extension == "mid" || extension == "midi" || extension == "rmi") {
        return "sequencer";
    }
    if (extension == "wav" || extension == "mp3" || extension == "ogg" || extension == "flac" || extension == "aif" ||
        extension == "aiff") {
        return "waveaudio";
    }
    return std::string();
}

uint32_t OpenLocked(const MciCommand& command)
{
    const std::string type = command.type.empty() ? TypeFromName(command.device) : command.type;
    if (type.empty()) {
        return kMciErrorDeviceTypeRequired;
    }
    const bool namesType = Lower(command.device) == type;
    const std::string alias = Lower(command.alias.empty() ? command.device : command.alias);
    if (FindLocked(alias) != nullptr) {
        return kMciErrorDuplicateAlias;
    }
    uint32_t error = kMciOk;
    std::unique_ptr<MciDevice> device;
    if (type == "cdaudio") {
        device = OpenCdDevice(g_cdOpener != nullptr ? g_cdOpener() : OpenSystemCdDrive(), &error);
    } else if (type == "waveaudio" || type == "sequencer") {
        // A bare device type would open an empty device to record into,
        // which nothing here does.
        if (namesType) {
            return kMciErrorUnsupportedFunction;
        }
        const std::string hostPath = HostPath(command.device.c_str());
        if (hostPath.empty()) {
            return kMciErrorFileNotFound;
        }
        device = type == "waveaudio" ? OpenWaveDevice(hostPath, &error) : OpenSequencerDevice(hostPath, &error);
    } else {
        return kMciErrorInvalidDeviceName;
    }
    if (device == nullptr) {
        return error != kMciOk ? error : kMciErrorHardware;
    }
    if (!StartWatcherLocked()) {
        return kMciErrorOutOfMemory;
    }
    std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
    if (entry == nullptr) {
        return kMciErrorOutOfMemory;
    }
    entry->id = g_nextId++;
    if (g_nextId == 0) {
        g_nextId = 1;
    }
    entry->alias = alias;
    entry->timeFormat = device->GetDefaultTimeFormat();
    entry->device = std::move(device);
    g_entries.push_back(std::move(entry));
    return kMciOk;
}

uint32_t CloseLocked(const MciCommand& command, std::vector<Delivery>* out)
{
    if (Lower(command.device) == "all") {
        for (const std::unique_ptr<Entry>& entry : g_entries) {
            Queue(out, entry.get(), kMciNotifyAborted);
        }
        g_entries.clear();
        return kMciOk;
    }
    for (size_t i = 0; i < g_entries.size(); ++i) {
        if (g_entries[i]->alias == Lower(command.device)) {
            Queue(out, g_entries[i].get(), kMciNotifyAborted);
            g_entries.erase(g_entries.begin() + static_cast<std::ptrdiff_t>(i));
            return kMciOk;
        }
    }
    return kMciErrorInvalidDeviceName;
}

uint32_t StatusLocked(Entry* entry, const MciCommand& command, std::string* reply)
{
    MciDevice* device = entry->device.get();
    uint32_t result = kMciOk;
    switch (command.item) {
    case MciStatusItem::kMode:
        *reply = ModeName(device->GetMode());
        return kMciOk;
    case MciStatusItem::kReady:
        *reply = device->GetMode() == MciMode::kNotReady || device->GetMode() == MciMode::kOpen ? "false" : "true";
        return kMciOk;
    case MciStatusItem::kTimeFormat:
        *reply = TimeFormatName(entry->timeFormat);
        return kMciOk;
    case MciStatusItem::kMediaPresent: {
        bool present = false;
        result = device->GetMediaPresent(&present);
        *reply = present ? "true" : "false";
        return result;
    }
    case MciStatusItem::kNumberOfTracks:
    case MciStatusItem::kCurrentTrack: {
        int32_t value = 0;
        result = command.item == MciStatusItem::kNumberOfTracks ? device->GetTrackCount(&value)
                                                                 : device->GetCurrentTrack(&value);
        if (result == kMciOk) {
            *reply = std::to_string(value);
        }
        return result;
    }
    case MciStatusItem::kLength: {
        int64_t ms = 0;
        result = device->GetLength(command.track, &ms);
        if (result == kMciOk) {
            // Lengths have no track to count from: TMSF gives them as MSF.
            *reply = entry->timeFormat == MciTimeFormat::kMilliseconds ? std::to_string(ms) : FormatMsf(ms);
        }
        return result;
    }
    case MciStatusItem::kPosition: {
        int64_t ms = 0;
        result = device->GetPosition(command.track, &ms);
        if (result == kMciOk) {
            result = FormatPosition(entry, ms, reply);
        }
        return result;
    }
    default:
        return kMciErrorMissingParameter;
    }
}

uint32_t ExecuteLocked(const MciCommand& command, const MciNotifyTarget* target, std::string* reply,
                       std::vector<Delivery>* out)
{
    if (command.verb == MciVerb::kOpen) {
        return OpenLocked(command);
    }
    if (command.verb == MciVerb::kClose) {
        return CloseLocked(command, out);
    }
    Entry* entry = FindLocked(command.device);
    if (entry == nullptr) {
        return kMciErrorInvalidDeviceName;
    }
    MciDevice* device = entry->device.get();
    switch (command.verb) {
    case MciVerb::kPlay: {
        int64_t from = -1;
        int64_t to = -1;
        uint32_t result = command.from.empty() ? kMciOk : ReadPosition(entry, command.from, &from);
        if (result == kMciOk && !command.to.empty()) {
            result = ReadPosition(entry, command.to, &to);
        }
        if (result != kMciOk) {
            return result;
        }
        // A play that is refused leaves the one before it running.
        result = device->Play(from, to);
        if (result != kMciOk) {
            return result;
        }
        Queue(out, entry, kMciNotifySuperseded);
        if (command.notify && target != nullptr) {
            entry->notifyPending = true;
            entry->pendingTarget = *target;
        }
        return kMciOk;
    }
    case MciVerb::kStop:
        Queue(out, entry, kMciNotifyAborted);
        return device->Stop();
    case MciVerb::kPause:
        // A pause keeps the play's notification for when it ends after resume.
        return device->Pause();
    case MciVerb::kResume:
        return device->Resume();
    case MciVerb::kSeek: {
        int64_t ms = 0;
        if (command.seekTarget == MciSeekTarget::kPosition) {
            const uint32_t result = ReadPosition(entry, command.seekPosition, &ms);
            if (result != kMciOk) {
                return result;
            }
        }
        Queue(out, entry, kMciNotifyAborted);
        return device->Seek(command.seekTarget, ms);
    }
    case MciVerb::kStatus:
        return StatusLocked(entry, command, reply);
    case MciVerb::kSet:
        if (command.timeFormat != MciTimeFormat::kNone) {
            if (!device->SupportsTimeFormat(command.timeFormat)) {
                return kMciErrorBadTimeFormat;
            }
            entry->timeFormat = command.timeFormat;
        }
        if (command.door != MciDoor::kNone) {
            Queue(out, entry, kMciNotifyAborted);
            return device->SetDoor(command.door == MciDoor::kOpen);
        }
        return kMciOk;
    default:
        return kMciErrorUnrecognizedCommand;
    }
}

}  // namespace

void MciWakeWatcher()
{
    {
        std::lock_guard<std::mutex> guard(g_wakeLock);
        g_woken = true;
    }
    g_wake.notify_all();
}

uint32_t MciSendString(const char* command, char* reply, size_t replySize, const MciNotifyTarget* target)
{
    MciCommand parsed;
    uint32_t result = MciParseCommand(command, &parsed);
    std::string answer;
    std::vector<Delivery> deliveries;
    std::unique_ptr<Watcher> retired;
    try {
        // The reply may overwrite the command's buffer: keep the text.
        const std::string text = command != nullptr ? std::string(command, strnlen(command, kMciMaxCommandLength)) : "";
        std::lock_guard<std::mutex> guard(g_lock);
        if (result == kMciOk) {
            // Ends seen now are reported before this command changes them.
            PollLocked(&deliveries);
            result = ExecuteLocked(parsed, target, &answer, &deliveries);
            if (result == kMciOk && parsed.notify && target != nullptr && parsed.verb != MciVerb::kPlay) {
                // Everything but a play is over by now.
                uint32_t id = 0;
                if (parsed.verb == MciVerb::kOpen) {
                    id = g_entries.back()->id;
                } else if (Entry* entry = FindLocked(parsed.device)) {
                    id = entry->id;
                }
                deliveries.push_back(Delivery{*target, kMciNotifySuccessful, id});
            }
        }
        retired = RetireWatcherLocked();
        if (g_observer != nullptr) {
            g_observer(text.c_str(), result);
        }
    } catch (const std::bad_alloc&) {
        result = kMciErrorOutOfMemory;
        answer.clear();
    }
    if (reply != nullptr && replySize > 0) {
        if (answer.size() + 1 > replySize) {
            reply[0] = '\0';
            if (result == kMciOk) {
                result = kMciErrorParamOverflow;
            }
        } else {
            std::memcpy(reply, answer.c_str(), answer.size() + 1);
        }
    }
    if (retired != nullptr) {
        MciWakeWatcher();
        retired->thread.join();
    }
    Deliver(deliveries);
    return result;
}

const char* MciGetErrorText(uint32_t error)
{
    switch (error) {
    case kMciOk:
        return "no error";
    case kMciErrorUnrecognizedKeyword:
        return "unrecognized keyword";
    case kMciErrorUnrecognizedCommand:
        return "unrecognized command";
    case kMciErrorHardware:
        return "device hardware error";
    case kMciErrorInvalidDeviceName:
        return "no device open under that name";
    case kMciErrorOutOfMemory:
        return "out of memory";
    case kMciErrorCannotLoadDriver:
        return "the device type cannot start on this machine";
    case kMciErrorMissingCommand:
        return "empty command";
    case kMciErrorParamOverflow:
        return "command or reply too long";
    case kMciErrorMissingString:
        return "empty string argument";
    case kMciErrorBadInteger:
        return "bad number";
    case kMciErrorMissingParameter:
        return "missing parameter";
    case kMciErrorUnsupportedFunction:
        return "not supported by the device";
    case kMciErrorFileNotFound:
        return "file not found";
    case kMciErrorDeviceNotReady:
        return "device not ready (no disc)";
    case kMciErrorOutOfRange:
        return "out of range";
    case kMciErrorDeviceTypeRequired:
        return "device type required";
    case kMciErrorDuplicateAlias:
        return "alias already in use";
    case kMciErrorBadConstant:
        return "unknown value";
    case kMciErrorMissingDeviceName:
        return "missing device name";
    case kMciErrorBadTimeFormat:
        return "time format not supported";
    case kMciErrorNoClosingQuote:
        return "missing closing quote";
    case kMciErrorDuplicateFlags:
        return "keyword given twice";
    case kMciErrorInvalidFile:
        return "not a file the device plays";
    default:
        return "unknown error";
    }
}

void MciSetCommandObserver(MciCommandObserver observer)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_observer = observer;
}

void MciSetCdDriveOpener(CdDriveOpener opener)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_cdOpener = opener;
}

}  // namespace platform
