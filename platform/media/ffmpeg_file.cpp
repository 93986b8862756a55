// Opening files through FFmpeg and decoding their sound for the mixer: the
// pieces the audio-file and movie sources share.
#include "platform/media/ffmpeg_file.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

#include "platform/media/mp4_boxes.h"
#include "platform/media/vorbis_file.h"
#include "platform/sys/file.h"
#include "platform/sys/printable.h"

namespace platform {

static void LogFromFfmpeg(void* avcl, int level, const char* format, va_list args)
{
    if (level > av_log_get_level()) {
        return;
    }
    char line[1024];
    int prefix = 1;
    av_log_format_line(avcl, level, format, args, line, sizeof line, &prefix);
    // FFmpeg quotes names and bytes from the file: escaped like ours.
    std::string_view text(line);
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    std::fprintf(stderr, "media: %s\n", PrintableText(text).c_str());
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

// The file is read through a descriptor of ours rather than by FFmpeg's
// file protocol, so that what was checked to be a regular file is what is
// read: a name swapped for a FIFO in between can no longer hang the reader.
struct HostInput {
    int fd = -1;
};

static int ReadHostInput(void* opaque, uint8_t* buffer, int size)
{
    const int fd = static_cast<HostInput*>(opaque)->fd;
    for (;;) {
        const ssize_t got = read(fd, buffer, static_cast<size_t>(size));
        if (got > 0) {
            return static_cast<int>(got);
        }
        if (got == 0) {
            return AVERROR_EOF;
        }
        if (errno != EINTR) {
            return AVERROR(errno);
        }
    }
}

static int64_t SeekHostInput(void* opaque, int64_t offset, int whence)
{
    const int fd = static_cast<HostInput*>(opaque)->fd;
    if ((whence & AVSEEK_SIZE) != 0) {
        struct stat info;
        return fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

static void FreeHostInput(AVIOContext** io)
{
    if (*io == nullptr) {
        return;
    }
    HostInput* input = static_cast<HostInput*>((*io)->opaque);
    av_freep(&(*io)->buffer);
    avio_context_free(io);
    if (input != nullptr) {
        close(input->fd);
        delete input;
    }
}

void CloseInput(AVFormatContext** format)
{
    if (*format == nullptr) {
        return;
    }
    AVIOContext* io = (*format)->pb;
    avformat_close_input(format);
    FreeHostInput(&io);
}

static int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char* url, int, AVDictionary**)
{
    std::fprintf(stderr, "media: a file asked to open %s too: refused\n", PrintableText(url != nullptr ? url : "").c_str());
    return AVERROR(EPERM);
}

int OpenInput(AVFormatContext** format, const char* hostPath)
{
    const std::string name = PrintableText(hostPath);
    const int fd = OpenRegularFile(hostPath);
    if (fd < 0) {
        const int code = AVERROR(errno);
        std::fprintf(stderr, "media: cannot open %s: %s\n", name.c_str(), ErrorText(code).c_str());
        return code;
    }
    HostInput* input = new (std::nothrow) HostInput{fd};
    constexpr int kBufferBytes = 32768;
    uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kBufferBytes));
    AVIOContext* io = nullptr;
    if (input != nullptr && buffer != nullptr) {
        io = avio_alloc_context(buffer, kBufferBytes, 0, input, ReadHostInput, nullptr, SeekHostInput);
    }
    *format = io != nullptr ? avformat_alloc_context() : nullptr;
    if (*format == nullptr) {
        if (io != nullptr) {
            FreeHostInput(&io);
        } else {
            av_free(buffer);
            delete input;
            close(fd);
        }
        std::fprintf(stderr, "media: out of memory opening %s\n", name.c_str());
        return AVERROR(ENOMEM);
    }
    (*format)->pb = io;
    (*format)->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Nothing but the file itself: a demuxer that would open another file
    // by name (a reference, a playlist's entry) meets a wall, rather than
    // FFmpeg's own file reader, which would read a FIFO or a device.
    (*format)->io_open = RefuseNestedOpen;
    AVDictionary* options = nullptr;
    // Only containers of sound and movies: playlists and concat lists
    // (HLS, DASH, ffconcat) and image sequences would open other files in
    // its place, and every demuxer left out is one less for a damaged
    // file to reach.
    av_dict_set(&options, "format_whitelist", kContainers, 0);
    // The name only lends its extension to the probe.
    int result = avformat_open_input(format, hostPath, nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        // The context is gone; the input is still ours.
        FreeHostInput(&io);
        std::fprintf(stderr, "media: cannot open %s: %s\n", name.c_str(), ErrorText(result).c_str());
        return result;
    }
    result = avformat_find_stream_info(*format, nullptr);
    if (result < 0) {
        std::fprintf(stderr, "media: %s has no readable streams: %s\n", name.c_str(), ErrorText(result).c_str());
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

SoundDecoder::SoundDecoder() = default;

SoundDecoder::~SoundDecoder()
{
    Close();
}

void SoundDecoder::Close()
{
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&mixer);
    swr_free(&resampler);
    avcodec_free_context(&codec);
    CloseInput(&format);
    vorbis.reset();
    av_channel_layout_uninit(&mixerLayout);
}

// Rates and channel counts the mixer plays sensibly; logged when not.
static bool IsPlayable(const std::string& what, int channels, int rate)
{
    if (channels >= 1 && channels <= SoundDecoder::kMaxChannels && rate >= SoundDecoder::kMinRate &&
        rate <= SoundDecoder::kMaxRate) {
        return true;
    }
    std::fprintf(stderr, "media: %s: %d channels at %d Hz cannot be played (1 to %d channels, %d to %d Hz)\n",
                 PrintableText(what).c_str(), channels, rate, SoundDecoder::kMaxChannels, SoundDecoder::kMinRate,
                 SoundDecoder::kMaxRate);
    return false;
}

// The descriptor of the file an input opened by OpenInput reads.
static int InputDescriptor(const AVFormatContext* format)
{
    const HostInput* input = format->pb != nullptr ? static_cast<const HostInput*>(format->pb->opaque) : nullptr;
    return input != nullptr ? input->fd : -1;
}

// The file FFmpeg reads, opened again with a position of its own: the file
// probed is the file decoded, whatever its name has come to stand for.
static int OpenInputAgain(const AVFormatContext* format)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", InputDescriptor(format));
    return OpenRegularFile(path);
}

// The length of an MP4 track's sound in its stream's time base. The
// demuxer gives it as the track's edit says, in the movie's time scale
// (milliseconds, as FFmpeg writes it), which cuts a loop short of its last
// samples or runs it into the coder's padding; the track's own header says
// it to the sample, and is taken when the edit agrees with it.
static int64_t Mp4Length(const AVFormatContext* format, const AVStream* stream)
{
    Mp4TrackTiming timing;
    if (stream->id <= 0 || !ReadMp4TrackTiming(InputDescriptor(format), uint32_t(stream->id), &timing)) {
        return stream->duration;
    }
    const int64_t exact = Mp4ExactTrackLength(timing);
    if (exact <= 0 || timing.trackTimeScale > uint32_t(INT32_MAX)) {
        return stream->duration;
    }
    return av_rescale_q(exact, AVRational{1, int(timing.trackTimeScale)}, stream->time_base);
}

SoundDecoder::OpenResult SoundDecoder::Open(const char* hostPath, bool refuseVideo)
{
    try {
        path = hostPath;
    } catch (const std::bad_alloc&) {
        return OpenResult::kOutOfMemory;
    }
    const std::string name = PrintableText(path);
    if (OpenInput(&format, hostPath) < 0) {
        Close();
        return OpenResult::kUnreadable;
    }
    for (unsigned i = 0; refuseVideo && i < format->nb_streams; ++i) {
        if (IsPicture(format->streams[i])) {
            std::fprintf(stderr, "media: %s has a video stream\n", name.c_str());
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
        std::fprintf(stderr, "media: %s: no decoder for its sound\n", name.c_str());
        Close();
        return OpenResult::kUnreadable;
    }
    if (!IsPlayable(path, parameters->ch_layout.nb_channels, parameters->sample_rate)) {
        Close();
        return OpenResult::kUnreadable;
    }
    outChannels = parameters->ch_layout.nb_channels == 1 ? 1 : 2;
    durationTicks = TicksOf(format->duration, AV_TIME_BASE_Q);
    // A file of the MP4 family (the QuickTime demuxer's: MP4, M4A, MOV,
    // 3GP) says to the sample how long its sound is, and its AAC coder pads
    // the last packet out; other containers' lengths may be estimates, and
    // cutting at one would lose sound.
    const AVStream* stream = format->streams[streamIndex];
    if (std::strstr(format->iformat->name, "mp4") != nullptr && stream->duration != AV_NOPTS_VALUE &&
        stream->duration > 0) {
        const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        const int64_t length = Mp4Length(format, stream);
        endTime = start + length;
        durationTicks = TicksOf(length, stream->time_base);
    }
    // An Ogg file of Vorbis alone goes to the reference decoder, which ends
    // it where its last page says.
    if (parameters->codec_id == AV_CODEC_ID_VORBIS && format->nb_streams == 1 &&
        std::strcmp(format->iformat->name, "ogg") == 0) {
        const int fd = OpenInputAgain(format);
        if (fd >= 0) {
            vorbis = VorbisFile::Open(fd, hostPath);
        }
        if (vorbis != nullptr) {
            CloseInput(&format);
            if (vorbis->GetDuration() > 0) {
                durationTicks = vorbis->GetDuration();
            }
            return OpenResult::kOk;
        }
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
        std::fprintf(stderr, "media: %s: the sound decoder did not open\n", name.c_str());
        Close();
        return OpenResult::kUnreadable;
    }
    return OpenResult::kOk;
}

bool SoundDecoder::Reopen()
{
    AVFormatContext* fresh = nullptr;
    if (OpenInput(&fresh, path.c_str()) < 0 || static_cast<unsigned>(streamIndex) >= fresh->nb_streams ||
        fresh->streams[streamIndex]->codecpar->codec_id != codec->codec_id) {
        CloseInput(&fresh);
        return false;
    }
    KeepOnlyStream(fresh, streamIndex);
    CloseInput(&format);
    format = fresh;
    return true;
}

size_t SoundDecoder::Available() const
{
    return PendingFrames() > readFrame ? PendingFrames() - readFrame : 0;
}

void SoundDecoder::Consume(size_t frames)
{
    readFrame += frames;
    consumedFrames += static_cast<int64_t>(frames);
    atStart = atStart && frames == 0;
}

int SoundDecoder::TakePassEnds()
{
    int ends = passEndsDue;
    passEndsDue = 0;
    size_t reached = 0;
    while (reached < passStarts.size() && passStarts[reached] < consumedFrames) {
        ++reached;
    }
    passStarts.erase(passStarts.begin(), passStarts.begin() + static_cast<std::ptrdiff_t>(reached));
    return ends + static_cast<int>(reached);
}

bool SoundDecoder::SetUpMixer(const AVChannelLayout& layout, int sampleFormat, int rate)
{
    swr_free(&mixer);
    av_channel_layout_uninit(&mixerLayout);
    // What the frame says is kept as it says it, so that the next frame in
    // the same form compares equal; the converter is told a layout it can
    // use, the usual one for the count when the file names none (a plain
    // WAV file).
    if (av_channel_layout_copy(&mixerLayout, &layout) < 0) {
        return false;
    }
    AVChannelLayout in = {};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&layout) == 0) {
        av_channel_layout_default(&in, layout.nb_channels);
    } else if (av_channel_layout_copy(&in, &layout) < 0) {
        return false;
    }
    AVChannelLayout out = {};
    av_channel_layout_default(&out, outChannels);
    // The same rate in and out: the mixer converts the samples and the
    // channels and holds nothing back.
    const int result = swr_alloc_set_opts2(&mixer, &out, AV_SAMPLE_FMT_FLT, rate, &in,
                                           static_cast<AVSampleFormat>(sampleFormat), rate, 0, nullptr);
    av_channel_layout_uninit(&out);
    av_channel_layout_uninit(&in);
    if (result < 0 || swr_init(mixer) < 0) {
        std::fprintf(stderr, "media: cannot convert %d channels of format %d at %d Hz\n", layout.nb_channels,
                     sampleFormat, rate);
        swr_free(&mixer);
        av_channel_layout_uninit(&mixerLayout);
        return false;
    }
    mixerRate = rate;
    mixerFormat = sampleFormat;
    return true;
}

