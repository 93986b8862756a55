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
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/audio.h"

namespace platform {

// Once per process: FFmpeg logs errors only, through stderr with our prefix.
void SetUpFfmpegLog();
std::string ErrorText(int code);

// Opens a host file, only when it is a regular file, and reads its stream
// headers; the name never reaches another protocol. Logs and returns the
// negative FFmpeg code on failure. What it opens is closed by CloseInput.
int OpenInput(AVFormatContext** format, const char* hostPath);
void CloseInput(AVFormatContext** format);
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

class VorbisFile;

// The sound of a file decoded to stereo float frames at kAudioRate, a packet
// at a time, for a source that plays it from the mixer's pull. Not locked:
// the owner serialises every call.
//
// Two stages: the decoder's samples become float frames at the file's own
// rate, then one rate converter takes them to the mixer's. The converter
// lives as long as the rate does, across the passes of a loop: draining it
// at a pass's end and starting it empty would flatten the pass's last
// frames and jump into the next.
//
// Every pass from the start gives the samples the first pass gave: a seek
// back can land on a packet that the opening had trimmed (Opus's pre-skip)
// or lose the end's trimming, so samples timed before the first pass's first
// sample are dropped and no pass runs longer than the first one that played
// to its end. Until such a pass has ended, going back opens the file again,
// which repeats the opening exactly. Ogg Vorbis files are read by the
// reference decoder, whose seek to the start is exact. A pass of at most a
// quarter of a second is kept whole once decoded and played again from
// memory, so a short loop costs no seek or decode per pass.
class SoundDecoder {
public:
    enum class OpenResult { kOk, kUnreadable, kHasVideo, kNoSound, kOutOfMemory };

    // The sound the mixer plays sensibly: rates far from its own would make
    // one sample thousands of frames, or thousands of samples one frame.
    static constexpr int kMinRate = 4000;    // Hz
    static constexpr int kMaxRate = 192000;  // Hz
    static constexpr int kMaxChannels = 8;
    static constexpr size_t kKeptPassFrames = kAudioRate / 4;  // at the mixer's rate

    SoundDecoder();
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    // Opens the file's best audio stream and its decoder (logged when it
    // fails). refuseVideo: a file with a picture gives kHasVideo.
    OpenResult Open(const char* hostPath, bool refuseVideo);
    bool IsOpen() const { return codec != nullptr || vorbis != nullptr; }
    // Length of the file in 100-ns units; 0 when the file does not say.
    int64_t GetDuration() const { return durationTicks; }

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

    // Looping, the end of a pass is followed at once by the next pass from
    // the start, through the same rate converter, so a file that loops
    // seamlessly plays seamlessly. Decided when the frames run out, so
    // turning it off makes the pass under way the last. A file that cannot
    // seek ends as without it.
    void SetLooping(bool on) { looping = on; }
    // How many passes have ended, looping, within the frames consumed since
    // the last call: a pass has ended once the first frame of the next one
    // was consumed.
    int TakePassEnds();

    // Back to the first frame with the rate converter's history dropped;
    // false (nothing changed) when the file cannot seek.
    bool Rewind();
    // Gives up on the sound: nothing more is decoded until a rewind.
    void Finish();

private:
    size_t PendingFrames() const { return pending.size() / kAudioChannels; }
    void Close();
    bool Reopen();
    // One step of the source: a frame or packet of the decoder, or a block
    // of the kept pass. False at the end of the pass or when decoding fails
    // (sourceFailed).
    bool ReadSource();
    bool ReadFfmpeg();
    bool ReadVorbis();
    bool ReadKept();
    // Samples of the pass (planes as the decoder gives them) through both
    // stages; skip: leading samples to drop.
    bool TakeSamples(const uint8_t* const* planes, const AVChannelLayout& layout, int sampleFormat, int rate,
                     int count, int skip);
    bool SetUpMixer(const AVChannelLayout& layout, int sampleFormat, int rate);
    // Source-rate frames (outChannels each) into the rate converter.
    bool Resample(const float* frames, int count, int rate);
    bool SetUpResampler(int rate);
    // Appends up to `room` frames of the converter to pending; null input
    // drains.
    bool Convert(const uint8_t** input, int inputFrames, int room);
    void DrainResampler();
    // The source has given the whole pass: the next one follows, looping,
    // else the converter's tail ends the sound.
    void EndPass();
    // The source back at the pass's first sample, without touching the
    // converter; false when it cannot seek.
    bool RestartSource();

    std::string path;
    int64_t durationTicks = 0;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    std::unique_ptr<VorbisFile> vorbis;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    // 1 for a mono file, which is then played at full level on both sides.
    int outChannels = 2;

    // First stage: the decoder's samples as float frames at their own rate,
    // for what it was set up for (a stream may change it midway).
    SwrContext* mixer = nullptr;
    AVChannelLayout mixerLayout = {};
    int mixerFormat = -1;
    int mixerRate = 0;
    std::vector<float> sourceFrames;
    // Second stage: the rate converter, null while the rate is the mixer's.
    SwrContext* resampler = nullptr;
    int resamplerRate = 0;        // its input rate; 0 before the first frames
    bool resamplerDrained = false;
    int64_t resampledInput = 0;   // source frames it took since set up
    int64_t resampledBase = 0;    // frames produced before it was set up

    std::vector<float> pending;   // stereo frames at kAudioRate
    std::vector<float> converted;
    size_t readFrame = 0;
    int64_t producedFrames = 0;   // appended to pending since the rewind
    int64_t consumedFrames = 0;   // consumed since the rewind
    // Where passes after the first began, in produced frames, and the ends
    // that fell out of that list (due already).
    std::vector<int64_t> passStarts;
    int passEndsDue = 0;

    bool demuxerDone = false;
    bool sourceDone = false;      // the pass under way has given every sample
    bool sourceFailed = false;
    bool decoderDone = false;
    bool looping = false;

    // What the opening gave, in the stream's time base (either may be
    // AV_NOPTS_VALUE, the file not saying) and its samples.
    bool sawFirstPacket = false;
    bool sawFirstSample = false;
    int64_t firstPacketTime = AV_NOPTS_VALUE;
    int64_t firstSampleTime = AV_NOPTS_VALUE;
    int64_t endTime = AV_NOPTS_VALUE;  // past the last sample the container holds
    int64_t passLength = -1;  // samples of the first pass that ended; -1 before
    // The pass under way.
    int64_t passSamples = 0;   // samples taken from the source
    bool passFromOpen = true;  // began at the opening (or a new one), not a seek
    bool trimLeading = false;  // drop samples timed before firstSampleTime
    bool atStart = true;       // nothing consumed yet

    // The first stage's frames of a whole pass, while it is short enough.
    std::vector<float> keptFrames;
    int keptRate = 0;
    bool keeping = true;       // keptFrames holds every frame of the pass so far
    bool kept = false;         // keptFrames holds a whole pass
    bool replaying = false;    // the pass under way comes from keptFrames
    size_t keptAt = 0;         // next frame of it
};

}  // namespace platform
