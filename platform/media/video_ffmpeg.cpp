#include "platform/media/video.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/media/ffmpeg_file.h"
#include "platform/sys/printable.h"

// The picture is decoded on the caller's thread, one frame ahead of the
// clock at most; the sound is decoded on the mixer's thread as it is pulled,
// from a second opening of the file. Two demuxers read the file twice, but
// neither side ever waits for or queues packets on behalf of the other, so
// the threads share nothing but the clock.
namespace platform {

static constexpr int64_t kTicksPerSecond = 10000000;  // 100-ns units
static constexpr AVRational kTickBase = {1, static_cast<int>(kTicksPerSecond)};

bool VideoStream::IsFormatSupported(uint32_t format)
{
    return format >= kVideoA8R8G8B8 && format <= kVideoA4R4G4B4;
}

int32_t VideoStream::FormatBytes(uint32_t format)
{
    if (format == kVideoA8R8G8B8 || format == kVideoX8R8G8B8) {
        return 4;
    }
    return IsFormatSupported(format) ? 2 : 0;
}

// The layout swscale writes for a format; the 16-bit ones are native-endian
// words with red in the high bits, as the device keeps them.
static AVPixelFormat ScalerFormat(uint32_t format)
{
    switch (format) {
    case kVideoR5G6B5:
        return AV_PIX_FMT_RGB565LE;
    case kVideoX1R5G5B5:
    case kVideoA1R5G5B5:
        return AV_PIX_FMT_RGB555LE;
    case kVideoA4R4G4B4:
        return AV_PIX_FMT_RGB444LE;
    default:
        return AV_PIX_FMT_BGRA;
    }
}

// A field of a decoded picture copied from the file as it stands: a
// damaged file can put any number into an enum that names only a few, and
// loading that as the enum is undefined, so it is read as the integer it is.
template <typename Enum>
static int RawEnum(const Enum& field)
{
    static_assert(sizeof(Enum) == sizeof(int), "FFmpeg's enums are ints");
    int value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The movie's sound, and the movie's clock: frames pulled while running,
// read as far as the listener has heard them. Everything here is under
// lock; Pull runs on the mixer's thread.
class SoundTrack final : public AudioSource {
public:
    ~SoundTrack() override
    {
        // First out of the mixer: after this no pull is running or to come.
        if (attached) {
            AudioDevice::RemoveSource(this);
            AudioDevice::Close();
        }
    }

    // Sets up decoding of the file's sound. A movie whose sound does not
    // decode still plays its picture; the clock runs on silence.
    void OpenDecoder(const char* hostPath)
    {
        const SoundDecoder::OpenResult result = decoder.Open(hostPath, false);
        if (result != SoundDecoder::OpenResult::kOk && result != SoundDecoder::OpenResult::kNoSound) {
            std::fprintf(stderr, "media: %s: the sound cannot be decoded; the picture plays alone\n",
                         PrintableText(hostPath).c_str());
        }
    }

    bool Attach()
    {
        if (!AudioDevice::Open()) {
            return false;
        }
        if (!AudioDevice::AddSource(this)) {
            AudioDevice::Close();
            return false;
        }
        attached = true;
        return true;
    }

    bool HasSound() const { return decoder.IsOpen(); }

    void SetRunning(bool on)
    {
        std::lock_guard<std::mutex> guard(lock);
        running = on;
    }

    bool IsRunning() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return running;
    }

    // The frames of the movie heard by now: those of the last block pulled
    // less the ones of them the device has still to play; never back.
    int64_t GetTime()
    {
        const uint64_t played = AudioDevice::GetPlayedFrames();
        std::lock_guard<std::mutex> guard(lock);
        const uint64_t ahead = anchorOutput > played ? anchorOutput - played : 0;
        heardFrames = std::max(heardFrames, clockFrames > ahead ? clockFrames - ahead : 0);
        return Ticks(heardFrames);
    }

    // The time at which the sound has been played out; false while it has
    // not run out yet. A movie without sound runs out at once.
    bool GetEndTime(int64_t* ticks) const
    {
        std::lock_guard<std::mutex> guard(lock);
        *ticks = Ticks(endFrames);
        return ranOut;
    }

    void Rewind()
    {
        std::lock_guard<std::mutex> guard(lock);
        clockFrames = 0;
        heardFrames = 0;
        anchorOutput = 0;
        ranOut = false;
        if (decoder.IsOpen() && !decoder.Rewind()) {
            // Without a seek the sound has nothing more to give.
            decoder.Finish();
        }
    }

    void Pull(float* out, size_t frames) override
    {
        size_t written = 0;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (running) {
                written = Produce(out, frames);
                // Decoding on at once when the pull took the last frame
                // decoded tells an end that falls on the pull's edge.
                if (!ranOut && (written < frames || (decoder.Available() == 0 && !decoder.DecodeMore()))) {
                    ranOut = true;
                    endFrames = clockFrames + written;
                }
                clockFrames += frames;
                anchorOutput = AudioDevice::GetPullFrame() + frames;
            }
        }
        std::fill(out + written * kAudioChannels, out + frames * kAudioChannels, 0.0f);
    }

private:
    static int64_t Ticks(uint64_t frames)
    {
        return static_cast<int64_t>(frames * static_cast<uint64_t>(kTicksPerSecond) / kAudioRate);
    }

