#include "engine/sound/mci.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/debug.h"
#include "engine/sound/mixer.h"
#include "platform/mci/mci.h"

// One entry of the CD's track table, in milliseconds.
struct MciTrack {
    int32_t position = 0;
    int32_t length = 0;
};

// The CD.
static uint32_t g_cdMediaPresent = 0;
static int32_t g_cdTrackCount = 0;
// Entry k (1 to the track count) is track k; the position of entry track
// count + 1 is the disc length. Indexed by track number, so entry 0 is
// unused and a full table reaches kMaxTracks + 1.
static MciTrack g_cdTracks[OrvaMci::kMaxTracks + 2];
static int32_t g_cdLength = 0;
static uint32_t g_cdPlaying = 0;
static uint32_t g_cdLoop = 0;
static uint32_t g_cdPaused = 0;
static int32_t g_cdFirstTrack = 0;
static int32_t g_cdLastTrack = 0;
static char g_cdSavedPosition[128] = {};

// One file alias.
struct MciAliasState {
    uint32_t open = 0;
    uint32_t loop = 0;
    uint32_t paused = 0;
};
static MciAliasState g_wave;
static MciAliasState g_midi;

// Every command is formatted here, and status replies come back here.
static char g_command[OrvaMci::kCommandSize];

// What stands before a file name in the open commands: nothing, so names
// are taken as the caller gives them.
static const char* const kFilePrefix = "";

static std::atomic<void (*)(uintptr_t, intptr_t)> g_notifyPoster{nullptr};

// The interpreter's notification, handed on as the window message's
// wParam and lParam.
static void PostNotify(void*, uint32_t status, uint32_t deviceId)
{
    void (*poster)(uintptr_t, intptr_t) = g_notifyPoster.load();
    if (poster != nullptr) {
        poster(status, static_cast<intptr_t>(deviceId));
    }
}

// Sends the command in g_command. A command that asks for "notify" reports
// to the main thread through the poster, when one is installed.
static uint32_t Send(bool withReply)
{
    platform::MciNotifyTarget target;
    target.notify = &PostNotify;
    const bool notify = std::strstr(g_command, "notify") != nullptr && g_notifyPoster.load() != nullptr;
    return platform::MciSendString(g_command, withReply ? g_command : nullptr, withReply ? sizeof g_command : 0,
                                   notify ? &target : nullptr);
}

static uint32_t SendText(const char* command)
{
    std::snprintf(g_command, sizeof g_command, "%s", command);
    return Send(false);
}

// Sends a status query; the reply is left in g_command (empty on failure).
static uint32_t Query(const char* command)
{
    std::snprintf(g_command, sizeof g_command, "%s", command);
    const uint32_t result = Send(true);
    if (result != 0) {
        g_command[0] = '\0';
    }
    return result;
}

static bool IsValidTrack(int32_t track)
{
    return track >= 1 && track <= g_cdTrackCount;
}

static uint32_t SendCdPlay(int32_t first, int32_t last)
{
    const int32_t from = g_cdTracks[first].position;
    const int32_t to = g_cdTracks[last].position + g_cdTracks[last].length;
    std::snprintf(g_command, sizeof g_command, "play cdaudio from %d to %d notify", from, to);
    return Send(false);
}

// The common steps of the CD plays; the play command's result in *result.
// False when nothing was sent (no disc, a track that is not valid).
static bool StartCdRange(int32_t first, int32_t last, uint32_t loop, int32_t* result)
{
    if (g_cdMediaPresent == 0) {
        *result = 0;
        return false;
    }
    if (!IsValidTrack(first) || !IsValidTrack(last)) {
        *result = g_cdTrackCount;
        return false;
    }
    if (g_cdPlaying != 0) {
        SendText("stop cdaudio");
        g_cdPlaying = 0;
    }
    const uint32_t code = SendCdPlay(first, last);
    // A refused range (the last track before the first) leaves nothing
    // playing, so nothing for StopCd, PauseCd or a notification to act on.
    if (code == 0) {
        g_cdPlaying = 1;
        g_cdLoop = loop;
        g_cdPaused = 0;
        g_cdFirstTrack = first;
        g_cdLastTrack = last;
    }
    *result = static_cast<int32_t>(code);
    return true;
}

