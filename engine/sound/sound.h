#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>

#include "engine/core/object.h"

namespace platform {
class SoundBuffer;
struct WaveFormat;
enum class EffectKind : int32_t;
}  // namespace platform

// Whole sounds held in memory, from WAV files, built-in "WAVE" resources or
// OSD sound packs, played with volume, pan, looping, pause and the standard
// effects.
//
// Threads: Initialize, Destroy, Create, CreateFromPack, the posters (Play,
// Stop, Pause, SetVolume, SetPan, the effect setters, PostRelease), WaitIdle
// and IsPlaying run on the main thread; LoadWave, LoadFromPack, the Exec
// operations and the destructor run on the module's worker, which also sets
// up and tears down the sound device. IsPlaying calls GetPlaying under the
// module lock, which the worker holds while it runs a command.
class OrvaSound : public OrvaObject {
public:
    // Starts the worker, which opens the sound device; 1 once it serves.
    static int32_t Initialize();
    // Stops the worker, which releases every sound still alive and then the
    // device.
    static void Destroy();

    // Return a new sound at once and post its load; the sound stays silent
    // and unloaded when the data cannot be played. Null only when memory runs
    // out. A file name may have 255 bytes, a pack and entry name 127 each.
    static OrvaSound* Create(const char* fileName);
    static OrvaSound* CreateFromPack(const char* packFile, const char* entryName);

    // Posters: each queues one command for the worker and returns; a null
    // object is ignored. Commands are served in posting order.
    static void Play(OrvaSound* object, int32_t loop);
    static void Stop(OrvaSound* object);
    static void Pause(OrvaSound* object);
    static void SetVolume(OrvaSound* object, float percent);
    static void SetPan(OrvaSound* object, float pan);
    // Setting or clearing effects restarts a playing sound from its start.
    static void ClearEffects(OrvaSound* object);
    static void SetReverb(OrvaSound* object, int32_t preset);
    static void SetEcho(OrvaSound* object);
    static void SetChorus(OrvaSound* object);
    static void SetCompressor(OrvaSound* object);
    static void SetDistortion(OrvaSound* object);
    static void SetFlanger(OrvaSound* object);
    static void SetGargle(OrvaSound* object);
    static void SetParamEq(OrvaSound* object);
    // Releases the sound on the worker after the commands posted before.
    static void PostRelease(OrvaSound* object);

    // 1 while the sound is heard and not looping, else 0.
    static int32_t IsPlaying(OrvaSound* object);
    // Returns when the worker has served every command posted so far.
    static void WaitIdle();

    // The readers LoadWave and LoadFromPack take their data through; any
    // thread, no device needed.
    // Finds the format and the sample bytes, [*dataOffset, *dataOffset +
    // *dataSize), of a RIFF WAVE image of `size` bytes. Every chunk before
    // the data must lie inside the image; data said to run past its end (as
    // recorders that stream leave it) is what the image holds. False when the
    // image is not a WAVE we can read.
    static bool ParseWave(const uint8_t* bytes, size_t size, platform::WaveFormat* format, size_t* dataOffset,
                          uint32_t* dataSize);
    // Finds the first entry named `entryName` in the OSD pack open as `file`:
    // its stored format and sample size, with the file left at its first
    // sample byte. False, with the load's error line logged, when the file is
    // no pack or the entry is missing, empty, cut short or of a format that
    // cannot be read.
    static bool FindPackEntry(std::FILE* file, const char* entryName, platform::WaveFormat* format, uint32_t* size);

    virtual int32_t LoadFromPack(const char* packFile, const char* entryName);
    virtual int32_t LoadWave(const char* name);
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
    OrvaSound();
    ~OrvaSound() override;

private:
    // Makes `buffer` in the format, filled by `fill` (which gets the locked
    // bytes and returns false when it could not fill them); the error lines
    // start with `indent`.
    bool MakeBuffer(const platform::WaveFormat& format, uint32_t bytes, const char* indent,
                    bool (*fill)(void* target, uint32_t bytes, void* context), void* context);
    // Sets the sound's effects to none or one (with a reverb preset when not
    // null), restarting it when it was being heard.
    void ReplaceEffects(const platform::EffectKind* kind, const int32_t* preset);
    int32_t LoadFromOpenPack(std::FILE* file, const char* entryName);
    void FinishLoad();

    std::unique_ptr<platform::SoundBuffer> buffer;
    uint32_t loaded = 0;
    uint32_t playing = 0;
    uint32_t loop = 0;
    uint32_t paused = 0;
};