bool SoundDecoder::SetUpResampler(int rate)
{
    swr_free(&resampler);
    resamplerRate = rate;
    resamplerDrained = false;
    resampledInput = 0;
    resampledBase = producedFrames;
    if (rate == kAudioRate) {
        return true;
    }
    AVChannelLayout layout = {};
    av_channel_layout_default(&layout, outChannels);
    const int result = swr_alloc_set_opts2(&resampler, &layout, AV_SAMPLE_FMT_FLT, kAudioRate, &layout,
                                           AV_SAMPLE_FMT_FLT, rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (result < 0 || swr_init(resampler) < 0) {
        std::fprintf(stderr, "media: cannot resample %d Hz\n", rate);
        swr_free(&resampler);
        resamplerRate = 0;
        return false;
    }
    return true;
}

bool SoundDecoder::Convert(const uint8_t** input, int inputFrames, int room)
{
    if (room <= 0) {
        return true;
    }
    try {
        const float* from = nullptr;
        int made = 0;
        if (resampler == nullptr) {
            // The mixer's own rate: the frames pass as they are.
            from = input != nullptr ? reinterpret_cast<const float*>(input[0]) : nullptr;
            made = input != nullptr ? inputFrames : 0;
        } else {
            converted.resize(static_cast<size_t>(room) * outChannels);
            uint8_t* output = reinterpret_cast<uint8_t*>(converted.data());
            made = swr_convert(resampler, &output, room, input, inputFrames);
            if (made < 0) {
                std::fprintf(stderr, "media: conversion failed: %s\n", ErrorText(made).c_str());
                return false;
            }
            from = converted.data();
        }
        const size_t start = pending.size();
        pending.resize(start + static_cast<size_t>(made) * kAudioChannels);
        float* target = pending.data() + start;
        for (int i = 0; i < made; ++i) {
            const float* frameFrom = from + static_cast<size_t>(i) * outChannels;
            target[2 * i] = frameFrom[0];
            target[2 * i + 1] = outChannels == 1 ? frameFrom[0] : frameFrom[1];
        }
        producedFrames += made;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "media: out of memory decoding\n");
        return false;
    }
    return true;
}