// A file name goes into the open command between quotes: one that would not
// fit, or that holds a quote of its own (and could end the name early and
// add words to the command), is refused before anything is sent.
static bool FormatOpen(const char* fileName, const char* type, const char* alias)
{
    if (fileName == nullptr || std::strchr(fileName, '"') != nullptr) {
        OrvaDebug::Log("  エラー : MCI : ファイル名が不正です [%s]\n", fileName != nullptr ? fileName : "(null)");
        return false;
    }
    const int length = std::snprintf(g_command, sizeof g_command, "open \"%s%s\" type %s alias %s", kFilePrefix,
                                     fileName, type, alias);
    if (length < 0 || length >= static_cast<int>(sizeof g_command)) {
        OrvaDebug::Log("  エラー : MCI : ファイル名が長すぎます (%zu バイト) [%s]\n", std::strlen(fileName), fileName);
        g_command[0] = '\0';
        return false;
    }
    return true;
}

// The steps of PlayWave and PlayMidi: the play command's result.
static int32_t PlayFile(MciAliasState* state, const char* alias, const char* type, const char* fileName, uint32_t loop)
{
    char command[64];
    std::snprintf(command, sizeof command, "stop %s", alias);
    SendText(command);
    std::snprintf(command, sizeof command, "close %s", alias);
    SendText(command);
    *state = MciAliasState();
    if (!FormatOpen(fileName, type, alias)) {
        return static_cast<int32_t>(platform::kMciErrorParamOverflow);
    }
    const uint32_t opened = Send(false);
    std::snprintf(command, sizeof command, "seek %s to start", alias);
    SendText(command);
    std::snprintf(command, sizeof command, "play %s notify", alias);
    const uint32_t played = SendText(command);
    state->loop = loop;
    // Only a file that opened is open: pausing or stopping one that did not
    // would report a state that does not exist.
    state->open = opened == 0 ? 1 : 0;
    return static_cast<int32_t>(played);
}

static int32_t PauseFile(MciAliasState* state, const char* alias)
{
    if (state->open == 0) {
        return 0;
    }
    char command[64];
    if (state->paused != 0) {
        std::snprintf(command, sizeof command, "seek %s to start", alias);
        SendText(command);
        std::snprintf(command, sizeof command, "play %s notify", alias);
        SendText(command);
    } else {
        std::snprintf(command, sizeof command, "stop %s", alias);
        SendText(command);
    }
    state->paused = state->paused != 0 ? 0 : 1;
    return static_cast<int32_t>(state->paused);
}

static int32_t StopFile(MciAliasState* state, const char* alias)
{
    char command[64];
    std::snprintf(command, sizeof command, "stop %s", alias);
    SendText(command);
    std::snprintf(command, sizeof command, "close %s", alias);
    const uint32_t result = SendText(command);
    *state = MciAliasState();
    return static_cast<int32_t>(result);
}

// OnNotify's step for one file alias.
static void NotifyFile(MciAliasState* state, const char* alias)
{
    // A paused alias is stopped on purpose: it must wait for its resume,
    // not be restarted or closed because another device finished.
    if (state->paused != 0) {
        return;
    }
    char command[64];
    std::snprintf(command, sizeof command, "status %s mode", alias);
    if (Query(command) != 0 || std::strcmp(g_command, "stopped") != 0) {
        return;
    }
    if (state->loop != 0) {
        std::snprintf(command, sizeof command, "seek %s to start", alias);
        SendText(command);
        std::snprintf(command, sizeof command, "play %s notify", alias);
        SendText(command);
        return;
    }
    StopFile(state, alias);
}

int32_t OrvaMci::Initialize()
{
    SendText("open cdaudio");
    OrvaMixer::Initialize();
    return 1;
}

void OrvaMci::Destroy()
{
    if (g_cdMediaPresent != 0 && g_cdPlaying != 0) {
        SendText("stop cdaudio");
        g_cdPlaying = 0;
    }
    StopFile(&g_midi, "midi");
    StopFile(&g_wave, "wave");
    // Puts back the volumes the lines had at start-up; a later start then
    // records them afresh.
    if (OrvaMixer::IsStarted()) {
        OrvaMixer::Destroy();
    }
    SendText("close cdaudio");
    g_cdPlaying = 0;
    g_cdLoop = 0;
    g_cdPaused = 0;
    g_cdFirstTrack = 0;
    g_cdLastTrack = 0;
}

