#include "platform/media/media.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/audio/audio.h"

// Decoding happens in the mixer's pull, a packet at a time, into a buffer
// that holds one decoded packet (a few thousand frames at most). An MP3 frame
// decodes in tens of microseconds against a 23 ms device period, so a
// decode-ahead thread per stream would buy nothing but another thread to
// synchronise; and pulling keeps the null device exact: the frames a test
// renders are the frames of the file, with no dependence on timing.
namespace platform {

static void LogFromFfmpeg(void* avcl, int level, const char* format, va_list args)
{
    if (level > av_log_get_level()) {
        return;
    }
    char line[1024];
    int prefix = 1;
    av_log_format_line(avcl, level, format, args, line, sizeof line, &prefix);
    std::fprintf(stderr, "media: %s", line);
}

static void SetUpFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // FFmpeg's own chatter about ordinary files is not ours to show.
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(LogFromFfmpeg);
    });
}

static std::string ErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

struct MediaStream::Impl final : AudioSource {
    // Owned FFmpeg state; touched under lock only (the mixer's pull included).
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

    mutable std::mutex lock;
    // Decoded stereo frames at kAudioRate from readFrame on wait to be played.
    std::vector<float> pending;
    std::vector<float> converted;
    size_t readFrame = 0;
    // Position between pending frames when the rate is not 1.
    double fraction = 0.0;
    bool demuxerDone = false;
    bool decoderDone = false;
    bool ended = false;
    State state = State::kStopped;
    double rate = 1.0;
    float gainLeft = 1.0f;
    float gainRight = 1.0f;
    float volumeGain = 1.0f;
    int32_t balance = 0;
    int64_t duration = 0;

    static constexpr int kMaxEvents = 8;
    int32_t events[kMaxEvents] = {};
    int eventCount = 0;
    Notify notify = nullptr;
    void* notifyUser = nullptr;
    bool attached = false;

