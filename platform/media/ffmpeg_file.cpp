// Opening files through FFmpeg and decoding their sound for the mixer: the
// pieces the audio-file and movie sources share.
#include "platform/media/ffmpeg_file.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>

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

void SetUpFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // FFmpeg's own chatter about ordinary files is not ours to show, and
        // a damaged movie would make it chatter for every frame: errors will
        // do.
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(LogFromFfmpeg);
    });
}

std::string ErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

// The demuxers of the sound and movie files people make and play.
static const char* const kContainers =
    "wav,w64,aiff,au,caf,voc,mp3,flac,ogg,aac,ac3,eac3,dts,truehd,ape,wv,tta,mpc,mpc8,amr,"
    "mov,matroska,asf,avi,flv,rm,mpeg,mpegts,mpegvideo,m4v,h264,hevc,ivf";

int OpenInput(AVFormatContext** format, const char* hostPath)
{
    AVDictionary* options = nullptr;
    // Only the file itself: a name must never reach the network or a pipe.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // Only containers of sound and movies: playlists and concat lists
    // (HLS, DASH, ffconcat) and image sequences would open other files in
    // its place, and every demuxer left out is one less for a damaged
    // file to reach.
    av_dict_set(&options, "format_whitelist", kContainers, 0);
    const std::string url = std::string("file:") + hostPath;
    int result = avformat_open_input(format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        std::fprintf(stderr, "media: cannot open %s: %s\n", hostPath, ErrorText(result).c_str());
        return result;
    }
    result = avformat_find_stream_info(*format, nullptr);
    if (result < 0) {
        std::fprintf(stderr, "media: %s has no readable streams: %s\n", hostPath, ErrorText(result).c_str());
    }
    return result;
}

int64_t TicksOf(int64_t value, AVRational base)
{
    if (value == AV_NOPTS_VALUE || value <= 0 || base.num <= 0 || base.den <= 0) {
        return 0;
    }
    // The rescale gives INT64_MIN when the result does not fit.
    const int64_t ticks = av_rescale_q(value, base, AVRational{1, 10000000});
    return ticks > 0 ? ticks : 0;
}

bool SeekToStart(AVFormatContext* format, int streamIndex, int64_t firstPacketTime)
{
    const AVStream* stream = format->streams[streamIndex];
    int64_t target = firstPacketTime;
    if (target == AV_NOPTS_VALUE) {
        target = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    }
    int result = av_seek_frame(format, streamIndex, target, AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        result = av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE | AVSEEK_FLAG_BACKWARD);
    }
    if (result < 0) {
        std::fprintf(stderr, "media: cannot seek to the start: %s\n", ErrorText(result).c_str());
        return false;
    }
    return true;
}

void KeepOnlyStream(AVFormatContext* format, int streamIndex)
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
}

bool IsPicture(const AVStream* stream)
{
    // Cover art in a music file is one still image, not a movie.
    return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

bool FeedDecoder(AVFormatContext* format, AVCodecContext* codec, AVPacket* packet, int streamIndex,
                 bool* demuxerDone, int64_t* packetTime)
{
    if (av_read_frame(format, packet) < 0) {
        *demuxerDone = true;
        avcodec_send_packet(codec, nullptr);
        return false;
    }
    const bool ours = packet->stream_index == streamIndex;
    if (ours) {
        if (packetTime != nullptr) {
            *packetTime = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        }
        // A damaged packet is skipped; the next one (a key frame for a
        // picture) decodes on its own.
        avcodec_send_packet(codec, packet);
    }
    av_packet_unref(packet);
    return ours;
}

SoundDecoder::~SoundDecoder()
{
    Close();
}

void SoundDecoder::Close()
{
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&resampler);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    av_channel_layout_uninit(&inLayout);
}

// Rates and channel counts the mixer plays sensibly; logged when not.
static bool IsPlayable(const char* what, int channels, int rate)
{
    if (channels >= 1 && channels <= SoundDecoder::kMaxChannels && rate >= SoundDecoder::kMinRate &&
        rate <= SoundDecoder::kMaxRate) {
        return true;
    }
    std::fprintf(stderr, "media: %s: %d channels at %d Hz cannot be played (1 to %d channels, %d to %d Hz)\n", what,
                 channels, rate, SoundDecoder::kMaxChannels, SoundDecoder::kMinRate, SoundDecoder::kMaxRate);
    return false;
}