void OrvaMci::OnNotify(uintptr_t wParam, intptr_t)
{
    if (wParam != kNotifySuccessful) {
        return;
    }
    NotifyFile(&g_midi, "midi");
    NotifyFile(&g_wave, "wave");
    // A paused CD has stopped on purpose; the files above are still served.
    if (g_cdPaused != 0) {
        return;
    }
    if (Query("status cdaudio mode") != 0 || std::strcmp(g_command, "stopped") != 0) {
        return;
    }
    if (g_cdLoop != 0) {
        if (g_cdMediaPresent == 0 || g_cdFirstTrack > g_cdTrackCount || g_cdLastTrack > g_cdTrackCount ||
            !IsValidTrack(g_cdFirstTrack) || !IsValidTrack(g_cdLastTrack)) {
            return;
        }
        if (g_cdPlaying != 0) {
            SendText("stop cdaudio");
            g_cdPlaying = 0;
        }
        SendCdPlay(g_cdFirstTrack, g_cdLastTrack);
        g_cdPaused = 0;
        g_cdPlaying = 1;
        g_cdLoop = 1;
        return;
    }
    if (g_cdMediaPresent != 0 && g_cdPlaying != 0) {
        SendText("stop cdaudio");
        g_cdPlaying = 0;
    }
}

void OrvaMci::SetNotifyPoster(void (*poster)(uintptr_t wParam, intptr_t lParam))
{
    g_notifyPoster.store(poster);
}

int32_t OrvaMci::OpenCd()
{
    return static_cast<int32_t>(SendText("open cdaudio"));
}

void OrvaMci::CloseCd()
{
    SendText("close cdaudio");
    g_cdPlaying = 0;
    g_cdLoop = 0;
    g_cdPaused = 0;
    g_cdFirstTrack = 0;
    g_cdLastTrack = 0;
}

void OrvaMci::EjectCd()
{
    if (g_cdPlaying != 0 && g_cdMediaPresent != 0) {
        SendText("stop cdaudio");
        g_cdPlaying = 0;
    }
    SendText("set cdaudio door open");
    g_cdMediaPresent = 0;
    g_cdPlaying = 0;
    g_cdLoop = 0;
    g_cdPaused = 0;
}

int32_t OrvaMci::ReadCdTracks()
{
    Query("status cdaudio media present");
    g_cdMediaPresent = std::strcmp(g_command, "true") == 0 ? 1 : 0;
    if (g_cdMediaPresent == 0) {
        return 0;
    }
    Query("status cdaudio number of tracks");
    int32_t count = std::atoi(g_command);
    // The table has room for kMaxTracks and the end entry; a count below 0
    // would put the end entry before the table.
    if (count >= kMaxTracks + 1) {
        count = kMaxTracks;
    }
    if (count < 0) {
        count = 0;
    }
    g_cdTrackCount = count;
    SendText("set cdaudio time format milliseconds");
    Query("status cdaudio length");
    g_cdLength = std::atoi(g_command);
    for (int32_t k = 1; k <= g_cdTrackCount; ++k) {
        std::snprintf(g_command, sizeof g_command, "status cdaudio position track %d", k);
        Send(true);
        g_cdTracks[k].position = std::atoi(g_command);
        std::snprintf(g_command, sizeof g_command, "status cdaudio length track %d", k);
        Send(true);
        g_cdTracks[k].length = std::atoi(g_command);
    }
    g_cdTracks[g_cdTrackCount + 1].position = g_cdLength;
    g_cdTracks[g_cdTrackCount + 1].length = 0;
    return g_cdTrackCount;
}

int32_t OrvaMci::PlayCd(int32_t first, int32_t last, int32_t loop)
{
    int32_t result = 0;
    StartCdRange(first, last, loop != 0 ? 1 : 0, &result);
    return result;
}