    ~Impl() override
    {
        // First out of the mixer: after this no pull is running or to come.
        if (attached) {
            AudioDevice::RemoveSource(this);
            AudioDevice::Close();
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_channel_layout_uninit(&inLayout);
    }

    size_t PendingFrames() const { return pending.size() / kAudioChannels; }

    void UpdateGains()
    {
        float left = volumeGain;
        float right = volumeGain;
        if (balance > 0) {
            left *= balance >= 10000 ? 0.0f : static_cast<float>(std::pow(10.0, -balance / 2000.0));
        } else if (balance < 0) {
            right *= balance <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, balance / 2000.0));
        }
        gainLeft = left;
        gainRight = right;
    }

    bool SetUpResampler(const AVChannelLayout& layout, int sampleRate, int sampleFormat)
    {
        swr_free(&resampler);
        av_channel_layout_uninit(&inLayout);
        AVChannelLayout in = {};
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&layout) == 0) {
            av_channel_layout_default(&in, layout.nb_channels);
        } else if (av_channel_layout_copy(&in, &layout) < 0) {
            return false;
        }
        AVChannelLayout out = {};
        av_channel_layout_default(&out, outChannels);
        const int result = swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_FLT, kAudioRate, &in,
                                               static_cast<AVSampleFormat>(sampleFormat), sampleRate, 0, nullptr);
        av_channel_layout_uninit(&out);
        if (result < 0 || swr_init(resampler) < 0) {
            std::fprintf(stderr, "media: cannot convert %d channels of format %d at %d Hz\n", in.nb_channels,
                         sampleFormat, sampleRate);
            av_channel_layout_uninit(&in);
            swr_free(&resampler);
            return false;
        }
        inLayout = in;
        inRate = sampleRate;
        inFormat = sampleFormat;
        return true;
    }

    // Appends the resampler's output to pending; null input drains what the
    // resampler still holds at the end of the file.
    bool Convert(const uint8_t** input, int inputFrames)
    {
        if (input == nullptr) {
            // The resampler's estimate of its tail can fall short: drain in
            // blocks until it has nothing more.
            for (int block = 0; block < 64; ++block) {
                const size_t before = pending.size();
                if (!ConvertBlock(nullptr, 0, 4096) || pending.size() == before) {
                    break;
                }
            }
            return true;
        }
        return ConvertBlock(input, inputFrames, swr_get_out_samples(resampler, inputFrames));
    }

    bool ConvertBlock(const uint8_t** input, int inputFrames, int room)
    {
        if (room <= 0) {
            return true;
        }
        try {
            converted.resize(static_cast<size_t>(room) * outChannels);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "media: out of memory decoding\n");
            return false;
        }
        uint8_t* output = reinterpret_cast<uint8_t*>(converted.data());
        const int made = swr_convert(resampler, &output, room, input, inputFrames);
        if (made < 0) {
            std::fprintf(stderr, "media: conversion failed: %s\n", ErrorText(made).c_str());
            return false;
        }
        try {
            const size_t start = pending.size();
            pending.resize(start + static_cast<size_t>(made) * kAudioChannels);
            float* target = pending.data() + start;
            for (int i = 0; i < made; ++i) {
                const float* from = converted.data() + static_cast<size_t>(i) * outChannels;
                target[2 * i] = from[0];
                target[2 * i + 1] = outChannels == 1 ? from[0] : from[1];
            }
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "media: out of memory decoding\n");
            return false;
        }
        return true;
    }

    bool ConvertFrame()
    {
        if (frame->nb_samples <= 0) {
            return true;
        }
        if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0) {
            return true;
        }
        if (resampler == nullptr || frame->sample_rate != inRate || frame->format != inFormat ||
            av_channel_layout_compare(&frame->ch_layout, &inLayout) != 0) {
            if (!SetUpResampler(frame->ch_layout, frame->sample_rate, frame->format)) {
                return false;
            }
        }
        return Convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    }

    // Decodes until more frames are pending; false once the file is used up
    // (or cannot be decoded further).
    bool DecodeMore()
    {
        // Drop what has been played, so pending stays one packet long.
        const size_t played = std::min(readFrame, PendingFrames());
        if (played > 0) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(played * kAudioChannels));
            readFrame -= played;
        }
        const size_t before = pending.size();
        while (!decoderDone) {
            int result = avcodec_receive_frame(codec, frame);
            if (result == 0) {
                const bool ok = ConvertFrame();
                av_frame_unref(frame);
                if (!ok) {
                    decoderDone = true;
                    break;
                }
                if (pending.size() > before) {
                    return true;
                }
                continue;
            }
            if (result == AVERROR_EOF) {
                decoderDone = true;
                if (resampler != nullptr) {
                    Convert(nullptr, 0);
                }
                break;
            }
            if (result != AVERROR(EAGAIN)) {
                std::fprintf(stderr, "media: decoding stopped: %s\n", ErrorText(result).c_str());
                decoderDone = true;
                break;
            }
            if (demuxerDone) {
                // The decoder wants input that will never come.
                decoderDone = true;
                break;
            }
            result = av_read_frame(format, packet);
            if (result < 0) {
                demuxerDone = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == streamIndex) {
                // A damaged packet is skipped; the next one decodes on its own.
                avcodec_send_packet(codec, packet);
            }
            av_packet_unref(packet);
        }
        return pending.size() > before;
    }

    void Pull(float* out, size_t frames) override
    {
        Notify toNotify = nullptr;
        void* user = nullptr;
        size_t written = 0;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (state == State::kRunning && !ended) {
                written = Produce(out, frames);
                if (written < frames) {
                    ended = true;
                    QueueEvent(kMediaEventComplete);
                    toNotify = notify;
                    user = notifyUser;
                }
            }
        }
        std::fill(out + written * kAudioChannels, out + frames * kAudioChannels, 0.0f);
        if (toNotify != nullptr) {
            toNotify(user);
        }
    }

    // Writes up to `frames` frames at the rate and gains; fewer only at the
    // end of the file. lock is held.
    size_t Produce(float* out, size_t frames)
    {
        size_t written = 0;
        while (written < frames) {
            size_t available = PendingFrames() > readFrame ? PendingFrames() - readFrame : 0;
            if (rate == 1.0) {
                if (available == 0) {
                    if (!DecodeMore()) {
                        break;
                    }
                    continue;
                }
                const size_t count = std::min(available, frames - written);
                const float* from = pending.data() + readFrame * kAudioChannels;
                float* to = out + written * kAudioChannels;
                for (size_t i = 0; i < count; ++i) {
                    to[2 * i] = from[2 * i] * gainLeft;
                    to[2 * i + 1] = from[2 * i + 1] * gainRight;
                }
                readFrame += count;
                written += count;
                continue;
            }
            // Another speed: read the file at `rate` frames per output frame,
            // between two neighbours by straight-line interpolation.
            if (available < 2 && !decoderDone && DecodeMore()) {
                continue;
            }
            if (available == 0) {
                break;
            }
            const float* a = pending.data() + readFrame * kAudioChannels;
            const float* b = available >= 2 ? a + kAudioChannels : a;
            const float t = static_cast<float>(fraction);
            out[written * 2] = (a[0] + (b[0] - a[0]) * t) * gainLeft;
            out[written * 2 + 1] = (a[1] + (b[1] - a[1]) * t) * gainRight;
            ++written;
            fraction += rate;
            const double step = std::floor(fraction);
            fraction -= step;
            readFrame += static_cast<size_t>(step);
        }
        return written;
    }

    void QueueEvent(int32_t code)
    {
        if (eventCount == kMaxEvents) {
            std::fprintf(stderr, "media: event queue full, oldest event dropped\n");
            std::memmove(events, events + 1, sizeof(int32_t) * (kMaxEvents - 1));
            --eventCount;
        }
        events[eventCount++] = code;
    }

    bool RewindLocked()
    {
        int result = av_seek_frame(format, -1, 0, AVSEEK_FLAG_BACKWARD);
        if (result < 0) {
            result = av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE | AVSEEK_FLAG_BACKWARD);
        }
        if (result < 0) {
            std::fprintf(stderr, "media: cannot seek to the start: %s\n", ErrorText(result).c_str());
            return false;
        }
        avcodec_flush_buffers(codec);
        if (resampler != nullptr) {
            // Drop the resampler's history: the next frame does not follow on.
            swr_close(resampler);
            swr_init(resampler);
        }
        pending.clear();
        readFrame = 0;
        fraction = 0.0;
        demuxerDone = false;
        decoderDone = false;
        ended = false;
        // An end event still queued belongs to the pass just left behind.
        eventCount = 0;
        return true;
    }

    MediaOpenResult OpenFile(const char* hostPath);
};

