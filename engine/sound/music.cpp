#include "engine/sound/music.h"

#include <cmath>
#include <new>
#include <string>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/sound/command_ring.h"
#include "platform/audio/audio.h"
#include "platform/audio/effects.h"
#include "platform/midi/midi.h"
#include "platform/sys/path.h"
#include "platform/sys/resource.h"
#include "platform/window/window.h"

enum MusicCommand : uint32_t {
    kCommandLoad = 0,
    kCommandRelease = 1,
    kCommandPlay = 2,
    kCommandStop = 3,
    kCommandPause = 4,
    kCommandVolume = 5,
    kCommandPan = 6,
    kCommandClearEffects = 7,
    kCommandReverb = 8,
    kCommandEcho = 9,
    kCommandChorus = 10,
    kCommandCompressor = 11,
    kCommandDistortion = 12,
    kCommandFlanger = 13,
    kCommandGargle = 14,
    kCommandParamEq = 15,
    kCommandQuit = 16,
};

static OrvaObjectList& MusicList();

// Module state, touched only on the worker: whether the SoundFont was found
// (the loader), the module's own synthesizer, and its hold on the device.
static bool g_loaderReady = false;
static std::unique_ptr<platform::MidiSynth> g_modulePerformance;
static bool g_deviceHeld = false;

static void LogDirectXMissing()
{
    OrvaDebug::Log("    [ DirectX8.1以降をインストールしてください。 ]\n");
    OrvaDebug::MsgBox(platform::MB_ICONERROR, "Error", "DirectX8.1が正しくインストールされていない可能性があります");
}

// On the worker before the first command: the SoundFont, the module's
// synthesizer and the output device. A failure is logged and the ring runs
// on; loads then fail in their own steps.
static void SetUpMusic()
{
    if (!platform::IsSoundFontAvailable()) {
        OrvaDebug::Log("  エラー : DirectMusicLoaderの生成に失敗\n");
        LogDirectXMissing();
        return;
    }
    g_loaderReady = true;
    OrvaDebug::Log("  ■ DirectMusicLoaderを生成\n");
    platform::MidiResult result = platform::MidiResult::kOk;
    g_modulePerformance = platform::MidiSynth::Create(&result);
    if (g_modulePerformance == nullptr) {
        OrvaDebug::Log("  エラー : パフォーマンスオブジェクトの生成に失敗\n");
        LogDirectXMissing();
        return;
    }
    OrvaDebug::Log("  ■ パフォーマンスオブジェクトを生成\n");
    // Held for the module's life, so music objects share the open device.
    g_deviceHeld = platform::AudioDevice::Open();
    if (g_deviceHeld) {
        OrvaDebug::Log("  ■ パフォーマンスオブジェクトを初期化\n");
    } else {
        OrvaDebug::Log("  エラー : パフォーマンスオブジェクトの初期化に失敗\n");
    }
}

// On the worker after every music object is released. Nothing else holds
// these, so each count reaches 0.
static void TearDownMusic()
{
    if (g_modulePerformance != nullptr) {
        g_modulePerformance.reset();
        OrvaDebug::Log("  ■ DirectMusicPerformanceを解体 [参照カウント%u]\n", 0u);
    }
    if (g_loaderReady) {
        g_loaderReady = false;
        OrvaDebug::Log("  ■ DirectMusicLoaderを解体 [参照カウント%u]\n", 0u);
    }
    if (g_deviceHeld) {
        platform::AudioDevice::Close();
        g_deviceHeld = false;
        OrvaDebug::Log("  ■ DirectMusicObjectを解体 [参照カウント%u]\n", 0u);
    }
}

// Indexed by MusicCommand; quit is handled by the ring itself.
static const OrvaCommandEntry kMusicCommands[] = {
    {OrvaRunCommand<&OrvaMusic::Load>, true},
    {OrvaRunRelease, false},
    {OrvaRunCommand<&OrvaMusic::ExecPlay>, false},
    {OrvaRunCommand<&OrvaMusic::ExecStop>, false},
    {OrvaRunCommand<&OrvaMusic::ExecPause>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetVolume>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetPan>, false},
    {OrvaRunCommand<&OrvaMusic::ExecClearEffects>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetReverb>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetEcho>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetChorus>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetCompressor>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetDistortion>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetFlanger>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetGargle>, false},
    {OrvaRunCommand<&OrvaMusic::ExecSetParamEq>, false},
};
static_assert(sizeof kMusicCommands / sizeof kMusicCommands[0] == kCommandQuit);

