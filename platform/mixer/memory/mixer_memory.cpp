#include <mutex>
#include <new>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/mixer/mixer.h"
#include "platform/mixer/mixer_backend.h"

// The in-process mixer: the layout and its volumes live in one process-wide
// state, so volumes set through one open survive to the next, as a real
// device's do. With no hardware control to move, the volumes are the
// output's own gains while this backend is the one in use: the speakers'
// volume the master gain of the mix, the wave-output, synthesizer and CD
// sources feeding them the gains of those lines (AudioDevice).
namespace platform {

// A destination's own line id has every source bit set; a source's is its
// index. Destinations above 0xFFFE cannot be told apart from the marker, so
// layouts are limited to that.
static constexpr uint32_t kOwnLine = 0xFFFF;

static uint32_t LineId(uint32_t destination, uint32_t source)
{
    return (destination << 16) | source;
}

struct MemoryState {
    std::mutex lock;
    MemoryMixerLayout layout = MemoryMixer::DefaultLayout();
    // Memory backends alive: while there is one, the volumes drive the mix.
    int32_t drivers = 0;
};

// Never destroyed: the chosen backend, a static of another file, leaves the
// output's gains as it goes at exit and must still find the state.
static MemoryState& State()
{
    static MemoryState* state = new MemoryState();
    return *state;
}

// A line's share of the output: the product of its volume faders, linear
// in amplitude, as 0 to kMixerVolumeMax reads. A line without one passes
// its sound unchanged.
static float LineGain(const MemoryMixerLine& line)
{
    float gain = 1.0f;
    for (const MemoryMixerControl& control : line.controls) {
        if (control.type == kMixerControlTypeVolume) {
            gain *= static_cast<float>(control.volume) / static_cast<float>(kMixerVolumeMax);
        }
    }
    return gain;
}

// Gives the mix the gains the volumes make. Only the speaker outputs and
// what feeds them are heard; lines of another destination (a recording
// input) change nothing. The state's lock is held.
static void DriveOutput(const MemoryState& state)
{
    if (state.drivers == 0) {
        return;
    }
    float master = 1.0f;
    float lines[kAudioLineCount] = {1.0f, 1.0f, 1.0f};
    for (const MemoryMixerLine& destination : state.layout.destinations) {
        if (destination.kind != MixerLineKind::Speakers) {
            continue;
        }
        master *= LineGain(destination);
        for (const MemoryMixerLine& source : destination.sources) {
            switch (source.kind) {
            case MixerLineKind::WaveOut:
                lines[static_cast<int32_t>(AudioLine::kWave)] *= LineGain(source);
                break;
            case MixerLineKind::Synthesizer:
                lines[static_cast<int32_t>(AudioLine::kSynthesizer)] *= LineGain(source);
                break;
            case MixerLineKind::CompactDisc:
                lines[static_cast<int32_t>(AudioLine::kCompactDisc)] *= LineGain(source);
                break;
            default:
                break;
            }
        }
    }
    AudioDevice::SetMasterGain(master);
    for (int32_t line = 0; line < kAudioLineCount; ++line) {
        AudioDevice::SetLineGain(static_cast<AudioLine>(line), lines[line]);
    }
}

// The mix as it is without a mixer.
static void ReleaseOutput()
{
    AudioDevice::SetMasterGain(1.0f);
    for (int32_t line = 0; line < kAudioLineCount; ++line) {
        AudioDevice::SetLineGain(static_cast<AudioLine>(line), 1.0f);
    }
}

// The line with this id, or null. The state's lock is held.
static MemoryMixerLine* FindLine(MemoryMixerLayout& layout, uint32_t lineId)
{
    const uint32_t destination = lineId >> 16;
    const uint32_t source = lineId & 0xFFFF;
    if (destination >= layout.destinations.size()) {
        return nullptr;
    }
    MemoryMixerLine& line = layout.destinations[destination];
    if (source == kOwnLine) {
        return &line;
    }
    return source < line.sources.size() ? &line.sources[source] : nullptr;
}

// Control ids number the controls in layout order: each destination's own,
// then those of its sources, destination by destination. The lock is held.
static MemoryMixerControl* FindControl(MemoryMixerLayout& layout, uint32_t controlId)
{
    uint32_t first = 0;
    for (MemoryMixerLine& destination : layout.destinations) {
        if (controlId - first < destination.controls.size()) {
            return &destination.controls[controlId - first];
        }
        first += static_cast<uint32_t>(destination.controls.size());
        for (MemoryMixerLine& source : destination.sources) {
            if (controlId - first < source.controls.size()) {
                return &source.controls[controlId - first];
            }
            first += static_cast<uint32_t>(source.controls.size());
        }
    }
    return nullptr;
}

// The id of the line's first control. The lock is held.
static uint32_t FirstControlId(const MemoryMixerLayout& layout, const MemoryMixerLine* wanted)
{
    uint32_t first = 0;
    for (const MemoryMixerLine& destination : layout.destinations) {
        if (&destination == wanted) {
            return first;
        }
        first += static_cast<uint32_t>(destination.controls.size());
        for (const MemoryMixerLine& source : destination.sources) {
            if (&source == wanted) {
                return first;
            }
            first += static_cast<uint32_t>(source.controls.size());
        }
    }
    return first;
}

static bool Describe(const MemoryMixerLine& line, uint32_t id, uint32_t destination, bool isDestination,
                     MixerLineInfo* out)
{
    out->id = id;
    out->kind = line.kind;
    out->destination = destination;
    out->connections = isDestination ? static_cast<uint32_t>(line.sources.size()) : 0;
    out->controls = static_cast<uint32_t>(line.controls.size());
    try {
        out->name = line.name;
        out->shortName = line.shortName;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

class MemoryMixerDevice : public MixerDevice {
public:
    bool GetCaps(MixerDeviceCaps* out) override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (out == nullptr || !state.layout.capsReadable) {
            return false;
        }
        out->name = "Memory Mixer";
        out->destinations = static_cast<uint32_t>(state.layout.destinations.size());
        return true;
    }

    bool GetDestination(uint32_t destination, MixerLineInfo* out) override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (out == nullptr || destination >= state.layout.destinations.size()) {
            return false;
        }
        return Describe(state.layout.destinations[destination], LineId(destination, kOwnLine), destination, true, out);
    }

    bool GetSource(uint32_t destination, uint32_t source, MixerLineInfo* out) override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (out == nullptr || destination >= state.layout.destinations.size()) {
            return false;
        }
        const MemoryMixerLine& owner = state.layout.destinations[destination];
        if (source >= owner.sources.size() || source >= kOwnLine) {
            return false;
        }
        return Describe(owner.sources[source], LineId(destination, source), destination, false, out);
    }

