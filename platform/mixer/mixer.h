#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The system's volume controls, seen as a mixer device of destination lines
// (where sound leaves, such as the speakers) fed by source lines (wave
// output, synthesizer, CD), each line carrying controls. Volumes are always
// 0 to kMixerVolumeMax here, whatever range the hardware uses.
//
// Two backends: "alsa", the default control device through ALSA's simple
// mixer, and "memory", one device whose volumes live in this process (tests,
// machines without a sound card) and, having no hardware to move, set the
// gains of our own mix instead (AudioDevice: the speakers' volume is the
// master gain, the wave-output, synthesizer and CD sources the gains of
// those lines, each volume linear in amplitude). ORVA_MIXER names one of
// them; without it ALSA is tried first. Not thread-safe beyond the memory backend's own state:
// callers use one thread.
namespace platform {

constexpr uint32_t kMixerVolumeMax = 65535;

// The control type of a volume fader, as the engine's callers number it.
constexpr uint32_t kMixerControlTypeVolume = 0x50030001;

enum class MixerLineKind : uint32_t {
    Other,
    Speakers,     // a destination: the speaker output
    WaveOut,      // a source: digital audio played by programs
    Synthesizer,  // a source: the MIDI synthesizer
    CompactDisc,  // a source: analog CD audio
};

struct MixerDeviceCaps {
    std::string name;
    uint32_t destinations = 0;
};

struct MixerLineInfo {
    uint32_t id = 0;           // unique within the device
    MixerLineKind kind = MixerLineKind::Other;
    uint32_t destination = 0;  // index of the destination, or of the one fed
    uint32_t connections = 0;  // sources feeding a destination; 0 for a source
    uint32_t controls = 0;     // controls on this line
    std::string name;
    std::string shortName;
};

struct MixerControlInfo {
    uint32_t id = 0;  // unique within the device
    uint32_t type = 0;
    std::string name;
};

// One open mixer device. Every query fails cleanly (false) on an index or
// id the device does not have.
class MixerDevice {
public:
    virtual ~MixerDevice() = default;
    virtual bool GetCaps(MixerDeviceCaps* out) = 0;
    virtual bool GetDestination(uint32_t destination, MixerLineInfo* out) = 0;
    virtual bool GetSource(uint32_t destination, uint32_t source, MixerLineInfo* out) = 0;
    // Every control of the line, in the device's order.
    virtual bool GetControls(uint32_t lineId, std::vector<MixerControlInfo>* out) = 0;
    // Volume controls only; volumes 0 to kMixerVolumeMax.
    virtual bool GetVolume(uint32_t controlId, uint32_t* volume) = 0;
    // False for a volume above kMixerVolumeMax, which is never clamped here.
    virtual bool SetVolume(uint32_t controlId, uint32_t volume) = 0;
};

class MixerSystem {
public:
    // Chooses the backend now: "alsa", "memory", or null or empty for the
    // first that opens, ALSA before memory. The choice is logged. False when
    // the named backend does not open (or is not a backend); then there is no
    // device until another choice. Without a call, the first use chooses by
    // ORVA_MIXER.
    static bool SelectBackend(const char* name);
    // "alsa" or "memory"; empty when none could be chosen.
    static const char* GetBackendName();
    static uint32_t GetDeviceCount();
    // Null when the index is not a device or the device does not open.
    static std::unique_ptr<MixerDevice> Open(uint32_t index);
};

// Volume on an ALSA-style raw range [minimum, maximum] from 0 to
// kMixerVolumeMax, rounded to nearest. Going to the finer of the two scales
// and back gives the value again exactly. A volume above kMixerVolumeMax
// counts as kMixerVolumeMax; an empty or inverted range gives minimum.
int64_t ScaleVolumeToRange(uint32_t volume, int64_t minimum, int64_t maximum);
// The reverse; a raw value outside the range counts as its nearer end.
uint32_t ScaleVolumeFromRange(int64_t raw, int64_t minimum, int64_t maximum);

// What the memory backend's one device looks like. Tests shape it to meet
// mixers the default layout does not have.
struct MemoryMixerControl {
    uint32_t type = kMixerControlTypeVolume;
    std::string name = "Volume";
    uint32_t volume = 0;   // for volume controls
    bool readable = true;  // false: reads fail
    bool writable = true;  // false: writes fail
};

struct MemoryMixerLine {
    MixerLineKind kind = MixerLineKind::Other;
    std::string name;
    std::string shortName;
    std::vector<MemoryMixerControl> controls;
    std::vector<MemoryMixerLine> sources;  // destinations only
};

struct MemoryMixerLayout {
    uint32_t devices = 1;  // how many devices are reported; all share one layout
    bool opens = true;     // false: every open fails
    bool capsReadable = true;
    std::vector<MemoryMixerLine> destinations;
};

class MemoryMixer {
public:
    // A speaker destination "Master" with one volume control, fed by "PCM"
    // (wave output), "Synth" and "CD", each with one volume control; every
    // volume at kDefaultVolume, full, so that the output is what it would be
    // without a mixer until a program sets a volume.
    static constexpr uint32_t kDefaultVolume = kMixerVolumeMax;
    static MemoryMixerLayout DefaultLayout();
    // Replaces the memory device (and its volumes) for every later open; the
    // new volumes drive the mix at once when the backend is in use.
    static void SetLayout(const MemoryMixerLayout& layout);
    // The current volume of a control, read directly (not through a device,
    // so unreadable controls can be checked too): control `control` of
    // destination `destination`, or of its source `source` when that is not
    // negative. False when there is no such control.
    static bool PeekVolume(uint32_t destination, int32_t source, uint32_t control, uint32_t* volume);
};

}  // namespace platform
