#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mixer/mixer.h"

// What a mixer backend provides to MixerSystem. Only the portable part and
// the backends include this.
namespace platform {

class MixerBackend {
public:
    virtual ~MixerBackend() = default;
    virtual const char* GetName() const = 0;
    virtual uint32_t GetDeviceCount() = 0;
    virtual std::unique_ptr<MixerDevice> Open(uint32_t index) = 0;
};

// Null when no ALSA mixer can be opened; whyNot then says why.
std::unique_ptr<MixerBackend> CreateAlsaMixerBackend(std::string* whyNot);
// Always succeeds (barring memory).
std::unique_ptr<MixerBackend> CreateMemoryMixerBackend();

}  // namespace platform
