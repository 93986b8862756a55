// Ogg Vorbis files through the reference decoder, read from a descriptor.
#include "platform/media/vorbis_file.h"

#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "platform/sys/printable.h"

namespace platform {

struct VorbisFile::State {
    OggVorbis_File file = {};
    int fd = -1;
    bool open = false;
    std::string name;
    // Holes in a damaged file each cost the decoder a page; a file made of
    // nothing else is given up on rather than read page by page for ever.
    int holesInARow = 0;

    ~State()
    {
        if (open) {
            ov_clear(&file);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
};

static size_t ReadFromFd(void* buffer, size_t size, size_t count, void* source)
{
    const int fd = *static_cast<int*>(source);
    const size_t wanted = size * count;
    if (size == 0 || wanted == 0) {
        return 0;
    }
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n = read(fd, static_cast<char*>(buffer) + got, wanted - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return got / size;
}

static int SeekFd(void* source, ogg_int64_t offset, int whence)
{
    return lseek(*static_cast<int*>(source), static_cast<off_t>(offset), whence) < 0 ? -1 : 0;
}

static long TellFd(void* source)
{
    return static_cast<long>(lseek(*static_cast<int*>(source), 0, SEEK_CUR));
}

// The channels of a Vorbis stream in the order the format gives them, as
// FFmpeg's channel bits; the planes are handed out sorted by bit, which is
// FFmpeg's native order for the layout of those bits.
static const uint64_t kVorbisChannels[8][8] = {
    {AV_CH_FRONT_CENTER},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_RIGHT, AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT,
     AV_CH_LOW_FREQUENCY},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_SIDE_LEFT, AV_CH_SIDE_RIGHT,
     AV_CH_BACK_CENTER, AV_CH_LOW_FREQUENCY},
    {AV_CH_FRONT_LEFT, AV_CH_FRONT_CENTER, AV_CH_FRONT_RIGHT, AV_CH_SIDE_LEFT, AV_CH_SIDE_RIGHT,
     AV_CH_BACK_LEFT, AV_CH_BACK_RIGHT, AV_CH_LOW_FREQUENCY},
};

VorbisFile::VorbisFile(std::unique_ptr<State> state) : state(std::move(state)) {}

VorbisFile::~VorbisFile() = default;

std::unique_ptr<VorbisFile> VorbisFile::Open(int fd, const char* name)
{
    std::unique_ptr<State> state(new (std::nothrow) State);
    if (state == nullptr) {
        close(fd);
        return nullptr;
    }
    state->fd = fd;
    try {
        state->name = PrintableText(name);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const ov_callbacks callbacks = {ReadFromFd, SeekFd, nullptr, TellFd};
    const int result = ov_open_callbacks(&state->fd, &state->file, nullptr, 0, callbacks);
    if (result != 0) {
        std::fprintf(stderr, "media: %s: the Vorbis decoder refused the file (%d)\n", state->name.c_str(), result);
        return nullptr;
    }
    state->open = true;
    std::unique_ptr<VorbisFile> vorbis(new (std::nothrow) VorbisFile(std::move(state)));
    if (vorbis == nullptr) {
        return nullptr;
    }
    const double seconds = ov_time_total(&vorbis->state->file, -1);
    if (std::isfinite(seconds) && seconds > 0.0 && seconds < 1e9) {
        vorbis->durationTicks = static_cast<int64_t>(std::llround(seconds * 1e7));
    }
    return vorbis;
}

int VorbisFile::Read(const float** planes, int maxPlanes, AVChannelLayout* layout, int* rate)
{
    for (;;) {
        float** pcm = nullptr;
        int link = 0;
        const long count = ov_read_float(&state->file, &pcm, 4096, &link);
        if (count == OV_HOLE && ++state->holesInARow < 1000) {
            // A page went missing: the decoder goes on from the next one.
            continue;
        }
        if (count < 0) {
            std::fprintf(stderr, "media: %s: Vorbis decoding stopped (%ld)\n", state->name.c_str(), count);
            return -1;
        }
        state->holesInARow = 0;
        if (count == 0) {
            return 0;
        }
        const vorbis_info* info = ov_info(&state->file, link);
        if (info == nullptr || info->channels < 1 || info->channels > 8 || info->channels > maxPlanes) {
            std::fprintf(stderr, "media: %s: %d Vorbis channels cannot be played\n", state->name.c_str(),
                         info != nullptr ? info->channels : 0);
            return -1;
        }
        const int channels = info->channels;
        const uint64_t* bits = kVorbisChannels[channels - 1];
        int order[8] = {0, 1, 2, 3, 4, 5, 6, 7};
        std::sort(order, order + channels, [bits](int a, int b) { return bits[a] < bits[b]; });
        uint64_t mask = 0;
        for (int i = 0; i < channels; ++i) {
            planes[i] = pcm[order[i]];
            mask |= bits[i];
        }
        av_channel_layout_uninit(layout);
        if (av_channel_layout_from_mask(layout, mask) < 0) {
            return -1;
        }
        *rate = info->rate > 0 && info->rate <= INT32_MAX ? static_cast<int>(info->rate) : 0;
        return static_cast<int>(count);
    }
}

bool VorbisFile::Rewind()
{
    const int result = ov_pcm_seek(&state->file, 0);
    if (result != 0) {
        std::fprintf(stderr, "media: %s: cannot seek to the start (%d)\n", state->name.c_str(), result);
        return false;
    }
    state->holesInARow = 0;
    return true;
}

}  // namespace platform
