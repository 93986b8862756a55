#include <memory>

#include "platform/audio/audio_backend.h"

namespace platform {

// Plays nothing: the mix is rendered into the caller's memory when it asks,
// so a test hears exactly the samples a listener would, frame for frame,
// and a machine without a sound card still runs every audio path.
class NullAudioBackend final : public AudioBackend {
public:
    const char* GetName() const override { return "null"; }
    bool Start() override { return true; }
    void Stop() override {}
    bool MixesOnRequest() const override { return true; }
};

std::unique_ptr<AudioBackend> CreateNullAudioBackend()
{
    return std::make_unique<NullAudioBackend>();
}

}  // namespace platform
