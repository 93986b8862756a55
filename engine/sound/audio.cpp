#include "engine/sound/audio.h"

#include <atomic>
#include <cmath>
#include <new>
#include <string>

#include "engine/core/application.h"
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

static OrvaObjectList& AudioList();

static OrvaAudio* AsAudio(OrvaObject* object)
{
    return static_cast<OrvaAudio*>(object);
}

// Indexed by AudioCommand; quit is handled by the ring itself.
static const OrvaCommandEntry kAudioCommands[] = {
    {OrvaRunCommand<&OrvaAudio::Load>, true},
    {OrvaRunRelease, false},
    {OrvaRunCommand<&OrvaAudio::ExecPlay>, false},
    {nullptr, false},
    {OrvaRunCommand<&OrvaAudio::ExecStop>, false},
    {OrvaRunCommand<&OrvaAudio::ExecPause>, false},
    {OrvaRunCommand<&OrvaAudio::ExecSetSpeed>, false},
    {OrvaRunCommand<&OrvaAudio::ExecSetVolume>, false},
    {OrvaRunCommand<&OrvaAudio::ExecSetPan>, false},
};
static_assert(sizeof kAudioCommands / sizeof kAudioCommands[0] == kCommandQuit);

static const OrvaWorkerModule kAudioModule = {
    "orva-audio",
    "\n============================================== Initialize DirectShow(Audio)\n",
    "\n============================================== Destroy DirectShow(Audio)\n",
    kAudioCommands,
    sizeof kAudioCommands / sizeof kAudioCommands[0],
    kCommandQuit,
    AudioList,
    nullptr,
    nullptr,
};

static OrvaCommandRing g_audioRing(kAudioModule);

static OrvaObjectList& AudioList()
{
    return OrvaWorkerModuleList<g_audioRing, OrvaModule::Audio>();
}

static std::atomic<void (*)()> g_eventPoster{nullptr};
static bool g_deviceHeld = false;

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
    if (!g_audioRing.Adopt(audio, "○ CreateAudio   / ID [0x%08X] / ")) {
        return nullptr;
    }
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
    return g_audioRing.IsPlaying(object);
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
    for (OrvaObject* object = AudioList().GetHead(); object != nullptr; object = object->GetNext()) {
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
    // A relative name is taken from the program's folder, whatever folder
    // was current before.
    OrvaApplication::SetCurrentDirectory();
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
    stream->SetVolume(OrvaVolumeToAttenuation(percent));
}

void OrvaAudio::ExecSetPan(float pan)
{
    if (loaded == 0 || !std::isfinite(pan)) {
        return;
    }
    stream->SetBalance(OrvaPanToBalance(pan));
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
    OrvaDebug::Log("● ReleaseAudio / ID [0x%08X]\n", OrvaCommandRing::LogId(this));
}
