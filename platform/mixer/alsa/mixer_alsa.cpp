#include <alsa/asoundlib.h>

#include <new>
#include <string>
#include <vector>

#include "platform/mixer/mixer.h"
#include "platform/mixer/mixer_backend.h"
#include "platform/sys/alsa_quiet.h"

// The mixer on ALSA's simple mixer interface, over the default control
// device, which we present as the one mixer device.
//
// The lines are the simple elements that drivers name after the same
// hardware faders: the speaker output's volume is the card's overall output
// fader, "Master"; wave output is the digital audio that programs play,
// "PCM"; the synthesizer is the card's MIDI synthesizer fader, "Synth"; CD
// audio is the analog CD input mixed into the output, "CD". Master is the
// one destination and the others that exist are its sources, as the inputs
// that feed it. An element without a playback volume is no control, so a
// card without "Master" has a speaker line without a volume.
namespace platform {

namespace {

enum Slot : uint32_t { kSlotMaster = 0, kSlotPcm = 1, kSlotSynth = 2, kSlotCd = 3, kSlotCount = 4 };

const struct {
    const char* element;
    MixerLineKind kind;
} kSlots[kSlotCount] = {
    {"Master", MixerLineKind::Speakers},
    {"PCM", MixerLineKind::WaveOut},
    {"Synth", MixerLineKind::Synthesizer},
    {"CD", MixerLineKind::CompactDisc},
};

const char* const kControlDevice = "default";

// An opened and loaded simple mixer, or the ALSA error that stopped it.
int OpenSimpleMixer(snd_mixer_t** out)
{
    *out = nullptr;
    const QuietAlsa quiet;
    snd_mixer_t* mixer = nullptr;
    int result = snd_mixer_open(&mixer, 0);
    if (result < 0) {
        return result;
    }
    result = snd_mixer_attach(mixer, kControlDevice);
    if (result >= 0) {
        result = snd_mixer_selem_register(mixer, nullptr, nullptr);
    }
    if (result >= 0) {
        result = snd_mixer_load(mixer);
    }
    if (result < 0) {
        snd_mixer_close(mixer);
        return result;
    }
    *out = mixer;
    return 0;
}

class AlsaMixerDevice : public MixerDevice {
public:
    explicit AlsaMixerDevice(snd_mixer_t* mixer) : mixer(mixer)
    {
        snd_mixer_selem_id_t* id = nullptr;
        if (snd_mixer_selem_id_malloc(&id) < 0) {
            return;
        }
        for (uint32_t slot = 0; slot < kSlotCount; ++slot) {
            snd_mixer_selem_id_set_name(id, kSlots[slot].element);
            snd_mixer_selem_id_set_index(id, 0);
            snd_mixer_elem_t* element = snd_mixer_find_selem(mixer, id);
            if (element != nullptr && snd_mixer_selem_has_playback_volume(element) != 0) {
                elements[slot] = element;
            }
        }
        snd_mixer_selem_id_free(id);
        for (uint32_t slot = kSlotPcm; slot < kSlotCount; ++slot) {
            if (elements[slot] != nullptr) {
                sources[sourceCount++] = slot;
            }
        }
    }
    ~AlsaMixerDevice() override { snd_mixer_close(mixer); }

    bool GetCaps(MixerDeviceCaps* out) override
    {
        if (out == nullptr) {
            return false;
        }
        try {
            out->name = kControlDevice;
        } catch (const std::bad_alloc&) {
            return false;
        }
        out->destinations = 1;
        return true;
    }

    bool GetDestination(uint32_t destination, MixerLineInfo* out) override
    {
        if (out == nullptr || destination != 0) {
            return false;
        }
        if (!Describe(kSlotMaster, out)) {
            return false;
        }
        out->connections = sourceCount;
        return true;
    }

    bool GetSource(uint32_t destination, uint32_t source, MixerLineInfo* out) override
    {
        if (out == nullptr || destination != 0 || source >= sourceCount) {
            return false;
        }
        return Describe(sources[source], out);
    }