SoundDecoder::OpenResult SoundDecoder::Open(const char* hostPath, bool refuseVideo)
{
    try {
        path = hostPath;
    } catch (const std::bad_alloc&) {
        return OpenResult::kOutOfMemory;
    }
    if (OpenInput(&format, hostPath) < 0) {
        Close();
        return OpenResult::kUnreadable;
    }
    for (unsigned i = 0; refuseVideo && i < format->nb_streams; ++i) {
        if (IsPicture(format->streams[i])) {
            std::fprintf(stderr, "media: %s has a video stream\n", hostPath);
            Close();
            return OpenResult::kHasVideo;
        }
    }
    const AVCodec* decoder = nullptr;
    streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex < 0) {
        Close();
        return OpenResult::kNoSound;
    }
    KeepOnlyStream(format, streamIndex);
    const AVCodecParameters* parameters = format->streams[streamIndex]->codecpar;
    if (decoder == nullptr) {
        std::fprintf(stderr, "media: %s: no decoder for its sound\n", hostPath);
        Close();
        return OpenResult::kUnreadable;
    }
    if (!IsPlayable(hostPath, parameters->ch_layout.nb_channels, parameters->sample_rate)) {
        Close();
        return OpenResult::kUnreadable;
    }
    codec = avcodec_alloc_context3(decoder);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (codec == nullptr || packet == nullptr || frame == nullptr) {
        Close();
        return OpenResult::kOutOfMemory;
    }
    codec->pkt_timebase = format->streams[streamIndex]->time_base;
    if (avcodec_parameters_to_context(codec, parameters) < 0 || avcodec_open2(codec, decoder, nullptr) < 0) {
        std::fprintf(stderr, "media: %s: the sound decoder did not open\n", hostPath);
        Close();
        return OpenResult::kUnreadable;
    }
    outChannels = parameters->ch_layout.nb_channels == 1 ? 1 : 2;
    return OpenResult::kOk;
}

bool SoundDecoder::Reopen()
{
    AVFormatContext* fresh = nullptr;
    if (OpenInput(&fresh, path.c_str()) < 0 || static_cast<unsigned>(streamIndex) >= fresh->nb_streams ||
        fresh->streams[streamIndex]->codecpar->codec_id != codec->codec_id) {
        avformat_close_input(&fresh);
        return false;
    }
    KeepOnlyStream(fresh, streamIndex);
    avformat_close_input(&format);
    format = fresh;
    return true;
}

int64_t SoundDecoder::GetDuration() const
{
    return format != nullptr ? TicksOf(format->duration, AV_TIME_BASE_Q) : 0;
}

size_t SoundDecoder::Available() const
{
    return PendingFrames() > readFrame ? PendingFrames() - readFrame : 0;
}

void SoundDecoder::Consume(size_t frames)
{
    readFrame += frames;
    atStart = atStart && frames == 0;
}

bool SoundDecoder::SetUpResampler(const AVFrame* from)
{
    swr_free(&resampler);
    av_channel_layout_uninit(&inLayout);
    // What the frame says is kept as it says it, so that the next frame in
    // the same form compares equal; the converter is told a layout it can
    // use, the usual one for the count when the file names none (a plain
    // WAV file).
    if (av_channel_layout_copy(&inLayout, &from->ch_layout) < 0) {
        return false;
    }
    AVChannelLayout in = {};
    if (from->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&from->ch_layout) == 0) {
        av_channel_layout_default(&in, from->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&in, &from->ch_layout) < 0) {
        return false;
    }
    AVChannelLayout out = {};
    av_channel_layout_default(&out, outChannels);
    const int result = swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_FLT, kAudioRate, &in,
                                           static_cast<AVSampleFormat>(from->format), from->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out);
    av_channel_layout_uninit(&in);
    if (result < 0 || swr_init(resampler) < 0) {
        std::fprintf(stderr, "media: cannot convert %d channels of format %d at %d Hz\n", from->ch_layout.nb_channels,
                     from->format, from->sample_rate);
        swr_free(&resampler);
        av_channel_layout_uninit(&inLayout);
        return false;
    }
    inRate = from->sample_rate;
    inFormat = from->format;
    return true;
}