    size_t Produce(float* out, size_t frames)
    {
        size_t written = 0;
        while (written < frames) {
            const size_t available = decoder.Available();
            if (available == 0) {
                if (!decoder.DecodeMore()) {
                    break;
                }
                continue;
            }
            const size_t count = std::min(available, frames - written);
            std::memcpy(out + written * kAudioChannels, decoder.Next(), count * kAudioChannels * sizeof(float));
            decoder.Consume(count);
            written += count;
        }
        return written;
    }

    mutable std::mutex lock;
    SoundDecoder decoder;
    bool attached = false;
    bool running = false;
    uint64_t clockFrames = 0;   // frames at kAudioRate pulled since time 0
    uint64_t anchorOutput = 0;  // the output frame at which the last pull ended
    uint64_t heardFrames = 0;   // the clock as last read
    bool ranOut = false;        // the sound has given its last frame
    uint64_t endFrames = 0;     // the clock where it did
};

struct VideoStream::Impl {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwsContext* scaler = nullptr;
    // What scaler converts: rebuilt when a picture differs from it.
    struct ScalerKey {
        int width;
        int height;
        int format;
        int colorspace;
        int fullRange;
        uint32_t pixelFormat;
    } scalerKey = {};
    AVPacket* packet = nullptr;
    AVFrame* shown = nullptr;  // the picture in the frame buffer
    AVFrame* next = nullptr;   // decoded, not yet due
    int streamIndex = -1;
    AVRational timeBase = {1, 1};
    int64_t startPts = 0;      // in timeBase
    // Pictures without a time come this far apart.
    AVRational frameDuration = {1, 25};  // seconds
    int64_t frameStep = 400000;          // 100-ns units

    int32_t width = 0;
    int32_t height = 0;
    uint32_t pixelFormat = kVideoA8R8G8B8;
    int32_t pitch = 0;  // bytes
    std::vector<uint8_t> pixels;
    int64_t duration = 0;  // 100-ns units

    bool haveNext = false;
    int64_t nextTime = 0;
    int64_t lastTime = 0;       // of the picture shown
    int64_t lastStep = 400000;  // from the picture before it to it
    // For pictures without a time (a raw stream): the last time given, or
    // 0, and how many pictures came since the one that had it.
    int64_t baseTime = 0;
    int64_t sinceBase = -1;
    bool demuxerDone = false;
    bool decoderDone = false;
    bool shownSinceRewind = false;
    // The decoder has not gone past the first picture since opening.
    bool atStart = true;
    // The frame buffer changed and UpdateFrame has not said so yet.
    bool fresh = false;

    std::unique_ptr<SoundTrack> sound;

    ~Impl()
    {
        // The sound leaves the mixer before anything else goes.
        sound.reset();
        sws_freeContext(scaler);
        av_frame_free(&shown);
        av_frame_free(&next);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        CloseInput(&format);
    }

    VideoOpenResult OpenFile(const char* hostPath);

