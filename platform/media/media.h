#pragma once
// Audio files played as streams into the mixer.
#include <cstdint>
#include <memory>

namespace platform {

enum class MediaOpenResult {
    kOk,
    // Missing, empty, unreadable, not a media file, or no decodable audio.
    kUnreadable,
    // The file has a picture stream that is not just cover art.
    kHasVideo,
    kNoAudioDevice,
    kOutOfMemory,
};

// Event codes a stream queues for its owner.
constexpr int32_t kMediaEventComplete = 1;

// An audio file playing into the mixer of AudioDevice. Control runs on any
// thread; the mixer decodes on its own thread as it plays. A new stream is
// stopped at the start of the file.
class MediaStream {
public:
    enum class State { kStopped, kPaused, kRunning };
    using Notify = void (*)(void* user);

    // Opens the file at a host path. Only files with audio and without video
    // open; result (when not null) says why one did not.
    static std::unique_ptr<MediaStream> Open(const char* hostPath, MediaOpenResult* result);
    ~MediaStream();

    // Plays from the current position.
    void Run();
    // Holds the position and plays silence until Run.
    void Pause();
    // Plays silence and keeps the position; Rewind goes back to the start.
    void Stop();
    State GetState() const;
    // Goes back to the start of the file; true when the file could seek. A
    // stream that had reached its end plays again when running; end events
    // not yet taken are dropped with the pass they ended.
    bool Rewind();

    // Playback speed as a factor (2 plays twice as fast, an octave up);
    // false and ignored unless 0 < rate <= kMaxRate.
    bool SetRate(double rate);
    static constexpr double kMaxRate = 16.0;
    // Attenuation in hundredths of a decibel, -10000 (silent) to 0 (full);
    // false and ignored outside that range.
    bool SetVolume(int32_t hundredthsDb);
    // Attenuation of one side in hundredths of a decibel: -10000 silences the
    // right, 10000 the left, 0 plays both at full; false outside that range.
    bool SetBalance(int32_t hundredthsDb);
    // Length of the file in 100-ns units; 0 when the file does not say.
    int64_t GetDuration() const;
    // When set, a running stream that reaches the end of the file goes on
    // from its start inside the mixer, in the same pull, so the listener
    // hears no gap; the end event is queued all the same, marked looped,
    // once until it is taken however many passes end meanwhile. Off for a
    // new stream. A file that cannot seek ends as without it.
    void SetLooping(bool looping);

    // Called once, on the mixer's thread and with nothing locked, whenever an
    // event is queued: it must only hand word on (post a message, set a flag)
    // and must not call back into this stream.
    void SetNotify(Notify notify, void* user);
    // Takes the oldest queued event; false when there is none. looped (when
    // not null) says whether the stream had already gone on from its start
    // by itself (SetLooping), so that nothing is left to restart.
    bool GetEvent(int32_t* code, bool* looped = nullptr);

    MediaStream(const MediaStream&) = delete;
    MediaStream& operator=(const MediaStream&) = delete;

private:
    struct Impl;
    explicit MediaStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

}  // namespace platform
