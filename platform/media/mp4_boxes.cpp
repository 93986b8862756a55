// Reading a track's timing from the boxes of an MP4 file: the movie header,
// and of each track its header, edit list and media header. Every box is
// checked against the one it sits in before anything of it is read.
#include "platform/media/mp4_boxes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

// Boxes looked at in one file, whatever their nesting: a real file's
// movie box holds a few dozen, and a hostile file of empty boxes would
// otherwise make the walk read its whole length eight bytes at a time.
constexpr int kMaxBoxes = 65536;

// The file and what is left of the walk's allowance.
struct Walk {
    int fd = -1;
    int boxesLeft = kMaxBoxes;
};

struct Box {
    uint32_t type = 0;
    int64_t body = 0;  // offset of its contents, past the header
    int64_t end = 0;   // offset just past the box
};

constexpr uint32_t Type(const char (&name)[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
           uint32_t(uint8_t(name[3]));
}

uint32_t Be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint64_t Be64(const uint8_t* p)
{
    return uint64_t(Be32(p)) << 32 | Be32(p + 4);
}

// Reads exactly `size` bytes at `offset`, within [offset, limit).
bool ReadAt(int fd, int64_t offset, int64_t limit, void* out, size_t size)
{
    if (offset < 0 || offset > limit || int64_t(size) > limit - offset) {
        return false;
    }
    uint8_t* bytes = static_cast<uint8_t*>(out);
    while (size > 0) {
        const ssize_t got = pread(fd, bytes, size, off_t(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        offset += got;
        size -= size_t(got);
    }
    return true;
}

// Walks the boxes of [begin, end) and hands each to `visit` until it
// answers false; false when a box does not fit its parent.
template <typename Visit>
bool EachBox(Walk& walk, int64_t begin, int64_t end, Visit&& visit)
{
    const int fd = walk.fd;
    int64_t at = begin;
    while (at + 8 <= end) {
        if (walk.boxesLeft == 0) {
            return false;
        }
        --walk.boxesLeft;
        uint8_t header[16];
        if (!ReadAt(fd, at, end, header, 8)) {
            return false;
        }
        Box box;
        box.type = Be32(header + 4);
        const uint64_t size = Be32(header);
        box.body = at + 8;
        if (size == 1) {
            if (!ReadAt(fd, at + 8, end, header + 8, 8)) {
                return false;
            }
            const uint64_t large = Be64(header + 8);
            box.body = at + 16;
            if (large < 16 || large > uint64_t(end - at)) {
                return false;
            }
            box.end = at + int64_t(large);
        } else if (size == 0) {
            // To the end of its parent.
            box.end = end;
        } else {
            if (size < 8 || size > uint64_t(end - at)) {
                return false;
            }
            box.end = at + int64_t(size);
        }
        if (!visit(box)) {
            return true;
        }
        at = box.end;
    }
    return true;
}

// A full box's version, and its contents past version and flags: the
// first `room` bytes of them, which is all of any version of the boxes read
// here.
bool ReadFullBox(int fd, const Box& box, uint8_t* out, size_t room, size_t* size, int* version)
{
    const int64_t length = box.end - box.body;
    uint8_t flags[4];
    if (length < 4 || !ReadAt(fd, box.body, box.end, flags, 4)) {
        return false;
    }
    *version = flags[0];
    *size = uint64_t(length - 4) < room ? size_t(length - 4) : room;
    return ReadAt(fd, box.body + 4, box.end, out, *size);
}

// A track as far as it was read: its id, and its timing but for the movie's
// time scale.
struct Track {
    bool hasId = false;
    uint32_t id = 0;
    bool hasMedia = false;
    Mp4TrackTiming timing;
};

// The word after the creation and modification times that the movie, track
// and media headers start with (of 4 or 8 bytes by the version): the
// movie's and the media's time scale, the track's id. Where the header
// gives one, its duration after that word is put in *duration; 0 when it
// is all ones, which says it is not known.
bool ReadHeaderWord(int fd, const Box& box, uint32_t* word, int64_t* duration = nullptr)
{
    uint8_t body[32];
    size_t size = 0;
    int version = 0;
    if (!ReadFullBox(fd, box, body, sizeof body, &size, &version)) {
        return false;
    }
    const size_t at = version == 1 ? 16 : 8;
    const size_t wide = version == 1 ? 8 : 4;
    if (size < at + 4 + (duration != nullptr ? wide : 0)) {
        return false;
    }
    *word = Be32(body + at);
    if (duration != nullptr) {
        const uint64_t length = version == 1 ? Be64(body + at + 4) : Be32(body + at + 4);
        const uint64_t unknown = version == 1 ? ~uint64_t(0) : 0xFFFFFFFFu;
        *duration = length != unknown && length < (uint64_t(1) << 62) ? int64_t(length) : 0;
    }
    return true;
}

bool ReadEditList(int fd, const Box& box, Track* track)
{
    uint8_t body[4 + 20];
    size_t size = 0;
    int version = 0;
    if (!ReadFullBox(fd, box, body, sizeof body, &size, &version) || size < 4) {
        return false;
    }
    Mp4TrackTiming& timing = track->timing;
    timing.editCount = Be32(body);
    if (timing.editCount == 0) {
        return true;
    }
    const uint8_t* entry = body + 4;
    if (version == 1) {
        if (size < 4 + 20) {
            return false;
        }
        const uint64_t duration = Be64(entry);
        timing.editDuration = duration < (uint64_t(1) << 62) ? int64_t(duration) : 0;
        timing.editMediaTime = int64_t(Be64(entry + 8));
        timing.editRate = int32_t(Be32(entry + 16));
    } else {
        if (size < 4 + 12) {
            return false;
        }
        timing.editDuration = Be32(entry);
        timing.editMediaTime = int32_t(Be32(entry + 4));
        timing.editRate = int32_t(Be32(entry + 8));
    }
    return true;
}

// The one box of `type` inside `parent`, read by `read`; true when there is
// none. A box that does not fit its parent fails the whole walk.
template <typename Read>
bool ReadChild(Walk& walk, const Box& parent, uint32_t type, Read&& read)
{
    bool ok = true;
    const bool walked = EachBox(walk, parent.body, parent.end, [&](const Box& box) {
        if (box.type != type) {
            return true;
        }
        ok = read(box);
        return false;
    });
    return walked && ok;
}

bool ReadTrack(Walk& walk, const Box& trak, Track* track)
{
    const int fd = walk.fd;
    bool ok = true;
    const bool walked = EachBox(walk, trak.body, trak.end, [&](const Box& box) {
        if (box.type == Type("tkhd")) {
            ok = track->hasId = ReadHeaderWord(fd, box, &track->id);
        } else if (box.type == Type("edts")) {
            ok = ReadChild(walk, box, Type("elst"), [&](const Box& list) { return ReadEditList(fd, list, track); });
        } else if (box.type == Type("mdia")) {
            ok = ReadChild(walk, box, Type("mdhd"), [&](const Box& header) {
                return track->hasMedia = ReadHeaderWord(fd, header, &track->timing.trackTimeScale,
                                                        &track->timing.mediaDuration);
            });
        }
        return ok;
    });
    return walked && ok && track->hasId && track->hasMedia;
}

}  // namespace

bool ReadMp4TrackTiming(int fd, uint32_t trackId, Mp4TrackTiming* timing)
{
    struct stat info;
    if (fd < 0 || timing == nullptr || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    Walk walk;
    walk.fd = fd;
    Box file;
    file.end = info.st_size;
    int found = 0;
    uint32_t movieTimeScale = 0;
    // The movie box holds every track; anything amiss in it, or two tracks
    // of the id, and the demuxer's word stands.
    const bool ok = ReadChild(walk, file, Type("moov"), [&](const Box& movie) {
        bool fits = true;
        const bool walked = EachBox(walk, movie.body, movie.end, [&](const Box& box) {
            if (box.type == Type("mvhd")) {
                fits = ReadHeaderWord(fd, box, &movieTimeScale);
            } else if (box.type == Type("trak")) {
                Track track;
                fits = ReadTrack(walk, box, &track);
                if (fits && track.id == trackId) {
                    ++found;
                    *timing = track.timing;
                }
            }
            return fits;
        });
        return walked && fits;
    });
    timing->movieTimeScale = movieTimeScale;
    return ok && found == 1 && timing->movieTimeScale > 0 && timing->trackTimeScale > 0;
}

int64_t Mp4ExactTrackLength(const Mp4TrackTiming& timing)
{
    if (timing.movieTimeScale == 0 || timing.trackTimeScale == 0 || timing.mediaDuration <= 0) {
        return 0;
    }
    if (timing.editCount == 0) {
        return timing.mediaDuration;
    }
    if (timing.editCount != 1 || timing.editRate != 0x10000 || timing.editMediaTime < 0 ||
        timing.editMediaTime >= timing.mediaDuration || timing.editDuration <= 0) {
        return 0;
    }
    const int64_t length = timing.mediaDuration - timing.editMediaTime;
    // Within one unit of the movie's scale, compared without rounding:
    // |edit / movieScale - length / trackScale| < 1 / movieScale.
    const __int128 edit = __int128(timing.editDuration) * timing.trackTimeScale;
    const __int128 media = __int128(length) * timing.movieTimeScale;
    const __int128 apart = edit > media ? edit - media : media - edit;
    return apart < __int128(timing.trackTimeScale) ? length : 0;
}

}  // namespace platform
