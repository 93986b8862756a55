#include "engine/sound/audio.h"

#include <atomic>
#include <cmath>
#include <new>
#include <string>

#include "engine/core/debug.h"
#include "engine/sound/command_ring.h"
#include "platform/audio/audio.h"
#include "platform/media/media.h"
#include "platform/sys/path.h"

enum AudioCommand : uint32_t {
    kCommandLoad = 0,
    kCommandRelease = 1,
    kCommandPlay = 2,
    kCommandNothing = 3,
    kCommandStop = 4,
    kCommandPause = 5,
    kCommandSpeed = 6,
    kCommandVolume = 7,
    kCommandPan = 8,
    kCommandQuit = 9,
};

static OrvaObjectList g_audioList;

static OrvaAudio* AsAudio(OrvaObject* object)
{
    return static_cast<OrvaAudio*>(object);
}

static void RunLoad(OrvaObject* object, const OrvaCommandMessage& message)
{
    AsAudio(object)->Load(message.GetName());
}

static void RunRelease(OrvaObject* object, const OrvaCommandMessage&)
{
    object->Release();
}

static void RunPlay(OrvaObject* object, const OrvaCommandMessage& message)
{
    AsAudio(object)->ExecPlay(message.GetInt());
}

static void RunStop(OrvaObject* object, const OrvaCommandMessage&)
{
    AsAudio(object)->ExecStop();
}

static void RunPause(OrvaObject* object, const OrvaCommandMessage&)
{
    AsAudio(object)->ExecPause();
}

static void RunSpeed(OrvaObject* object, const OrvaCommandMessage& message)
{
    AsAudio(object)->ExecSetSpeed(message.GetFloat());
}

static void RunVolume(OrvaObject* object, const OrvaCommandMessage& message)
{
    AsAudio(object)->ExecSetVolume(message.GetFloat());
}

static void RunPan(OrvaObject* object, const OrvaCommandMessage& message)
{
    AsAudio(object)->ExecSetPan(message.GetFloat());
}

// Indexed by AudioCommand; quit is handled by the ring itself.
static const OrvaCommandEntry kAudioCommands[] = {
    {RunLoad, true}, {RunRelease, false}, {RunPlay, false},  {nullptr, false}, {RunStop, false},
    {RunPause, false}, {RunSpeed, false}, {RunVolume, false}, {RunPan, false},
};

static const OrvaWorkerModule kAudioModule = {
    "orva-audio",
    "\n============================================== Initialize DirectShow(Audio)\n",
    "\n============================================== Destroy DirectShow(Audio)\n",
    kAudioCommands,
    sizeof kAudioCommands / sizeof kAudioCommands[0],
    kCommandQuit,
    &g_audioList,
    nullptr,
    nullptr,
};

static OrvaCommandRing g_audioRing(kAudioModule);
static std::atomic<void (*)()> g_eventPoster{nullptr};
static bool g_deviceHeld = false;

static uint32_t LogId(const void* object)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}

// Called on the mixer's thread when a stream queues an event.
static void NotifyMainThread(void*)
{
    void (*poster)() = g_eventPoster.load();
    if (poster != nullptr) {
        poster();
    }
}

int32_t OrvaAudio::Initialize()
{
    if (g_audioRing.IsStarted()) {
        return 1;
    }
    // Held for the module's life, so streams share the open device instead
    // of opening and closing it one by one.
    g_deviceHeld = platform::AudioDevice::Open();
    return g_audioRing.Start();
}

void OrvaAudio::Destroy()
{
    g_audioRing.Stop();
    if (g_deviceHeld) {
        platform::AudioDevice::Close();
        g_deviceHeld = false;
    }
}

OrvaAudio::OrvaAudio() = default;

OrvaAudio* OrvaAudio::Create(const char* fileName)
{
    OrvaAudio* audio = new (std::nothrow) OrvaAudio();
    if (audio == nullptr) {
        return nullptr;
    }
    {
        platform::ScopedLock guard(g_audioRing.GetLock());
        g_audioList.PushFront(audio);
    }
    OrvaDebug::Log("○ CreateAudio   / ID [0x%08X] / ", LogId(audio));
    // A refused name (too long) is logged by the ring; the stream stays unloaded.
    g_audioRing.PostName(kCommandLoad, audio, fileName);
    return audio;
}

void OrvaAudio::Play(OrvaAudio* object, int32_t loopFlag)
{
    g_audioRing.PostWord(kCommandPlay, object, static_cast<uint32_t>(loopFlag));
}

void OrvaAudio::Stop(OrvaAudio* object)
{
    g_audioRing.PostWord(kCommandStop, object, 0);
}

void OrvaAudio::Pause(OrvaAudio* object)
{
    g_audioRing.PostWord(kCommandPause, object, 0);
}

void OrvaAudio::SetSpeed(OrvaAudio* object, float percent)
{
    g_audioRing.PostFloat(kCommandSpeed, object, percent);
}

void OrvaAudio::SetVolume(OrvaAudio* object, float percent)
{
    g_audioRing.PostFloat(kCommandVolume, object, percent);
}

void OrvaAudio::SetPan(OrvaAudio* object, float pan)
{
    g_audioRing.PostFloat(kCommandPan, object, pan);
}

void OrvaAudio::PostRelease(OrvaAudio* object)
{
    g_audioRing.PostWord(kCommandRelease, object, 0);
}

int32_t OrvaAudio::IsPlaying(OrvaAudio* object)
{
    if (object == nullptr) {
        return 0;
    }
    platform::ScopedLock guard(g_audioRing.GetLock());
    // A stream whose release was served is gone: do not read it.
    if (!g_audioRing.IsLive(object)) {
        return 0;
    }
    return object->GetPlaying();
}