    bool GetControls(uint32_t lineId, std::vector<MixerControlInfo>* out) override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        const MemoryMixerLine* line = FindLine(state.layout, lineId);
        if (out == nullptr || line == nullptr) {
            return false;
        }
        const uint32_t first = FirstControlId(state.layout, line);
        try {
            out->clear();
            for (size_t i = 0; i < line->controls.size(); ++i) {
                MixerControlInfo info;
                info.id = first + static_cast<uint32_t>(i);
                info.type = line->controls[i].type;
                info.name = line->controls[i].name;
                out->push_back(info);
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    bool GetVolume(uint32_t controlId, uint32_t* volume) override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        const MemoryMixerControl* control = FindControl(state.layout, controlId);
        if (volume == nullptr || control == nullptr || control->type != kMixerControlTypeVolume ||
            !control->readable) {
            return false;
        }
        *volume = control->volume;
        return true;
    }

    bool SetVolume(uint32_t controlId, uint32_t volume) override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        MemoryMixerControl* control = FindControl(state.layout, controlId);
        if (control == nullptr || control->type != kMixerControlTypeVolume || !control->writable ||
            volume > kMixerVolumeMax) {
            return false;
        }
        control->volume = volume;
        DriveOutput(state);
        return true;
    }
};

class MemoryMixerBackend : public MixerBackend {
public:
    MemoryMixerBackend()
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        ++state.drivers;
        DriveOutput(state);
    }

    ~MemoryMixerBackend() override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (--state.drivers == 0) {
            ReleaseOutput();
        }
    }

    const char* GetName() const override { return "memory"; }

    uint32_t GetDeviceCount() override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        return state.layout.devices;
    }

    std::unique_ptr<MixerDevice> Open(uint32_t index) override
    {
        MemoryState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (!state.layout.opens || index >= state.layout.devices) {
            return nullptr;
        }
        return std::make_unique<MemoryMixerDevice>();
    }
};

std::unique_ptr<MixerBackend> CreateMemoryMixerBackend()
{
    return std::make_unique<MemoryMixerBackend>();
}

static MemoryMixerLine VolumeLine(MixerLineKind kind, const char* name)
{
    MemoryMixerLine line;
    line.kind = kind;
    line.name = name;
    line.shortName = name;
    MemoryMixerControl volume;
    volume.volume = MemoryMixer::kDefaultVolume;
    line.controls.push_back(volume);
    return line;
}

MemoryMixerLayout MemoryMixer::DefaultLayout()
{
    // The names of the ALSA elements that stand for the same lines, so a log
    // reads alike on either backend.
    MemoryMixerLayout layout;
    MemoryMixerLine speakers = VolumeLine(MixerLineKind::Speakers, "Master");
    speakers.sources.push_back(VolumeLine(MixerLineKind::WaveOut, "PCM"));
    speakers.sources.push_back(VolumeLine(MixerLineKind::Synthesizer, "Synth"));
    speakers.sources.push_back(VolumeLine(MixerLineKind::CompactDisc, "CD"));
    layout.destinations.push_back(speakers);
    return layout;
}

// A device never holds a volume it could not report.
static void ClampVolumes(MemoryMixerLine& line)
{
    for (MemoryMixerControl& control : line.controls) {
        if (control.volume > kMixerVolumeMax) {
            control.volume = kMixerVolumeMax;
        }
    }
}

void MemoryMixer::SetLayout(const MemoryMixerLayout& layout)
{
    MemoryState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.layout = layout;
    // Line ids keep 16 bits for each index; drop what does not fit rather
    // than hand out ids that alias.
    if (state.layout.destinations.size() > kOwnLine) {
        state.layout.destinations.resize(kOwnLine);
    }
    for (MemoryMixerLine& destination : state.layout.destinations) {
        if (destination.sources.size() > kOwnLine) {
            destination.sources.resize(kOwnLine);
        }
        for (MemoryMixerLine& source : destination.sources) {
            source.sources.clear();
            ClampVolumes(source);
        }
        ClampVolumes(destination);
    }
    DriveOutput(state);
}

bool MemoryMixer::PeekVolume(uint32_t destination, int32_t source, uint32_t control, uint32_t* volume)
{
    MemoryState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (volume == nullptr || destination >= state.layout.destinations.size()) {
        return false;
    }
    const MemoryMixerLine* line = &state.layout.destinations[destination];
    if (source >= 0) {
        if (static_cast<size_t>(source) >= line->sources.size()) {
            return false;
        }
        line = &line->sources[static_cast<size_t>(source)];
    }
    if (control >= line->controls.size()) {
        return false;
    }
    *volume = line->controls[control].volume;
    return true;
}

}  // namespace platform
