#pragma once
#include <cstdint>

namespace platform {
class MixerDevice;
struct MixerLineInfo;
}  // namespace platform

// The audio mixer: four line volumes of the first mixer device (the speaker
// output and the wave-output, synthesizer and CD inputs that feed it). The
// volumes each line had at start-up are kept, so that they can be put back
// when the program ends. Static operations over module globals; the MCI
// module starts and stops it.
//
// Threads: main thread only; no locks. No device handle stays open between
// calls: each operation opens mixer device 0 and closes it again.
class OrvaMixer {
public:
    // Line indexes.
    static constexpr int32_t kLineSpeaker = 0;
    static constexpr int32_t kLineWave = 1;
    static constexpr int32_t kLineSynthesizer = 2;
    static constexpr int32_t kLineCompactDisc = 3;
    static constexpr int32_t kLineCount = 4;
    static constexpr int32_t kVolumeMax = 65535;

    // Finds the lines' volume controls and records their volumes; 1 when the
    // mixer is usable, else 0 (the module then stays not started). While
    // started it changes nothing and returns 1, so the volumes saved at the
    // first start are the ones put back.
    static int32_t Initialize();
    // RestoreVolumes, then not started, with the records cleared as before
    // the start.
    static void Destroy();

    // 1 when the line's volume was set; the volume is clamped to 0 to
    // kVolumeMax. 0 before start, for a bad index, for a line without a
    // volume control and when the device refuses.
    static int32_t SetVolume(int32_t line, int32_t volume);
    // The line's current volume (0 to kVolumeMax), or -1 before start, for a
    // bad index, a line without a volume control or a failed read.
    static int32_t GetVolume(int32_t line);
    // Writes the line's recorded value to its control on the open device;
    // 1 when written. 0 for a null device, a bad index or an unsupported line.
    static int32_t ApplyVolume(platform::MixerDevice* mixer, int32_t line);
    // The volume the line had when the module started; 0 for a bad index or
    // an unsupported line.
    static uint32_t GetSavedVolume(int32_t line);
    // When started, every supported line gets back its saved volume.
    static void RestoreVolumes();

    // The steps of Initialize. EnumLines walks the speaker destinations of
    // the open device and their sources, marking the lines it finds a
    // volume control for; 0 when the device's capabilities cannot be read.
    static int32_t EnumLines(uint32_t device, platform::MixerDevice* mixer);
    // Looks for the first readable volume control of the line and, when
    // found, makes it the record of line index `index` (value read); 1 then.
    static int32_t FindVolumeControl(platform::MixerDevice* mixer, const platform::MixerLineInfo& line,
                                     int32_t index);

    static bool IsStarted();
    // True when a volume control was found for the line at start-up.
    static bool IsSupported(int32_t line);
};
