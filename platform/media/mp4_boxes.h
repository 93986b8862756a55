#pragma once
// What an MP4 (QuickTime) file says of one track's timing, read from its
// boxes directly: FFmpeg hands out the track's length only as its edit gives
// it, rounded to the movie's time scale (often milliseconds), while the
// track's own header holds it to the sample.
#include <cstdint>

namespace platform {

struct Mp4TrackTiming {
    uint32_t movieTimeScale = 0;  // units a second of the movie's header and its edits' durations
    uint32_t trackTimeScale = 0;  // units a second of the track's media: its samples
    int64_t mediaDuration = 0;    // the track's media, in its own units
    uint32_t editCount = 0;       // entries of the track's edit list
    // The first edit: how long it plays (movie units) and from where in the
    // media (track units; -1 for an empty edit).
    int64_t editDuration = 0;
    int64_t editMediaTime = 0;
    int32_t editRate = 0;  // 16.16 fixed point; 0x10000 plays at its own speed
};

// Reads the timing of the track whose header names it `trackId` from the
// file open at fd, without moving the descriptor's offset (the demuxer reads
// through it too). False when the file has no such track or its boxes do
// not hold together: the caller then keeps what the demuxer said.
bool ReadMp4TrackTiming(int fd, uint32_t trackId, Mp4TrackTiming* timing);

// The length of the track's sound in its own units, when its header and its
// single edit agree on it: the media less the edit's start (an encoder's
// priming), as long as the edit's duration is that same length rounded to
// the movie's time scale. 0 when they do not agree (an edit that cuts the
// sound short, several edits), which leaves the edit's word standing.
int64_t Mp4ExactTrackLength(const Mp4TrackTiming& timing);

}  // namespace platform