    // Decodes the next picture into out; false once there are no more.
    bool DecodeNext(AVFrame* out)
    {
        while (!decoderDone) {
            int result = avcodec_receive_frame(codec, out);
            if (result == 0) {
                if (out->width > 0 && out->height > 0) {
                    return true;
                }
                av_frame_unref(out);
                continue;
            }
            if (result != AVERROR(EAGAIN) || demuxerDone) {
                if (result != AVERROR_EOF && result != AVERROR(EAGAIN)) {
                    std::fprintf(stderr, "media: the movie's picture stopped decoding: %s\n",
                                 ErrorText(result).c_str());
                }
                decoderDone = true;
                break;
            }
            FeedDecoder(format, codec, packet, streamIndex, &demuxerDone);
        }
        return false;
    }

    // The time of a picture just decoded: its own, else a frame after the
    // one before (the first at 0), counted whole so that rounding does not
    // add up.
    int64_t FrameTime(const AVFrame* frame)
    {
        int64_t ts = frame->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE) {
            ts = frame->pts;
        }
        if (ts != AV_NOPTS_VALUE) {
            baseTime = av_rescale_q(ts - startPts, timeBase, kTickBase);
            sinceBase = 0;
            return baseTime;
        }
        ++sinceBase;
        return baseTime + av_rescale_q(sinceBase, frameDuration, kTickBase);
    }

    // Converts a picture into the frame buffer at the movie's size.
    bool Convert(const AVFrame* frame)
    {
        // Pictures say how their colours were coded; the default is the
        // standard-definition matrix in video range. RGB pictures have none.
        const AVPixFmtDescriptor* source = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
        const bool yuv = source != nullptr && (source->flags & AV_PIX_FMT_FLAG_RGB) == 0 && source->nb_components >= 3;
        const int colorspace = RawEnum(frame->colorspace) == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
        const int fullRange = RawEnum(frame->color_range) == AVCOL_RANGE_JPEG ? 1 : 0;
        const ScalerKey key = {frame->width, frame->height, frame->format, colorspace, fullRange, pixelFormat};
        if (scaler == nullptr || std::memcmp(&key, &scalerKey, sizeof key) != 0) {
            sws_freeContext(scaler);
            scaler = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width,
                                    height, ScalerFormat(pixelFormat),
                                    SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
            if (scaler == nullptr) {
                std::fprintf(stderr, "media: cannot convert %dx%d pictures of pixel format %d\n", frame->width,
                             frame->height, frame->format);
                return false;
            }
            if (yuv) {
                const int* rgbTable = sws_getCoefficients(SWS_CS_DEFAULT);
                sws_setColorspaceDetails(scaler, sws_getCoefficients(colorspace), fullRange, rgbTable, 1, 0, 1 << 16,
                                         1 << 16);
            }
            scalerKey = key;
        }
        uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {pitch, 0, 0, 0};
        const int rows = sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
        if (rows <= 0) {
            std::fprintf(stderr, "media: a picture of the movie did not convert\n");
            return false;
        }
        // The converter leaves the top bits clear; they are alpha here.
        const uint16_t opaque = pixelFormat == kVideoA1R5G5B5 ? 0x8000 : pixelFormat == kVideoA4R4G4B4 ? 0xF000 : 0;
        if (opaque != 0) {
            for (int32_t y = 0; y < height; ++y) {
                uint8_t* row = pixels.data() + static_cast<size_t>(y) * pitch;
                for (int32_t x = 0; x < width; ++x) {
                    uint16_t texel;
                    std::memcpy(&texel, row + 2 * x, 2);
                    texel |= opaque;
                    std::memcpy(row + 2 * x, &texel, 2);
                }
            }
        }
        return true;
    }

    bool SizeBuffer(uint32_t format)
    {
        const int32_t newPitch = width * VideoStream::FormatBytes(format);
        try {
            pixels.assign(static_cast<size_t>(newPitch) * height, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        pitch = newPitch;
        pixelFormat = format;
        return true;
    }
};

VideoOpenResult VideoStream::Impl::OpenFile(const char* hostPath)
{
    const std::string name = PrintableText(hostPath);
    if (OpenInput(&format, hostPath) < 0) {
        return VideoOpenResult::kUnreadable;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (IsPicture(format->streams[i])) {
            streamIndex = static_cast<int>(i);
            break;
        }
    }
    if (streamIndex < 0) {
        std::fprintf(stderr, "media: %s has no picture\n", name.c_str());
        return VideoOpenResult::kNoVideo;
    }
    KeepOnlyStream(format, streamIndex);
    const AVStream* stream = format->streams[streamIndex];
    const AVCodecParameters* parameters = stream->codecpar;
    // Checked before anything is decoded, so a hostile header cannot make
    // the decoder allocate for it.
    if (parameters->width > kMaxSize || parameters->height > kMaxSize) {
        std::fprintf(stderr, "media: %s is %dx%d, larger than %d pixels a side\n", name.c_str(), parameters->width,
                     parameters->height, kMaxSize);
        return VideoOpenResult::kTooLarge;
    }
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (decoder == nullptr) {
        std::fprintf(stderr, "media: %s: no decoder for its picture\n", name.c_str());
        return VideoOpenResult::kUnreadable;
    }
    codec = avcodec_alloc_context3(decoder);
    packet = av_packet_alloc();
    shown = av_frame_alloc();
    next = av_frame_alloc();
    if (codec == nullptr || packet == nullptr || shown == nullptr || next == nullptr) {
        return VideoOpenResult::kOutOfMemory;
    }
    if (avcodec_parameters_to_context(codec, parameters) < 0 || avcodec_open2(codec, decoder, nullptr) < 0) {
        std::fprintf(stderr, "media: %s: the picture decoder did not open\n", name.c_str());
        return VideoOpenResult::kUnreadable;
    }
    timeBase = stream->time_base.num > 0 && stream->time_base.den > 0 ? stream->time_base : AVRational{1, 25};
    startPts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
        frameDuration = av_inv_q(stream->avg_frame_rate);
    }
    frameStep = av_rescale_q(1, frameDuration, kTickBase);
    lastStep = frameStep;
    duration = TicksOf(format->duration, AV_TIME_BASE_Q);
    if (duration == 0) {
        duration = TicksOf(stream->duration, timeBase);
    }
    // A file whose header reads but whose picture does not decode is no
    // movie: the first picture is decoded now and fills the frame buffer.
    if (!DecodeNext(shown)) {
        std::fprintf(stderr, "media: %s: no picture decodes\n", name.c_str());
        return VideoOpenResult::kUnreadable;
    }
    if (shown->width > kMaxSize || shown->height > kMaxSize) {
        std::fprintf(stderr, "media: %s is %dx%d, larger than %d pixels a side\n", name.c_str(), shown->width,
                     shown->height, kMaxSize);
        return VideoOpenResult::kTooLarge;
    }
    width = shown->width;
    height = shown->height;
    lastTime = FrameTime(shown);
    if (!SizeBuffer(pixelFormat)) {
        return VideoOpenResult::kOutOfMemory;
    }
    if (!Convert(shown)) {
        return VideoOpenResult::kUnreadable;
    }
    shownSinceRewind = true;
    fresh = true;
    return VideoOpenResult::kOk;
}