static bool HasRealVideo(const AVFormatContext* format)
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        // Cover art in a music file is a picture, not a video.
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            return true;
        }
    }
    return false;
}

MediaOpenResult MediaStream::Impl::OpenFile(const char* hostPath)
{
    Impl& impl = *this;
    AVDictionary* options = nullptr;
    // Only the file itself: a name must never reach the network or a pipe.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = std::string("file:") + hostPath;
    int result = avformat_open_input(&impl.format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        std::fprintf(stderr, "media: cannot open %s: %s\n", hostPath, ErrorText(result).c_str());
        return MediaOpenResult::kUnreadable;
    }
    result = avformat_find_stream_info(impl.format, nullptr);
    if (result < 0) {
        std::fprintf(stderr, "media: %s has no readable streams: %s\n", hostPath, ErrorText(result).c_str());
        return MediaOpenResult::kUnreadable;
    }
    if (HasRealVideo(impl.format)) {
        std::fprintf(stderr, "media: %s has a video stream\n", hostPath);
        return MediaOpenResult::kHasVideo;
    }
    const AVCodec* decoder = nullptr;
    impl.streamIndex = av_find_best_stream(impl.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (impl.streamIndex < 0 || decoder == nullptr) {
        std::fprintf(stderr, "media: %s has no audio we can decode\n", hostPath);
        return MediaOpenResult::kUnreadable;
    }
    for (unsigned i = 0; i < impl.format->nb_streams; ++i) {
        if (static_cast<int>(i) != impl.streamIndex) {
            impl.format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    const AVCodecParameters* parameters = impl.format->streams[impl.streamIndex]->codecpar;
    if (parameters->ch_layout.nb_channels < 1 || parameters->ch_layout.nb_channels > 64 ||
        parameters->sample_rate < 1 || parameters->sample_rate > 768000) {
        std::fprintf(stderr, "media: %s: %d channels at %d Hz cannot be played\n", hostPath,
                     parameters->ch_layout.nb_channels, parameters->sample_rate);
        return MediaOpenResult::kUnreadable;
    }
    impl.codec = avcodec_alloc_context3(decoder);
    impl.packet = av_packet_alloc();
    impl.frame = av_frame_alloc();
    if (impl.codec == nullptr || impl.packet == nullptr || impl.frame == nullptr) {
        return MediaOpenResult::kOutOfMemory;
    }
    if (avcodec_parameters_to_context(impl.codec, parameters) < 0 ||
        (result = avcodec_open2(impl.codec, decoder, nullptr)) < 0) {
        std::fprintf(stderr, "media: %s: the decoder did not open\n", hostPath);
        return MediaOpenResult::kUnreadable;
    }
    impl.outChannels = parameters->ch_layout.nb_channels == 1 ? 1 : 2;
    if (impl.format->duration != AV_NOPTS_VALUE && impl.format->duration > 0) {
        // Microseconds to 100-ns units.
        impl.duration = impl.format->duration * 10;
    }
    // A file whose header reads but whose audio does not decode is no audio
    // file: decode the first packet now. Its frames are the first played.
    if (!impl.DecodeMore()) {
        std::fprintf(stderr, "media: %s holds no decodable audio\n", hostPath);
        return MediaOpenResult::kUnreadable;
    }
    return MediaOpenResult::kOk;
}

std::unique_ptr<MediaStream> MediaStream::Open(const char* hostPath, MediaOpenResult* result)
{
    MediaOpenResult dummy = MediaOpenResult::kOk;
    MediaOpenResult& outcome = result != nullptr ? *result : dummy;
    if (hostPath == nullptr || hostPath[0] == '\0') {
        std::fprintf(stderr, "media: no file name\n");
        outcome = MediaOpenResult::kUnreadable;
        return nullptr;
    }
    SetUpFfmpegLog();
    std::unique_ptr<Impl> impl;
    try {
        impl = std::make_unique<Impl>();
        outcome = impl->OpenFile(hostPath);
    } catch (const std::bad_alloc&) {
        outcome = MediaOpenResult::kOutOfMemory;
    }
    if (outcome == MediaOpenResult::kOutOfMemory) {
        std::fprintf(stderr, "media: out of memory opening %s\n", hostPath);
    }
    if (outcome != MediaOpenResult::kOk) {
        return nullptr;
    }
    if (!AudioDevice::Open()) {
        outcome = MediaOpenResult::kNoAudioDevice;
        return nullptr;
    }
    if (!AudioDevice::AddSource(impl.get())) {
        AudioDevice::Close();
        outcome = MediaOpenResult::kNoAudioDevice;
        return nullptr;
    }
    impl->attached = true;
    std::unique_ptr<MediaStream> stream(new (std::nothrow) MediaStream(std::move(impl)));
    if (stream == nullptr) {
        outcome = MediaOpenResult::kOutOfMemory;
    }
    return stream;
}

MediaStream::MediaStream(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}

MediaStream::~MediaStream() = default;

void MediaStream::Run()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->state = State::kRunning;
}

void MediaStream::Pause()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->state = State::kPaused;
}

void MediaStream::Stop()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->state = State::kStopped;
}

