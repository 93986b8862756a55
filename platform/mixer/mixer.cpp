// The portable part of the system mixer: the choice of backend and the
// scaling of volumes to a line's range.
#include "platform/mixer/mixer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/mixer/mixer_backend.h"

namespace platform {

// The chosen backend, for the whole process; chosen on first use.
struct MixerChoice {
    bool chosen = false;
    std::unique_ptr<MixerBackend> backend;
};

static MixerChoice& Choice()
{
    static MixerChoice choice;
    return choice;
}

static std::unique_ptr<MixerBackend> ChooseBackend(const char* wanted)
{
    const bool any = wanted == nullptr || wanted[0] == '\0';
    if (!any && std::strcmp(wanted, "alsa") != 0 && std::strcmp(wanted, "memory") != 0) {
        std::fprintf(stderr, "mixer: \"%s\" is not a mixer backend (alsa or memory)\n", wanted);
        return nullptr;
    }
    if (any || std::strcmp(wanted, "alsa") == 0) {
        std::string whyNot;
        std::unique_ptr<MixerBackend> alsa = CreateAlsaMixerBackend(&whyNot);
        if (alsa != nullptr) {
            std::fprintf(stderr, "mixer: using the ALSA mixer of the default control device\n");
            return alsa;
        }
        if (!any) {
            std::fprintf(stderr, "mixer: no ALSA mixer could be opened (%s)\n", whyNot.c_str());
            return nullptr;
        }
        std::fprintf(stderr, "mixer: no ALSA mixer could be opened (%s); volumes are kept in memory\n",
                     whyNot.c_str());
        return CreateMemoryMixerBackend();
    }
    std::fprintf(stderr, "mixer: volumes are kept in memory, as asked\n");
    return CreateMemoryMixerBackend();
}

static MixerBackend* Backend()
{
    MixerChoice& choice = Choice();
    if (!choice.chosen) {
        MixerSystem::SelectBackend(std::getenv("ORVA_MIXER"));
    }
    return choice.backend.get();
}

bool MixerSystem::SelectBackend(const char* name)
{
    MixerChoice& choice = Choice();
    choice.backend.reset();
    choice.chosen = true;
    try {
        choice.backend = ChooseBackend(name);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "mixer: out of memory choosing the backend\n");
    }
    return choice.backend != nullptr;
}

const char* MixerSystem::GetBackendName()
{
    MixerBackend* backend = Backend();
    return backend != nullptr ? backend->GetName() : "";
}

uint32_t MixerSystem::GetDeviceCount()
{
    MixerBackend* backend = Backend();
    return backend != nullptr ? backend->GetDeviceCount() : 0;
}

std::unique_ptr<MixerDevice> MixerSystem::Open(uint32_t index)
{
    MixerBackend* backend = Backend();
    if (backend == nullptr || index >= backend->GetDeviceCount()) {
        return nullptr;
    }
    try {
        return backend->Open(index);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "mixer: out of memory opening device %u\n", index);
        return nullptr;
    }
}

// 128-bit intermediates: a raw range may span most of int64, and the product
// with 65535 must not overflow.
using Wide = __int128;

int64_t ScaleVolumeToRange(uint32_t volume, int64_t minimum, int64_t maximum)
{
    if (maximum <= minimum) {
        return minimum;
    }
    const Wide span = static_cast<Wide>(maximum) - minimum;
    const Wide clamped = volume > kMixerVolumeMax ? kMixerVolumeMax : volume;
    // The divisor is odd, so no quotient ends in exactly one half: rounding
    // is to nearest without a tie rule.
    const Wide offset = (clamped * span + kMixerVolumeMax / 2) / kMixerVolumeMax;
    return static_cast<int64_t>(minimum + offset);
}

uint32_t ScaleVolumeFromRange(int64_t raw, int64_t minimum, int64_t maximum)
{
    if (maximum <= minimum) {
        return 0;
    }
    if (raw <= minimum) {
        return 0;
    }
    if (raw >= maximum) {
        return kMixerVolumeMax;
    }
    const Wide span = static_cast<Wide>(maximum) - minimum;
    const Wide offset = static_cast<Wide>(raw) - minimum;
    return static_cast<uint32_t>((offset * kMixerVolumeMax + span / 2) / span);
}

}  // namespace platform