void SoundDecoder::DrainResampler()
{
    if (resampler == nullptr || resamplerDrained) {
        return;
    }
    resamplerDrained = true;
    // The resampler's estimate of its tail can fall short: drain in blocks
    // until it has nothing more.
    for (int block = 0; block < 64; ++block) {
        const size_t before = pending.size();
        if (!Convert(nullptr, 0, 4096) || pending.size() == before) {
            break;
        }
    }
}

bool SoundDecoder::Resample(const float* frames, int count, int rate)
{
    if (count <= 0) {
        return true;
    }
    if (rate != resamplerRate || resamplerDrained) {
        // The sound changed its rate midway: what the old converter still
        // holds is played before the new one starts.
        DrainResampler();
        if (!SetUpResampler(rate)) {
            return false;
        }
    }
    const uint8_t* input[1] = {reinterpret_cast<const uint8_t*>(frames)};
    const int room = resampler != nullptr ? swr_get_out_samples(resampler, count) : count;
    if (!Convert(input, count, room)) {
        return false;
    }
    resampledInput += count;
    return true;
}

bool SoundDecoder::TakeSamples(const uint8_t* const* planes, const AVChannelLayout& layout, int sampleFormat,
                               int rate, int count, int skip)
{
    const int channels = layout.nb_channels;
    if (count - skip <= 0) {
        return true;
    }
    if (!IsPlayable(path, channels, rate)) {
        return false;
    }
    count -= skip;
    if (passLength >= 0) {
        count = static_cast<int>(std::min<int64_t>(count, passLength - passSamples));
        if (count <= 0) {
            return true;
        }
    }
    passSamples += count;
    if (mixer == nullptr || rate != mixerRate || sampleFormat != mixerFormat ||
        av_channel_layout_compare(&layout, &mixerLayout) != 0) {
        if (!SetUpMixer(layout, sampleFormat, rate)) {
            return false;
        }
    }
    const AVSampleFormat format = static_cast<AVSampleFormat>(sampleFormat);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const size_t step = static_cast<size_t>(skip) * av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    const uint8_t* input[kMaxChannels] = {};
    for (int plane = 0; plane < (planar ? channels : 1); ++plane) {
        input[plane] = planes[plane] + step;
    }
    try {
        sourceFrames.resize(static_cast<size_t>(count) * outChannels);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "media: out of memory decoding\n");
        return false;
    }
    uint8_t* output = reinterpret_cast<uint8_t*>(sourceFrames.data());
    const int made = swr_convert(mixer, &output, count, input, count);
    if (made < 0) {
        std::fprintf(stderr, "media: conversion failed: %s\n", ErrorText(made).c_str());
        return false;
    }
    if (keeping) {
        // Kept only while the pass stays short and at one rate.
        keeping = (keptFrames.empty() || keptRate == rate) &&
                  (passSamples * kAudioRate <= static_cast<int64_t>(kKeptPassFrames) * rate);
        if (keeping) {
            try {
                keptFrames.insert(keptFrames.end(), sourceFrames.begin(),
                                  sourceFrames.begin() + static_cast<std::ptrdiff_t>(made) * outChannels);
                keptRate = rate;
            } catch (const std::bad_alloc&) {
                keeping = false;
            }
        }
        if (!keeping) {
            std::vector<float>().swap(keptFrames);
        }
    }
    return Resample(sourceFrames.data(), made, rate);
}

