#pragma once
// MIDI: Standard MIDI Files read into songs, and the synthesizer that plays
// them into the mixer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/effects.h"

namespace platform {

enum class MidiResult {
    kOk,
    // Missing, empty or unreadable file.
    kUnreadable,
    // Not a Standard MIDI File, or one whose chunks or events run past their
    // end or whose times run past what 64-bit frames hold.
    kMalformed,
    // No General MIDI SoundFont where one was looked for.
    kNoSoundFont,
    // The synthesizer or the output device could not start.
    kNoDevice,
    kOutOfMemory,
};

// One event of a song, timed from the song's start.
struct MidiEvent {
    int64_t frame = 0;    // output frames at kAudioRate
    uint8_t status = 0;   // 0x80 to 0xEF: a channel message; 0xF0: system exclusive
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t sysexOffset = 0;  // into GetSysexBytes, without the F0 and F7 bytes
    uint32_t sysexSize = 0;
};

// A Standard MIDI File (formats 0, 1 and 2, metrical or SMPTE time) read and
// checked whole: every chunk and event is bounds-checked, so a truncated or
// hostile file is refused rather than read past its end. The tracks are
// merged into one list in time order, with the tempo map already applied.
class MidiSong {
public:
    // The largest file Load reads.
    static constexpr size_t kMaxFileSize = 64u << 20;

    static std::unique_ptr<MidiSong> Parse(const uint8_t* bytes, size_t size, MidiResult* result);
    // Reads the file at a host path whole, then parses it.
    static std::unique_ptr<MidiSong> Load(const char* hostPath, MidiResult* result);

    const std::vector<MidiEvent>& GetEvents() const { return events; }
    const std::vector<uint8_t>& GetSysexBytes() const { return sysex; }
    // From the start to the end of the longest track, in frames at kAudioRate.
    int64_t GetLength() const { return length; }

private:
    MidiSong() = default;
    std::vector<MidiEvent> events;
    std::vector<uint8_t> sysex;
    int64_t length = 0;
};

// Where the General MIDI SoundFont is looked for: ORVA_SOUNDFONT when set,
// else Debian's FluidR3 GM font.
std::string GetSoundFontPath();
// True when the file there exists and is a SoundFont (a RIFF "sfbk" file).
bool IsSoundFontAvailable();

// A General MIDI synthesizer playing one song at a time into the mixer of
// AudioDevice, with volume, balance and one effect on its output. It holds
// the device open for its whole life. Every operation may be called from any
// thread; the mixer renders it on its own.
class MidiSynth {
public:
    // Loads the SoundFont (instruments are read when a song first selects
    // them) and joins the mixer; null, with a line on stderr, when either fails.
    static std::unique_ptr<MidiSynth> Create(MidiResult* result);
    // Leaves the mixer first, so nothing renders what is being torn down.
    ~MidiSynth();

    // Plays the song from the given frame, with the programs and controllers
    // that the song set before it; with repeat, goes back to the start at
    // every end. The song must outlive the play (until Stop, another Play or
    // the synthesizer's end).
    void Play(const MidiSong* song, int64_t startFrame, bool repeat);
    // Silences every voice at once and forgets the song; the effect's tail
    // goes too.
    void Stop();
    // Frames into the song of the next frame to play; the song's length once
    // a song that does not repeat has ended; 0 after Stop.
    int64_t GetPosition() const;
    // True from Play until Stop or the end of a song that does not repeat.
    bool IsPlaying() const;
    // Loads now, on the calling thread, the instruments the song selects, so
    // that the mixer does not read them from disk while it plays.
    void Preload(const MidiSong& song);

    // Attenuation in hundredths of a decibel, -10000 (silent) to 0 (full);
    // false and ignored outside that range.
    bool SetVolume(int32_t hundredthsDb);
    // Attenuation of one side: -10000 silences the right, 10000 the left.
    bool SetBalance(int32_t hundredthsDb);
    // Runs the output through the effect from now on, in place of any before;
    // null removes it.
    void SetEffect(std::unique_ptr<AudioEffect> effect);

    MidiSynth(const MidiSynth&) = delete;
    MidiSynth& operator=(const MidiSynth&) = delete;

private:
    struct Impl;
    explicit MidiSynth(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

}  // namespace platform