    bool GetControls(uint32_t lineId, std::vector<MixerControlInfo>* out) override
    {
        if (out == nullptr || lineId >= kSlotCount) {
            return false;
        }
        try {
            out->clear();
            if (elements[lineId] != nullptr) {
                MixerControlInfo control;
                control.id = lineId;
                control.type = kMixerControlTypeVolume;
                control.name = kSlots[lineId].element;
                out->push_back(control);
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    bool GetVolume(uint32_t controlId, uint32_t* volume) override
    {
        long minimum = 0;
        long maximum = 0;
        if (volume == nullptr || !GetRange(controlId, &minimum, &maximum)) {
            return false;
        }
        // Other processes may have moved the fader since the load.
        snd_mixer_handle_events(mixer);
        // One value stands for the whole line: the loudest channel, which is
        // the one a uniform write would leave unchanged when all are equal.
        snd_mixer_elem_t* element = elements[controlId];
        bool found = false;
        long loudest = minimum;
        for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel) {
            const auto id = static_cast<snd_mixer_selem_channel_id_t>(channel);
            long value = 0;
            if (snd_mixer_selem_has_playback_channel(element, id) == 0 ||
                snd_mixer_selem_get_playback_volume(element, id, &value) < 0) {
                continue;
            }
            if (!found || value > loudest) {
                loudest = value;
            }
            found = true;
        }
        if (!found) {
            return false;
        }
        *volume = ScaleVolumeFromRange(loudest, minimum, maximum);
        return true;
    }

    bool SetVolume(uint32_t controlId, uint32_t volume) override
    {
        long minimum = 0;
        long maximum = 0;
        if (volume > kMixerVolumeMax || !GetRange(controlId, &minimum, &maximum)) {
            return false;
        }
        const long raw = static_cast<long>(ScaleVolumeToRange(volume, minimum, maximum));
        return snd_mixer_selem_set_playback_volume_all(elements[controlId], raw) >= 0;
    }

private:
    bool Describe(uint32_t slot, MixerLineInfo* out) const
    {
        out->id = slot;
        out->kind = kSlots[slot].kind;
        out->destination = 0;
        out->connections = 0;
        out->controls = elements[slot] != nullptr ? 1 : 0;
        try {
            out->name = kSlots[slot].element;
            out->shortName = kSlots[slot].element;
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    bool GetRange(uint32_t controlId, long* minimum, long* maximum) const
    {
        if (controlId >= kSlotCount || elements[controlId] == nullptr) {
            return false;
        }
        return snd_mixer_selem_get_playback_volume_range(elements[controlId], minimum, maximum) >= 0;
    }

    snd_mixer_t* mixer = nullptr;
    snd_mixer_elem_t* elements[kSlotCount] = {};
    uint32_t sources[kSlotCount] = {};  // slots of the source lines, in order
    uint32_t sourceCount = 0;
};

class AlsaMixerBackend : public MixerBackend {
public:
    const char* GetName() const override { return "alsa"; }
    uint32_t GetDeviceCount() override { return 1; }

    std::unique_ptr<MixerDevice> Open(uint32_t index) override
    {
        if (index != 0) {
            return nullptr;
        }
        snd_mixer_t* mixer = nullptr;
        if (OpenSimpleMixer(&mixer) < 0) {
            return nullptr;
        }
        try {
            return std::make_unique<AlsaMixerDevice>(mixer);
        } catch (const std::bad_alloc&) {
            snd_mixer_close(mixer);
            return nullptr;
        }
    }
};

}  // namespace

std::unique_ptr<MixerBackend> CreateAlsaMixerBackend(std::string* whyNot)
{
    // The backend is usable when its device opens now; each Open opens it
    // afresh, so volumes are read as they are at that moment.
    snd_mixer_t* mixer = nullptr;
    const int result = OpenSimpleMixer(&mixer);
    if (result < 0) {
        if (whyNot != nullptr) {
            *whyNot = std::string("\"") + kControlDevice + "\": " + snd_strerror(result);
        }
        return nullptr;
    }
    snd_mixer_close(mixer);
    return std::make_unique<AlsaMixerBackend>();
}

}  // namespace platform
