#pragma once
// Movies: pictures decoded into a frame buffer in a chosen pixel format,
// timed by their sound.
#include <cstdint>
#include <memory>

namespace platform {

// Pixel formats a movie's frames can be delivered in, by the numbers the
// graphics device gives its formats.
enum VideoPixelFormat : uint32_t {
    kVideoA8R8G8B8 = 21,
    kVideoX8R8G8B8 = 22,
    kVideoR5G6B5 = 23,
    kVideoX1R5G5B5 = 24,
    kVideoA1R5G5B5 = 25,
    kVideoA4R4G4B4 = 26,
};

enum class VideoOpenResult {
    kOk,
    // Missing, empty, unreadable, not a media file, or no frame decodes.
    kUnreadable,
    // A media file without a picture (sound only, or a cover image only).
    kNoVideo,
    // Wider or taller than VideoStream::kMaxSize.
    kTooLarge,
    // Not one of the VideoPixelFormat values.
    kBadFormat,
    kNoAudioDevice,
    kOutOfMemory,
};

// A movie file: its picture decoded on the caller's thread into one frame
// buffer, its sound (when it has any) played by the mixer of AudioDevice.
//
// Time: the movie's clock is its place in the mixer's output as far as the
// listener has heard it, counted while it runs (past the end of its sound
// too, as silence), so picture and sound cannot drift apart; it moves
// smoothly through each device period (AudioDevice::GetPlayedFrames), so
// that every picture of a fast movie gets its turn. Rendering by hand on
// the null device, time moves only as the mix is rendered, which is what
// lets a test ask for the picture at an exact moment.
//
// Every operation but the mixer's pull runs on one thread, the one that
// opened the stream. A new stream is stopped at time 0 and its frame buffer
// already holds the first picture.
class VideoStream {
public:
    enum class State { kStopped, kRunning };

    // Larger movies are refused: a frame of them would not fit any texture.
    static constexpr int32_t kMaxSize = 4096;  // pixels per side

    static bool IsFormatSupported(uint32_t format);
    // Bytes per pixel of a supported format, else 0.
    static int32_t FormatBytes(uint32_t format);

    // Opens the movie at a host path, its frames to be delivered in `format`.
    // result (when not null) says why a movie did not open.
    static std::unique_ptr<VideoStream> Open(const char* hostPath, uint32_t format, VideoOpenResult* result);
    ~VideoStream();

    // Size of the picture; every frame is delivered at this size.
    int32_t GetWidth() const;   // pixels
    int32_t GetHeight() const;  // pixels
    uint32_t GetFormat() const;
    // Delivers frames in another format from now on, the frame buffer
    // converted at once; false (and nothing changed) for an unsupported one.
    bool SetFormat(uint32_t format);
    // Length of the movie in 100-ns units; 0 when the file does not say.
    int64_t GetDuration() const;
    // True when the movie's sound decodes and reaches the mixer.
    bool HasSound() const;

    // Starts or resumes the clock and the sound.
    void Run();
    // Holds the clock and silences the sound; the place is kept.
    void Stop();
    State GetState() const;
    // Back to time 0, picture and sound; the next UpdateFrame delivers the
    // first picture. False when the file could not seek.
    bool Rewind();
    // The movie's clock in 100-ns units.
    int64_t GetTime() const;
    // True once the last picture has been shown for its time and the sound
    // has been played to its end, whatever the file says of its length.
    // UpdateFrame finds the last picture.
    bool HasEnded();

    // Decodes up to the picture due at the current time and converts it into
    // the frame buffer. True when the frame buffer changed; false when the
    // picture shown is still the one due (or the movie has no more).
    bool UpdateFrame();
    // The frame buffer: GetHeight rows of GetWidth pixels in GetFormat, rows
    // pitch bytes apart; valid until the next call that changes it.
    const uint8_t* GetFrame(int32_t* pitch) const;

    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

private:
    struct Impl;
    explicit VideoStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

}  // namespace platform