static const OrvaWorkerModule kMusicModule = {
    "orva-music",
    "\n============================================== Initialize DirectMusic\n",
    "\n============================================== Destroy DirectMusic\n",
    kMusicCommands,
    sizeof kMusicCommands / sizeof kMusicCommands[0],
    kCommandQuit,
    MusicList,
    SetUpMusic,
    TearDownMusic,
};

static OrvaCommandRing g_musicRing(kMusicModule);

static OrvaObjectList& MusicList()
{
    return OrvaWorkerModuleList<g_musicRing, OrvaModule::Music>();
}

int32_t OrvaMusic::Initialize()
{
    return g_musicRing.StartOnce();
}

void OrvaMusic::Destroy()
{
    g_musicRing.Stop();
}

OrvaMusic::OrvaMusic() = default;

OrvaMusic* OrvaMusic::Create(const char* fileName)
{
    OrvaMusic* music = new (std::nothrow) OrvaMusic();
    if (!g_musicRing.Adopt(music, "○ CreateMusic   / ID [0x%08X] / ")) {
        return nullptr;
    }
    // A refused name (too long) is logged by the ring; the object stays unloaded.
    g_musicRing.PostName(kCommandLoad, music, fileName);
    return music;
}

void OrvaMusic::PostRelease(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandRelease, object, 0);
}

void OrvaMusic::Play(OrvaMusic* object, int32_t loopFlag)
{
    g_musicRing.PostWord(kCommandPlay, object, static_cast<uint32_t>(loopFlag));
}

void OrvaMusic::Stop(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandStop, object, 0);
}

void OrvaMusic::Pause(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandPause, object, 0);
}

void OrvaMusic::SetVolume(OrvaMusic* object, float percent)
{
    g_musicRing.PostFloat(kCommandVolume, object, percent);
}

void OrvaMusic::SetPan(OrvaMusic* object, float pan)
{
    g_musicRing.PostFloat(kCommandPan, object, pan);
}

void OrvaMusic::ClearEffects(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandClearEffects, object, 0);
}

void OrvaMusic::SetReverb(OrvaMusic* object, int32_t preset)
{
    g_musicRing.PostWord(kCommandReverb, object, static_cast<uint32_t>(preset));
}

void OrvaMusic::SetEcho(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandEcho, object, 0);
}

void OrvaMusic::SetChorus(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandChorus, object, 0);
}

void OrvaMusic::SetCompressor(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandCompressor, object, 0);
}

void OrvaMusic::SetDistortion(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandDistortion, object, 0);
}

void OrvaMusic::SetFlanger(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandFlanger, object, 0);
}

void OrvaMusic::SetGargle(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandGargle, object, 0);
}

void OrvaMusic::SetParamEq(OrvaMusic* object)
{
    g_musicRing.PostWord(kCommandParamEq, object, 0);
}

int32_t OrvaMusic::IsPlaying(OrvaMusic* object)
{
    return g_musicRing.IsPlaying(object);
}

void OrvaMusic::WaitIdle()
{
    g_musicRing.WaitIdle();
}

