#pragma once
#include <cstdint>
#include <memory>

#include "engine/core/object.h"

namespace platform {
class MidiSong;
class MidiSynth;
}  // namespace platform

// MIDI music: each object a song played by a General MIDI synthesizer of its
// own, with volume, pan, looping, pause and one output effect.
//
// Threads: Initialize, Destroy, Create, the posters (PostRelease, Play, Stop,
// Pause, SetVolume, SetPan, ClearEffects and the effect setters), WaitIdle
// and IsPlaying run on the main thread; Load, the Exec operations, the module
// set-up and tear-down and the destructor run on the module's worker.
// IsPlaying holds the module lock, as the worker does while it runs a
// command; the mixer renders the synthesizers on its own thread.
class OrvaMusic : public OrvaObject {
public:
    // What a load reports as the object's memory use.
    static constexpr uint32_t kObjectBytes = 76;

    // Starts the worker, which finds the SoundFont and starts the module's
    // synthesizer; 1 once it serves, also when that set-up failed (then every
    // load fails in its turn).
    static int32_t Initialize();
    // Stops the worker, which releases every music object still alive.
    static void Destroy();

    // Returns a new object at once and posts its load: a built-in "MIDI" (or
    // raw-data) resource of that name, else a file. The object stays silent
    // and unloaded when the load fails. Null only when memory runs out.
    static OrvaMusic* Create(const char* fileName);

    // Posters: each queues one command for the worker and returns; a null
    // object is ignored. Commands for one object are served in posting order.
    static void PostRelease(OrvaMusic* object);
    static void Play(OrvaMusic* object, int32_t loop);
    static void Stop(OrvaMusic* object);
    // Holds the music where it is; the next Pause goes on from there.
    static void Pause(OrvaMusic* object);
    static void SetVolume(OrvaMusic* object, float percent);  // 0 to 100
    static void SetPan(OrvaMusic* object, float pan);         // -100 (left) to 100 (right)
    // Setting or clearing an effect restarts playing music from its start.
    static void ClearEffects(OrvaMusic* object);
    static void SetReverb(OrvaMusic* object, int32_t preset);  // room preset, 0 to 29
    static void SetEcho(OrvaMusic* object);
    static void SetChorus(OrvaMusic* object);
    static void SetCompressor(OrvaMusic* object);
    static void SetDistortion(OrvaMusic* object);
    static void SetFlanger(OrvaMusic* object);
    static void SetGargle(OrvaMusic* object);
    static void SetParamEq(OrvaMusic* object);

    // 1 from Play until Stop or the end of music that does not loop (paused
    // included), else 0.
    static int32_t IsPlaying(OrvaMusic* object);
    // Returns when the worker has served every command posted so far.
    static void WaitIdle();

    virtual int32_t Load(const char* name);
    virtual void ExecPlay(int32_t loopFlag);
    virtual void ExecStop();
    virtual int32_t GetPlaying();
    virtual void ExecPause();
    virtual void ExecSetVolume(float percent);
    virtual void ExecSetPan(float pan);
    virtual void ExecClearEffects();
    virtual void ExecSetReverb(int32_t preset);
    virtual void ExecSetEcho();
    virtual void ExecSetChorus();
    virtual void ExecSetCompressor();
    virtual void ExecSetDistortion();
    virtual void ExecSetFlanger();
    virtual void ExecSetGargle();
    virtual void ExecSetParamEq();

protected:
    OrvaMusic();
    ~OrvaMusic() override;

private:
    // Stops playing music, replaces its effect (kind -1: none) and plays it
    // again from its start as it played before.
    void ApplyEffect(int32_t kind, int32_t preset);

    std::unique_ptr<platform::MidiSynth> performance;
    std::unique_ptr<platform::MidiSong> segment;
    int64_t startPoint = 0;  // frames into the song where the next play starts
    uint32_t loaded = 0;
    uint32_t playing = 0;
    uint32_t loop = 0;
    uint32_t paused = 0;
};