bool SoundDecoder::ReadFfmpeg()
{
    const int result = avcodec_receive_frame(codec, frame);
    if (result == 0) {
        const int channels = frame->ch_layout.nb_channels;
        bool ok = true;
        if (frame->nb_samples > 0 && frame->sample_rate > 0 && channels > 0) {
            if (!sawFirstSample) {
                sawFirstSample = true;
                firstSampleTime = frame->best_effort_timestamp;
            }
            int skip = 0;
            const int64_t time = frame->best_effort_timestamp;
            if (trimLeading && time != AV_NOPTS_VALUE && firstSampleTime != AV_NOPTS_VALUE && time < firstSampleTime) {
                const int64_t early =
                    av_rescale_q(firstSampleTime - time, codec->pkt_timebase, AVRational{1, frame->sample_rate});
                skip = static_cast<int>(std::min<int64_t>(early, frame->nb_samples));
            }
            if (frame->nb_samples > skip) {
                trimLeading = false;
            }
            int count = frame->nb_samples;
            if (endTime != AV_NOPTS_VALUE && time != AV_NOPTS_VALUE) {
                // The coder's padding after the last sample the file holds.
                const int64_t left =
                    time < endTime ? av_rescale_q(endTime - time, codec->pkt_timebase, AVRational{1, frame->sample_rate}) : 0;
                count = static_cast<int>(std::min<int64_t>(count, left));
            }
            ok = TakeSamples(frame->extended_data, frame->ch_layout, frame->format, frame->sample_rate, count, skip);
        }
        av_frame_unref(frame);
        if (!ok) {
            sourceFailed = true;
            return false;
        }
        return passLength < 0 || passSamples < passLength;
    }
    if (result == AVERROR(EAGAIN) && !demuxerDone) {
        int64_t time = AV_NOPTS_VALUE;
        if (FeedDecoder(format, codec, packet, streamIndex, &demuxerDone, &time) && !sawFirstPacket) {
            sawFirstPacket = true;
            firstPacketTime = time;
        }
        return true;
    }
    // The end, an error, or a decoder that wants input that will never
    // come.
    if (result != AVERROR_EOF && result != AVERROR(EAGAIN)) {
        std::fprintf(stderr, "media: decoding stopped: %s\n", ErrorText(result).c_str());
    }
    return false;
}