std::unique_ptr<VideoStream> VideoStream::Open(const char* hostPath, uint32_t format, VideoOpenResult* result)
{
    VideoOpenResult dummy = VideoOpenResult::kOk;
    VideoOpenResult& outcome = result != nullptr ? *result : dummy;
    if (!IsFormatSupported(format)) {
        std::fprintf(stderr, "media: pixel format %u is not one movies are delivered in\n", format);
        outcome = VideoOpenResult::kBadFormat;
        return nullptr;
    }
    if (hostPath == nullptr || hostPath[0] == '\0') {
        std::fprintf(stderr, "media: no file name\n");
        outcome = VideoOpenResult::kUnreadable;
        return nullptr;
    }
    SetUpFfmpegLog();
    std::unique_ptr<Impl> impl;
    try {
        impl = std::make_unique<Impl>();
        impl->pixelFormat = format;
        outcome = impl->OpenFile(hostPath);
        if (outcome == VideoOpenResult::kOk) {
            impl->sound = std::make_unique<SoundTrack>();
            impl->sound->OpenDecoder(hostPath);
        }
    } catch (const std::bad_alloc&) {
        outcome = VideoOpenResult::kOutOfMemory;
    }
    if (outcome == VideoOpenResult::kOutOfMemory) {
        std::fprintf(stderr, "media: out of memory opening %s\n", PrintableText(hostPath).c_str());
    }
    if (outcome != VideoOpenResult::kOk) {
        return nullptr;
    }
    if (!impl->sound->Attach()) {
        outcome = VideoOpenResult::kNoAudioDevice;
        return nullptr;
    }
    std::unique_ptr<VideoStream> stream(new (std::nothrow) VideoStream(std::move(impl)));
    if (stream == nullptr) {
        outcome = VideoOpenResult::kOutOfMemory;
    }
    return stream;
}