void OrvaAudio::WaitIdle()
{
    g_audioRing.WaitIdle();
}

void OrvaAudio::SetEventPoster(void (*poster)())
{
    g_eventPoster.store(poster);
}

void OrvaAudio::HandleGraphEvents()
{
    platform::ScopedLock guard(g_audioRing.GetLock());
    for (OrvaObject* object = g_audioList.GetHead(); object != nullptr; object = object->GetNext()) {
        OrvaAudio* audio = AsAudio(object);
        if (audio->loaded == 0) {
            continue;
        }
        int32_t code = 0;
        bool looped = false;
        while (audio->stream->GetEvent(&code, &looped)) {
            if (code != platform::kMediaEventComplete) {
                continue;
            }
            // A looping stream went on from its start inside the mixer, with
            // no gap: the rewind and the run this end asks for are done.
            if (looped && audio->loop != 0) {
                continue;
            }
            audio->stream->Rewind();
            if (audio->loop != 0) {
                // A stream paused after it ran out stays paused, at the start.
                if (audio->paused == 0) {
                    audio->stream->Run();
                }
            } else {
                audio->ExecStop();
            }
        }
    }
}

int32_t OrvaAudio::Load(const char* fileName)
{
    if (loaded != 0) {
        return 1;
    }
    const char* name = fileName != nullptr ? fileName : "";
    OrvaDebug::Log("%s / ", name);
    // The stream is built without the module lock: opening and probing the
    // file may take a while, and nothing else can see it before it is stored.
    platform::MediaOpenResult result = platform::MediaOpenResult::kUnreadable;
    std::unique_ptr<platform::MediaStream> opened;
    std::string path;
    try {
        path = platform::HostPath(name);
    } catch (const std::bad_alloc&) {
        result = platform::MediaOpenResult::kOutOfMemory;
    }
    if (!path.empty()) {
        opened = platform::MediaStream::Open(path.c_str(), &result);
    }
    if (opened == nullptr) {
        switch (result) {
        case platform::MediaOpenResult::kHasVideo:
            OrvaDebug::Log("エラー : 所有者ウィンドウを指定に失敗\n");
            break;
        case platform::MediaOpenResult::kNoAudioDevice:
        case platform::MediaOpenResult::kOutOfMemory:
            OrvaDebug::Log("エラー : DirectShowインターフェースの生成に失敗\n");
            break;
        default:
            OrvaDebug::Log("エラー : ファイル読み込みに失敗\n");
            break;
        }
        return 0;
    }
    opened->SetNotify(NotifyMainThread, nullptr);
    platform::ScopedLock guard(g_audioRing.GetLock());
    earliest = 0;
    latest = opened->GetDuration();
    stream = std::move(opened);
    loaded = 1;
    OrvaDebug::Log("Complete\n");
    return 1;
}

void OrvaAudio::ExecPlay(int32_t loopFlag)
{
    if (loaded == 0) {
        return;
    }
    ExecStop();
    // A looping stream starts its next pass inside the mixer, so the
    // listener hears no gap while the end event makes its way here.
    stream->SetLooping(loopFlag != 0);
    stream->Run();
    playing = 1;
    loop = static_cast<uint32_t>(loopFlag);
    // Running again means not paused, whatever came before.
    paused = 0;
}

void OrvaAudio::ExecStop()
{
    if (loaded == 0 || playing == 0) {
        return;
    }
    stream->Stop();
    stream->SetLooping(false);
    stream->Rewind();
    playing = 0;
    loop = 0;
    // A stopped stream is not paused: the next Pause after a Play must pause.
    paused = 0;
}

int32_t OrvaAudio::GetPlaying()
{
    return static_cast<int32_t>(playing);
}

void OrvaAudio::ExecPause()
{
    if (playing == 0) {
        return;
    }
    if (paused != 0) {
        stream->Run();
    } else {
        stream->Pause();
    }
    paused = paused != 0 ? 0 : 1;
}

void OrvaAudio::ExecSetSpeed(float percent)
{
    // No speed of 0 or less, nor one that is not a number.
    if (loaded == 0 || !std::isfinite(percent) || !(percent > 0.0f)) {
        return;
    }
    stream->SetRate(percent * 0.01);
}

void OrvaAudio::ExecSetVolume(float percent)
{
    if (loaded == 0 || !std::isfinite(percent)) {
        return;
    }
    // The attenuation, in hundredths of a decibel, falls with the square of
    // the distance from full volume.
    double attenuation = 0.0;
    if (percent > 100.0f) {
        attenuation = 0.0;
    } else if (percent < 0.0f) {
        attenuation = -10000.0;
    } else {
        attenuation = -std::pow(100.0, std::log10(100.0 - percent));
    }
    stream->SetVolume(static_cast<int32_t>(std::trunc(attenuation)));
}

void OrvaAudio::ExecSetPan(float pan)
{
    if (loaded == 0 || !std::isfinite(pan)) {
        return;
    }
    double balance = 0.0;
    if (pan > 100.0f) {
        balance = 10000.0;
    } else if (pan < -100.0f) {
        balance = -10000.0;
    } else if (pan > 0.0f) {
        balance = std::pow(100.0, std::log10(static_cast<double>(pan)));
    } else if (pan < 0.0f) {
        balance = -std::pow(100.0, std::log10(-static_cast<double>(pan)));
    }
    stream->SetBalance(static_cast<int32_t>(std::trunc(balance)));
}

OrvaAudio::~OrvaAudio()
{
    if (playing != 0 && loaded != 0) {
        stream->Stop();
        stream->Rewind();
        playing = 0;
        loop = 0;
    }
    // Closing the stream takes it out of the mixer before its memory goes.
    stream.reset();
    OrvaDebug::Log("● ReleaseAudio / ID [0x%08X]\n", LogId(this));
}