bool SoundDecoder::ReadVorbis()
{
    const float* planes[kMaxChannels] = {};
    AVChannelLayout layout = {};
    int rate = 0;
    const int count = vorbis->Read(planes, kMaxChannels, &layout, &rate);
    bool ok = count > 0;
    if (ok) {
        ok = TakeSamples(reinterpret_cast<const uint8_t* const*>(planes), layout, AV_SAMPLE_FMT_FLTP, rate, count, 0);
        sourceFailed = !ok;
    } else {
        sourceFailed = count < 0;
    }
    av_channel_layout_uninit(&layout);
    return ok;
}

bool SoundDecoder::ReadKept()
{
    const size_t frames = keptFrames.size() / outChannels;
    if (keptAt >= frames) {
        return false;
    }
    const size_t count = std::min<size_t>(frames - keptAt, 4096);
    if (!Resample(keptFrames.data() + keptAt * outChannels, static_cast<int>(count), keptRate)) {
        sourceFailed = true;
        return false;
    }
    keptAt += count;
    passSamples += static_cast<int64_t>(count);
    return true;
}

bool SoundDecoder::ReadSource()
{
    if (replaying) {
        return ReadKept();
    }
    if (vorbis != nullptr) {
        return ReadVorbis();
    }
    return ReadFfmpeg();
}