// The song named, from the program's built-in resources or else from a file.
static std::unique_ptr<platform::MidiSong> ReadSong(const char* name, bool* fromResource)
{
    *fromResource = false;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (platform::FindResource("MIDI", name, &data, &size) ||
        platform::FindResource(platform::kResourceTypeRawData, name, &data, &size)) {
        std::unique_ptr<platform::MidiSong> song = platform::MidiSong::Parse(data, size, nullptr);
        if (song != nullptr) {
            *fromResource = true;
            return song;
        }
    }
    std::string path;
    try {
        path = platform::HostPath(name);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (path.empty()) {
        return nullptr;
    }
    return platform::MidiSong::Load(path.c_str(), nullptr);
}

int32_t OrvaMusic::Load(const char* name)
{
    if (loaded != 0) {
        return 1;
    }
    const char* text = name != nullptr ? name : "";
    OrvaDebug::Log("%s / ", text);
    // A relative name is taken from the program's folder, whatever folder
    // was current before.
    OrvaApplication::SetCurrentDirectory();
    // Reading, checking and the synthesizer's start run without the module
    // lock: nothing else sees them before they are stored.
    bool fromResource = false;
    std::unique_ptr<platform::MidiSong> song = ReadSong(text, &fromResource);
    if (fromResource) {
        OrvaDebug::Log("from Resource / ");
    }
    if (song == nullptr) {
        OrvaDebug::Log("エラー : MIDIファイルの読み込みに失敗\n");
        return 0;
    }
    platform::MidiResult result = platform::MidiResult::kOk;
    std::unique_ptr<platform::MidiSynth> synth = platform::MidiSynth::Create(&result);
    if (synth == nullptr) {
        if (result == platform::MidiResult::kNoDevice) {
            OrvaDebug::Log("エラー : パフォーマンスオブジェクトの初期化に失敗\n");
        } else {
            OrvaDebug::Log("エラー : パフォーマンスオブジェクトの生成に失敗\n");
        }
        // The song read so far goes with this scope.
        return 0;
    }
    synth->Preload(*song);
    platform::ScopedLock guard(g_musicRing.GetLock());
    segment = std::move(song);
    performance = std::move(synth);
    loaded = 1;
    OrvaDebug::Log("%u ByteUse / Complete!\n", kObjectBytes);
    return 1;
}

void OrvaMusic::ExecPlay(int32_t loopFlag)
{
    if (loaded == 0) {
        return;
    }
    ExecStop();
    startPoint = 0;
    performance->Play(segment.get(), startPoint, loopFlag != 0);
    loop = static_cast<uint32_t>(loopFlag);
    playing = 1;
    // Playing again means not paused, whatever came before: else the next
    // Pause would start the music over instead of holding it.
    paused = 0;
}

void OrvaMusic::ExecStop()
{
    if (loaded == 0 || playing == 0) {
        return;
    }
    performance->Stop();
    playing = 0;
    loop = 0;
    paused = 0;
}

int32_t OrvaMusic::GetPlaying()
{
    if (playing == 0) {
        return 0;
    }
    // Held by a pause it is still playing; a song played once that reached
    // its end is not.
    return (paused != 0 || performance->IsPlaying()) ? 1 : 0;
}

void OrvaMusic::ExecPause()
{
    if (playing == 0) {
        return;
    }
    if (paused == 0) {
        startPoint = performance->GetPosition();
        performance->Stop();
    } else {
        performance->Play(segment.get(), startPoint, loop != 0);
    }
    paused = paused != 0 ? 0 : 1;
}

void OrvaMusic::ExecSetVolume(float percent)
{
    if (loaded == 0 || !std::isfinite(percent)) {
        return;
    }
    performance->SetVolume(OrvaVolumeToAttenuation(percent));
}

void OrvaMusic::ExecSetPan(float pan)
{
    if (loaded == 0 || !std::isfinite(pan)) {
        return;
    }
    performance->SetBalance(OrvaPanToBalance(pan));
}

void OrvaMusic::ApplyEffect(int32_t kind, int32_t preset)
{
    if (loaded == 0) {
        return;
    }
    const uint32_t wasPlaying = playing;
    const int32_t wasLooping = static_cast<int32_t>(loop);
    ExecStop();
    std::unique_ptr<platform::AudioEffect> effect;
    if (kind >= 0) {
        const platform::EffectKind effectKind = static_cast<platform::EffectKind>(kind);
        effect = platform::CreateEffect(effectKind, platform::kAudioRate);
        platform::ReverbParams room;
        // A preset outside the table leaves the reverb at its defaults.
        if (effect != nullptr && effectKind == platform::EffectKind::kReverb &&
            platform::GetReverbPreset(preset, &room)) {
            effect->SetParams(room);
        }
    }
    performance->SetEffect(std::move(effect));
    if (wasPlaying != 0) {
        ExecPlay(wasLooping);
    }
}

void OrvaMusic::ExecClearEffects()
{
    ApplyEffect(-1, 0);
}

void OrvaMusic::ExecSetReverb(int32_t preset)
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kReverb), preset);
}

void OrvaMusic::ExecSetEcho()
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kEcho), 0);
}

void OrvaMusic::ExecSetChorus()
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kChorus), 0);
}

void OrvaMusic::ExecSetCompressor()
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kCompressor), 0);
}

void OrvaMusic::ExecSetDistortion()
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kDistortion), 0);
}

void OrvaMusic::ExecSetFlanger()
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kFlanger), 0);
}

void OrvaMusic::ExecSetGargle()
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kGargle), 0);
}

void OrvaMusic::ExecSetParamEq()
{
    ApplyEffect(static_cast<int32_t>(platform::EffectKind::kParamEq), 0);
}

OrvaMusic::~OrvaMusic()
{
    if (playing != 0 && loaded != 0) {
        performance->Stop();
        playing = 0;
        loop = 0;
    }
    // The synthesizer leaves the mixer before the song it plays goes.
    performance.reset();
    segment.reset();
    OrvaDebug::Log("● ReleaseMusic / ID [0x%08X]\n", OrvaCommandRing::LogId(this));
}
