#pragma once
// Ogg Vorbis files decoded sample for sample, by the Vorbis reference
// decoder: a Vorbis file's length is the granule position of its last page,
// which FFmpeg's reader cuts short by a block or so, so a loop made of whole
// cycles would lose its end and click at every seam. Only ffmpeg_file.cpp
// includes it.
extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cstdint>
#include <memory>

namespace platform {

class VorbisFile {
public:
    // Reads the headers of the file open at fd, which it takes over (closed
    // here, also on failure). Null, logged under `name`, when the reference
    // decoder does not take the file.
    static std::unique_ptr<VorbisFile> Open(int fd, const char* name);
    ~VorbisFile();
    VorbisFile(const VorbisFile&) = delete;
    VorbisFile& operator=(const VorbisFile&) = delete;

    // A block of the samples that follow: one plane a channel, in FFmpeg's
    // order for the layout given, valid until the next call. The count; 0 at
    // the end of the file, -1 (logged) when the file cannot be read further.
    int Read(const float** planes, int maxPlanes, AVChannelLayout* layout, int* rate);
    // Back to the first sample, exactly; false (logged) when the file does
    // not seek.
    bool Rewind();
    // Length in 100-ns units; 0 when not known.
    int64_t GetDuration() const { return durationTicks; }

private:
    struct State;
    explicit VorbisFile(std::unique_ptr<State> state);
    std::unique_ptr<State> state;
    int64_t durationTicks = 0;
};

}  // namespace platform
