#pragma once
// What the audio-file and movie sources of this folder share over FFmpeg:
// FFmpeg's log routed to ours, error texts, opening a host file for reading,
// seeking back to the start, and the decoder that turns a file's sound into
// the mixer's stereo float frames. Only media_ffmpeg.cpp, video_ffmpeg.cpp
// and ffmpeg_file.cpp include it, so FFmpeg's types stay inside this folder;
// media.h and video.h are what the engine sees.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <cstddef>
#include <string>
#include <vector>

#include "platform/audio/audio.h"

namespace platform {

// Once per process: FFmpeg logs errors only, through stderr with our prefix.
void SetUpFfmpegLog();
std::string ErrorText(int code);

// Opens a host file and reads its stream headers; the name never reaches
// another protocol. Logs and returns the negative FFmpeg code on failure.
int OpenInput(AVFormatContext** format, const char* hostPath);
// Seeks the stream back to its first packet: to firstPacketTime (the
// stream's time base) when known, else to the stream's start, by bytes when
// the container cannot seek by time; false (logged) when nothing works.
// The first packet, not the start: a file whose first packets are decoded
// only to prime the decoder (AAC in MP4, MP3 at low rates) must have them
// decoded again.
bool SeekToStart(AVFormatContext* format, int streamIndex, int64_t firstPacketTime);
// A length given in `base` units as 100-ns ticks; 0 when the file gives
// none, or one too long to hold (a damaged header can claim a million
// years), which readers already take as "not known".
int64_t TicksOf(int64_t value, AVRational base);
// The demuxer hands out the packets of that stream only.
void KeepOnlyStream(AVFormatContext* format, int streamIndex);
// A video stream that is not a still picture (cover art in a music file).
bool IsPicture(const AVStream* stream);
// Reads the file's next packet into the decoder when it belongs to the
// stream (true), and gives its time (pts, else dts; the stream's time base)
// in packetTime when asked. At the end of the file the decoder is told so
// (it then hands out what it holds, then its end) and demuxerDone is set.
bool FeedDecoder(AVFormatContext* format, AVCodecContext* codec, AVPacket* packet, int streamIndex,
                 bool* demuxerDone, int64_t* packetTime = nullptr);

// The sound of a file decoded to stereo float frames at kAudioRate, a packet
// at a time, for a source that plays it from the mixer's pull. Not locked:
// the owner serialises every call.
//
// Every pass from the start gives the samples the first pass gave: a seek
// back can land on a packet that the opening had trimmed (Opus's pre-skip)
// or lose the end's trimming (Vorbis), so samples timed before the first
// pass's first sample are dropped and no pass runs longer than the first
// one that played to its end. Until such a pass has ended, going back opens
// the file again, which repeats the opening exactly. A pass of at most
// kKeptPassFrames is kept whole once decoded and played again from memory,
// so a short loop costs no seek, decode or conversion per pass.
class SoundDecoder {
public:
    enum class OpenResult { kOk, kUnreadable, kHasVideo, kNoSound, kOutOfMemory };

    // The sound the mixer plays sensibly: rates far from its own would make
    // one sample thousands of frames, or thousands of samples one frame.
    static constexpr int kMinRate = 4000;    // Hz
    static constexpr int kMaxRate = 192000;  // Hz
    static constexpr int kMaxChannels = 8;
    static constexpr size_t kKeptPassFrames = kAudioRate / 4;

    SoundDecoder() = default;
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    // Opens the file's best audio stream and its decoder (logged when it
    // fails). refuseVideo: a file with a picture gives kHasVideo.
    OpenResult Open(const char* hostPath, bool refuseVideo);
    bool IsOpen() const { return codec != nullptr; }
    // Length of the file in 100-ns units; 0 when the file does not say.
    int64_t GetDuration() const;

    // Frames decoded and not yet consumed, and the first of them.
    size_t Available() const;
    const float* Next() const { return pending.data() + readFrame * kAudioChannels; }
    // Moves past frames that were played; may go past what is available
    // (those are dropped at the next decode).
    void Consume(size_t frames);
    // Decodes until more frames are available; false once the sound is used
    // up or cannot be decoded further.
    bool DecodeMore();
    // True once the decoder has given everything it will.
    bool IsFinished() const { return decoderDone; }

    // Back to the first frame with the resampler's history dropped; false
    // (nothing changed) when the file cannot seek.
    bool Rewind();
    // Gives up on the sound: nothing more is decoded until a rewind.
    void Finish();

private:
    size_t PendingFrames() const { return pending.size() / kAudioChannels; }
    void Close();
    bool Reopen();
    bool SetUpResampler(const AVFrame* from);
    bool ConvertFrame();
    // Appends up to `room` resampled frames to pending; null input drains.
    bool Convert(const uint8_t** input, int inputFrames, int room);
    void DrainResampler();
    // The decoder has given the whole pass: the converter's tail follows it.
    void EndPass();

    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    // What the resampler was set up for; a stream may change it midway.
    AVChannelLayout inLayout = {};
    int inRate = 0;
    int inFormat = -1;
    // 1 for a mono file, which is then played at full level on both sides.
    int outChannels = 2;
    std::vector<float> pending;   // stereo frames at kAudioRate
    std::vector<float> converted;
    size_t readFrame = 0;
    bool demuxerDone = false;
    bool decoderDone = false;

    // What the opening gave, in the stream's time base (either may be
    // AV_NOPTS_VALUE, the file not saying) and its samples.
    bool sawFirstPacket = false;
    bool sawFirstSample = false;
    int64_t firstPacketTime = AV_NOPTS_VALUE;
    int64_t firstSampleTime = AV_NOPTS_VALUE;
    int64_t passLength = -1;  // samples of the first pass that ended; -1 before
    // The pass under way.
    int64_t passSamples = 0;   // samples handed to the converter
    bool passFromOpen = true;  // began at the opening (or a new one), not a seek
    bool trimLeading = false;  // drop samples timed before firstSampleTime
    bool atStart = true;       // nothing consumed yet
    bool keeping = true;       // pending still holds every frame of the pass
    bool kept = false;         // pending holds the whole pass
};

}  // namespace platform