MediaStream::State MediaStream::GetState() const
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->state;
}

bool MediaStream::Rewind()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->RewindLocked();
}

bool MediaStream::SetRate(double rate)
{
    if (!(rate > 0.0 && rate <= kMaxRate)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->rate = rate;
    impl->fraction = 0.0;
    return true;
}

bool MediaStream::SetVolume(int32_t hundredthsDb)
{
    if (hundredthsDb < -10000 || hundredthsDb > 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    // The floor is silence rather than -100 dB.
    impl->volumeGain = hundredthsDb == -10000 ? 0.0f : static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
    impl->UpdateGains();
    return true;
}

bool MediaStream::SetBalance(int32_t hundredthsDb)
{
    if (hundredthsDb < -10000 || hundredthsDb > 10000) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->balance = hundredthsDb;
    impl->UpdateGains();
    return true;
}

int64_t MediaStream::GetDuration() const
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->duration;
}

void MediaStream::SetNotify(Notify notify, void* user)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->notify = notify;
    impl->notifyUser = user;
}

bool MediaStream::GetEvent(int32_t* code)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    if (impl->eventCount == 0) {
        return false;
    }
    if (code != nullptr) {
        *code = impl->events[0];
    }
    --impl->eventCount;
    std::memmove(impl->events, impl->events + 1, sizeof(int32_t) * impl->eventCount);
    return true;
}

}  // namespace platform
