#pragma once
#include <cstdint>
#include <memory>

#include "engine/core/object.h"

namespace platform {
class MediaStream;
}

// Streamed audio: music files decoded as they play, one stream per object.
//
// Threads: Initialize, Destroy, Create, the posters (Play, Stop, Pause,
// SetSpeed, SetVolume, SetPan, PostRelease), WaitIdle, IsPlaying and
// HandleGraphEvents run on the main thread; Load, the Exec operations and the
// destructor run on the module's worker; IsPlaying and HandleGraphEvents
// hold the module lock, as the worker does while it runs a command. The event
// poster is called on the mixer's thread.
class OrvaAudio : public OrvaObject {
public:
    // The window message that asks the main thread to call HandleGraphEvents.
    static constexpr uint32_t kGraphEventMessage = 0x0400 + 1;

    // Starts the worker; 1 once it serves.
    static int32_t Initialize();
    // Stops the worker, which releases every stream still alive.
    static void Destroy();

    // Returns a new stream at once and posts its load; the stream stays
    // silent and unloaded when the file cannot be played. Null only when
    // memory runs out.
    static OrvaAudio* Create(const char* fileName);

    // Posters: each queues one command for the worker and returns; a null
    // object is ignored. Commands for one stream are served in posting order.
    static void Play(OrvaAudio* object, int32_t loop);
    static void Stop(OrvaAudio* object);
    static void Pause(OrvaAudio* object);
    static void SetSpeed(OrvaAudio* object, float percent);
    static void SetVolume(OrvaAudio* object, float percent);
    static void SetPan(OrvaAudio* object, float pan);
    // Releases the stream on the worker after the commands posted before.
    static void PostRelease(OrvaAudio* object);

    // 1 while the stream plays (paused included), else 0.
    static int32_t IsPlaying(OrvaAudio* object);
    // Restarts looping streams that reached their end and stops the others.
    static void HandleGraphEvents();
    // Returns when the worker has served every command posted so far.
    static void WaitIdle();
    // Installs what asks for kGraphEventMessage to reach the main thread when
    // a stream reaches its end; called on the mixer's thread, it must only
    // post. Null installs nothing.
    static void SetEventPoster(void (*poster)());

    virtual int32_t Load(const char* fileName);
    virtual void ExecPlay(int32_t loopFlag);
    virtual void ExecStop();
    virtual int32_t GetPlaying();
    virtual void ExecPause();
    virtual void ExecSetSpeed(float percent);
    virtual void ExecSetVolume(float percent);
    virtual void ExecSetPan(float pan);

protected:
    OrvaAudio();
    ~OrvaAudio() override;

private:
    std::unique_ptr<platform::MediaStream> stream;
    int64_t earliest = 0;  // 100-ns units
    int64_t latest = 0;    // 100-ns units
    uint32_t loaded = 0;
    uint32_t playing = 0;
    uint32_t loop = 0;
    uint32_t paused = 0;
};