int32_t OrvaMci::PlayCdTracks(int32_t first, int32_t last)
{
    return PlayCd(first, last, 0);
}

int32_t OrvaMci::PlayCdAll()
{
    return PlayCd(1, g_cdTrackCount, 0);
}

int32_t OrvaMci::PlayCdTracksLoop(int32_t first, int32_t last)
{
    int32_t result = 0;
    if (!StartCdRange(first, last, 1, &result)) {
        return result;
    }
    return 1;
}

int32_t OrvaMci::PlayCdTrackLoop(int32_t track)
{
    return PlayCdTracksLoop(track, track);
}

void OrvaMci::StopCd()
{
    if (g_cdMediaPresent != 0 && g_cdPlaying != 0) {
        SendText("stop cdaudio");
        g_cdPlaying = 0;
    }
}

int32_t OrvaMci::PauseCd()
{
    if (g_cdMediaPresent == 0 || g_cdPlaying == 0) {
        return static_cast<int32_t>(g_cdPaused);
    }
    if (g_cdPaused == 0) {
        std::snprintf(g_command, sizeof g_command, "%s", "status cdaudio position");
        if (platform::MciSendString(g_command, g_cdSavedPosition, sizeof g_cdSavedPosition, nullptr) != 0) {
            g_cdSavedPosition[0] = '\0';
        }
        SendText("stop cdaudio");
    } else {
        // Without a saved position there is nothing to seek to: the stop
        // left the disc where it paused.
        if (g_cdSavedPosition[0] != '\0') {
            std::snprintf(g_command, sizeof g_command, "seek cdaudio to %s", g_cdSavedPosition);
            Send(false);
        }
        // A play without an end runs to the end of the disc: a paused range
        // (one looping track) would run on into the tracks after it.
        const int32_t to = g_cdTracks[g_cdLastTrack].position + g_cdTracks[g_cdLastTrack].length;
        std::snprintf(g_command, sizeof g_command, "play cdaudio to %d notify", to);
        Send(false);
    }
    g_cdPaused = g_cdPaused != 0 ? 0 : 1;
    return static_cast<int32_t>(g_cdPaused);
}

int32_t OrvaMci::PlayWave(const char* fileName)
{
    return PlayFile(&g_wave, "wave", "waveaudio", fileName, 0);
}

int32_t OrvaMci::PlayWaveLoop(const char* fileName)
{
    PlayFile(&g_wave, "wave", "waveaudio", fileName, 1);
    return 1;
}

int32_t OrvaMci::PlayMidi(const char* fileName)
{
    return PlayFile(&g_midi, "midi", "sequencer", fileName, 0);
}

int32_t OrvaMci::PlayMidiLoop(const char* fileName)
{
    PlayFile(&g_midi, "midi", "sequencer", fileName, 1);
    return 1;
}

int32_t OrvaMci::PauseWave()
{
    return PauseFile(&g_wave, "wave");
}

int32_t OrvaMci::PauseMidi()
{
    return PauseFile(&g_midi, "midi");
}

int32_t OrvaMci::StopWave()
{
    return StopFile(&g_wave, "wave");
}

int32_t OrvaMci::StopMidi()
{
    return StopFile(&g_midi, "midi");
}

bool OrvaMci::IsCdMediaPresent()
{
    return g_cdMediaPresent != 0;
}

int32_t OrvaMci::GetCdTrackCount()
{
    return g_cdTrackCount;
}

int32_t OrvaMci::GetCdTrackPosition(int32_t track)
{
    if (track < 1 || track > g_cdTrackCount + 1) {
        return -1;
    }
    return g_cdTracks[track].position;
}

int32_t OrvaMci::GetCdTrackLength(int32_t track)
{
    if (track < 1 || track > g_cdTrackCount + 1) {
        return -1;
    }
    return g_cdTracks[track].length;
}

bool OrvaMci::IsCdPlaying()
{
    return g_cdPlaying != 0;
}

bool OrvaMci::IsCdPaused()
{
    return g_cdPaused != 0;
}

bool OrvaMci::IsWaveOpen()
{
    return g_wave.open != 0;
}

bool OrvaMci::IsMidiOpen()
{
    return g_midi.open != 0;
}
