#pragma once
#include <cstdint>

// MCI playback: CD audio, one wave file (alias "wave") and one MIDI file
// (alias "midi") played by command strings. Play commands ask for a
// notification; when one completes, the window procedure calls OnNotify,
// which restarts what loops and closes what has finished. Starting the
// module starts the audio mixer, whose line volumes Destroy puts back.
// Static operations over module globals.
//
// Threads: everything runs on the main thread. The notify poster alone is
// called on the interpreter's watcher thread (or on the main thread inside a
// command); it must only post the notification to the main thread.
class OrvaMci {
public:
    // The window message of a notification; its wParam is how the command
    // ended (1: completed), its lParam the device id.
    static constexpr uint32_t kNotifyMessage = 0x3B9;
    static constexpr uintptr_t kNotifySuccessful = 1;
    // A command holds at most this many bytes, its terminating zero included;
    // longer file names are refused.
    static constexpr int32_t kCommandSize = 256;
    // The track table holds this many tracks; a disc reporting more is cut.
    static constexpr int32_t kMaxTracks = 126;

    // Opens the CD device (its result unchecked: a machine without a drive
    // still runs) and starts the mixer; returns 1.
    static int32_t Initialize();
    // Stops and closes everything and puts back the mixer's volumes.
    static void Destroy();
    // The handler of a completed notification (wParam 1); other values are
    // ignored.
    static void OnNotify(uintptr_t wParam, intptr_t lParam);
    // Installs what posts kNotifyMessage to the main thread; null: play
    // commands then ask for no notification and nothing loops.
    static void SetNotifyPoster(void (*poster)(uintptr_t wParam, intptr_t lParam));

    // CD. The play operations need the disc read by ReadCdTracks first; a
    // track number is valid from 1 to the track count.
    static int32_t OpenCd();  // the command's result (0 on success)
    static void CloseCd();
    static void EjectCd();
    // Reads the disc's table of tracks; the track count, 0 without a disc.
    static int32_t ReadCdTracks();
    // The play command's result; 0 without a disc; the track count for a
    // track number that is not valid.
    static int32_t PlayCd(int32_t first, int32_t last, int32_t loop);
    static int32_t PlayCdTracks(int32_t first, int32_t last);
    static int32_t PlayCdAll();
    // 1 once the play command is sent; 0 without a disc; the track count for
    // a track number that is not valid.
    static int32_t PlayCdTracksLoop(int32_t first, int32_t last);
    static int32_t PlayCdTrackLoop(int32_t track);
    static void StopCd();
    // Pauses a playing CD or resumes a paused one; the new paused flag.
    static int32_t PauseCd();

    // Wave and MIDI files. PlayWave and PlayMidi return the play command's
    // result (0 on success), the Loop forms 1.
    static int32_t PlayWave(const char* fileName);
    static int32_t PlayWaveLoop(const char* fileName);
    static int32_t PlayMidi(const char* fileName);
    static int32_t PlayMidiLoop(const char* fileName);
    // When open: stops, or plays again from the start; the new paused flag
    // (0 when not open).
    static int32_t PauseWave();
    static int32_t PauseMidi();
    // The close command's result.
    static int32_t StopWave();
    static int32_t StopMidi();

    // What the module knows.
    static bool IsCdMediaPresent();
    static int32_t GetCdTrackCount();
    // Milliseconds; track 1 to the track count, or the track count + 1 for
    // the end entry (its position is the disc length); -1 outside.
    static int32_t GetCdTrackPosition(int32_t track);
    static int32_t GetCdTrackLength(int32_t track);
    static bool IsCdPlaying();
    static bool IsCdPaused();
    static bool IsWaveOpen();
    static bool IsMidiOpen();
};