bool SoundDecoder::Convert(const uint8_t** input, int inputFrames, int room)
{
    if (room <= 0) {
        return true;
    }
    try {
        converted.resize(static_cast<size_t>(room) * outChannels);
        uint8_t* output = reinterpret_cast<uint8_t*>(converted.data());
        const int made = swr_convert(resampler, &output, room, input, inputFrames);
        if (made < 0) {
            std::fprintf(stderr, "media: conversion failed: %s\n", ErrorText(made).c_str());
            return false;
        }
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

bool SoundDecoder::ConvertFrame()
{
    const int channels = frame->ch_layout.nb_channels;
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || channels <= 0) {
        return true;
    }
    if (!IsPlayable(path.c_str(), channels, frame->sample_rate)) {
        return false;
    }
    if (!sawFirstSample) {
        sawFirstSample = true;
        firstSampleTime = frame->best_effort_timestamp;
    }
    int skip = 0;
    const int64_t time = frame->best_effort_timestamp;
    if (trimLeading && time != AV_NOPTS_VALUE && firstSampleTime != AV_NOPTS_VALUE && time < firstSampleTime) {
        const int64_t early = av_rescale_q(firstSampleTime - time, codec->pkt_timebase, AVRational{1, frame->sample_rate});
        skip = static_cast<int>(std::min<int64_t>(early, frame->nb_samples));
    }
    int count = frame->nb_samples - skip;
    if (count <= 0) {
        return true;
    }
    trimLeading = false;
    if (passLength >= 0) {
        count = static_cast<int>(std::min<int64_t>(count, passLength - passSamples));
        if (count <= 0) {
            return true;
        }
    }
    passSamples += count;
    if (resampler == nullptr || frame->sample_rate != inRate || frame->format != inFormat ||
        av_channel_layout_compare(&frame->ch_layout, &inLayout) != 0) {
        // The sound changed its form midway: what the old converter still
        // holds is played before the new one starts.
        DrainResampler();
        if (!SetUpResampler(frame)) {
            return false;
        }
    }
    const AVSampleFormat sampleFormat = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(sampleFormat) != 0;
    const size_t step = static_cast<size_t>(skip) * av_get_bytes_per_sample(sampleFormat) * (planar ? 1 : channels);
    const uint8_t* input[kMaxChannels] = {};
    for (int plane = 0; plane < (planar ? channels : 1); ++plane) {
        input[plane] = frame->extended_data[plane] + step;
    }
    return Convert(input, count, swr_get_out_samples(resampler, count));
}

void SoundDecoder::DrainResampler()
{
    if (resampler == nullptr) {
        return;
    }
    // The resampler's estimate of its tail can fall short: drain in blocks
    // until it has nothing more.
    for (int block = 0; block < 64; ++block) {
        const size_t before = pending.size();
        if (!Convert(nullptr, 0, 4096) || pending.size() == before) {
            break;
        }
    }
}

void SoundDecoder::EndPass()
{
    decoderDone = true;
    DrainResampler();
    if (passFromOpen && passLength < 0) {
        passLength = passSamples;
    }
    kept = keeping && PendingFrames() <= kKeptPassFrames;
}

bool SoundDecoder::DecodeMore()
{
    if (codec == nullptr || decoderDone) {
        return false;
    }
    keeping = keeping && PendingFrames() <= kKeptPassFrames;
    if (!keeping) {
        // Drop what has been played, so pending stays one packet long.
        const size_t played = std::min(readFrame, PendingFrames());
        if (played > 0) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(played * kAudioChannels));
            readFrame -= played;
        }
    }
    const size_t before = pending.size();
    while (!decoderDone && pending.size() == before) {
        int result = avcodec_receive_frame(codec, frame);
        if (result == 0) {
            const bool ok = ConvertFrame();
            av_frame_unref(frame);
            if (!ok) {
                decoderDone = true;
            } else if (passLength >= 0 && passSamples >= passLength) {
                EndPass();
            }
            continue;
        }
        if (result == AVERROR(EAGAIN) && !demuxerDone) {
            int64_t time = AV_NOPTS_VALUE;
            if (FeedDecoder(format, codec, packet, streamIndex, &demuxerDone, &time) && !sawFirstPacket) {
                sawFirstPacket = true;
                firstPacketTime = time;
            }
            continue;
        }
        // The end, an error, or a decoder that wants input that will never
        // come.
        if (result != AVERROR_EOF && result != AVERROR(EAGAIN)) {
            std::fprintf(stderr, "media: decoding stopped: %s\n", ErrorText(result).c_str());
        }
        EndPass();
    }
    return pending.size() > before;
}

bool SoundDecoder::Rewind()
{
    if (codec == nullptr) {
        return false;
    }
    if (kept || atStart) {
        readFrame = 0;
        return true;
    }
    // Until a pass from the opening has ended, its length is unknown: only
    // opening the file again repeats it for certain.
    const bool reopened = passLength < 0 && Reopen();
    if (!reopened && !SeekToStart(format, streamIndex, firstPacketTime)) {
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
    demuxerDone = false;
    decoderDone = false;
    passSamples = 0;
    passFromOpen = reopened;
    trimLeading = !reopened;
    atStart = true;
    keeping = true;
    return true;
}

void SoundDecoder::Finish()
{
    pending.clear();
    readFrame = 0;
    demuxerDone = true;
    decoderDone = true;
    atStart = false;
    keeping = false;
    kept = false;
}

}  // namespace platform