bool SoundDecoder::RestartSource()
{
    if (kept) {
        replaying = true;
        keptAt = 0;
    } else if (vorbis != nullptr) {
        if (!vorbis->Rewind()) {
            return false;
        }
        passFromOpen = true;
    } else {
        // Until a pass from the opening has ended, its length is unknown:
        // only opening the file again repeats it for certain.
        const bool reopened = passLength < 0 && Reopen();
        if (!reopened && !SeekToStart(format, streamIndex, firstPacketTime)) {
            return false;
        }
        avcodec_flush_buffers(codec);
        demuxerDone = false;
        passFromOpen = reopened;
        trimLeading = !reopened;
    }
    passSamples = 0;
    sourceDone = false;
    sourceFailed = false;
    if (!kept) {
        keeping = true;
        keptFrames.clear();
    }
    return true;
}

void SoundDecoder::EndPass()
{
    sourceDone = true;
    if (sourceFailed) {
        return;
    }
    if (passFromOpen && passLength < 0) {
        passLength = passSamples;
    }
    // A whole pass decoded from its start, short enough to keep.
    kept = kept || (keeping && !replaying && passSamples > 0 && !keptFrames.empty());
}

bool SoundDecoder::DecodeMore()
{
    if (!IsOpen() || decoderDone) {
        return false;
    }
    // Drop what has been played, so pending stays about a packet long.
    const size_t played = std::min(readFrame, PendingFrames());
    if (played > 0) {
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(played * kAudioChannels));
        readFrame -= played;
    }
    const size_t before = pending.size();
    while (!decoderDone && pending.size() == before) {
        if (!sourceDone) {
            if (!ReadSource()) {
                EndPass();
            }
            continue;
        }
        // The pass has given every sample, and more frames are wanted now:
        // the next pass, looping, else the end. A pass with nothing in it
        // would loop for ever.
        const int64_t boundary =
            resampledBase + (resamplerRate > 0 ? (resampledInput * kAudioRate + resamplerRate - 1) / resamplerRate : 0);
        if (looping && !sourceFailed && passSamples > 0 && RestartSource()) {
            if (passStarts.size() == 64) {
                // A loop of a few frames ends hundreds of times a packet:
                // only the latest starts are timed.
                passStarts.erase(passStarts.begin());
                ++passEndsDue;
            }
            passStarts.push_back(boundary);
            continue;
        }
        decoderDone = true;
        DrainResampler();
    }
    return pending.size() > before;
}

bool SoundDecoder::Rewind()
{
    if (!IsOpen()) {
        return false;
    }
    if (atStart) {
        readFrame = 0;
        return true;
    }
    if (!RestartSource()) {
        return false;
    }
    // The next frame does not follow on from the last: the converter starts
    // empty.
    swr_free(&resampler);
    resamplerRate = 0;
    resamplerDrained = false;
    resampledInput = 0;
    resampledBase = 0;
    pending.clear();
    readFrame = 0;
    producedFrames = 0;
    consumedFrames = 0;
    passStarts.clear();
    passEndsDue = 0;
    decoderDone = false;
    atStart = true;
    return true;
}

void SoundDecoder::Finish()
{
    pending.clear();
    readFrame = 0;
    sourceDone = true;
    sourceFailed = true;
    decoderDone = true;
    atStart = false;
    passStarts.clear();
    passEndsDue = 0;
}

}  // namespace platform