VideoStream::VideoStream(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}

VideoStream::~VideoStream() = default;

int32_t VideoStream::GetWidth() const
{
    return impl->width;
}

int32_t VideoStream::GetHeight() const
{
    return impl->height;
}

uint32_t VideoStream::GetFormat() const
{
    return impl->pixelFormat;
}

bool VideoStream::SetFormat(uint32_t format)
{
    if (!IsFormatSupported(format)) {
        return false;
    }
    if (format == impl->pixelFormat) {
        return true;
    }
    const uint32_t old = impl->pixelFormat;
    if (!impl->SizeBuffer(format)) {
        std::fprintf(stderr, "media: out of memory changing the movie's pixel format\n");
        impl->SizeBuffer(old);
        return false;
    }
    if (impl->shown->width > 0) {
        impl->Convert(impl->shown);
    }
    return true;
}

int64_t VideoStream::GetDuration() const
{
    return impl->duration;
}

bool VideoStream::HasSound() const
{
    return impl->sound->HasSound();
}

void VideoStream::Run()
{
    impl->sound->SetRunning(true);
}

void VideoStream::Stop()
{
    impl->sound->SetRunning(false);
}

VideoStream::State VideoStream::GetState() const
{
    return impl->sound->IsRunning() ? State::kRunning : State::kStopped;
}

bool VideoStream::Rewind()
{
    Impl& v = *impl;
    v.sound->Rewind();
    if (v.atStart) {
        // Nothing has been shown past the first picture: it is still in the
        // frame buffer and the decoder stands right behind it.
        v.fresh = true;
        return true;
    }
    av_frame_unref(v.next);
    v.haveNext = false;
    v.shownSinceRewind = false;
    v.fresh = false;
    v.lastTime = 0;
    v.lastStep = v.frameStep;
    v.baseTime = 0;
    v.sinceBase = -1;
    if (!SeekToStart(v.format, v.streamIndex, AV_NOPTS_VALUE)) {
        // Without a seek the picture has nothing more to give.
        v.demuxerDone = true;
        v.decoderDone = true;
        return false;
    }
    avcodec_flush_buffers(v.codec);
    v.demuxerDone = false;
    v.decoderDone = false;
    return true;
}

int64_t VideoStream::GetTime() const
{
    return impl->sound->GetTime();
}

bool VideoStream::UpdateFrame()
{
    Impl& v = *impl;
    bool changed = v.fresh;
    v.fresh = false;
    const int64_t now = v.sound->GetTime();
    bool moved = false;
    for (;;) {
        if (!v.haveNext) {
            if (!v.DecodeNext(v.next)) {
                break;
            }
            v.haveNext = true;
            v.nextTime = v.FrameTime(v.next);
        }
        // The first picture after a rewind shows at once, whatever its time.
        if (v.shownSinceRewind && v.nextTime > now) {
            break;
        }
        av_frame_unref(v.shown);
        av_frame_move_ref(v.shown, v.next);
        v.haveNext = false;
        v.lastStep = v.nextTime > v.lastTime ? v.nextTime - v.lastTime : v.frameStep;
        v.lastTime = v.nextTime;
        v.shownSinceRewind = true;
        v.atStart = false;
        moved = true;
    }
    // Only the last of the pictures due is converted: a late caller skips.
    if (moved && v.Convert(v.shown)) {
        changed = true;
    }
    return changed;
}

bool VideoStream::HasEnded()
{
    Impl& v = *impl;
    int64_t soundEnd = 0;
    if (!v.decoderDone || v.haveNext || !v.sound->GetEndTime(&soundEnd)) {
        return false;
    }
    return v.sound->GetTime() >= std::max(v.lastTime + v.lastStep, soundEnd);
}

const uint8_t* VideoStream::GetFrame(int32_t* pitch) const
{
    if (pitch != nullptr) {
        *pitch = impl->pitch;
    }
    return impl->pixels.empty() ? nullptr : impl->pixels.data();
}

}  // namespace platform
