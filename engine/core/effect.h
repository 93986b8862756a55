#pragma once
// 2D drawing set-up: the render states every 2D batch draws with, and the
// Sub blend mode, which the device has no factors for: the frame is
// inverted, the batch added, and the frame inverted back. Main thread only.
#include <cstdint>

class OrvaEffect {
public:
    static void Initialize();
    static void Destroy();

    // Sets the 2D states (no depth, no alpha test, no lighting, no fog, no
    // culling, solid Gouraud fill, stages unbound, format 0x44). Mode 3
    // (Sub) inverts the frame and leaves the Add preset set; any other mode
    // is set as a blend preset.
    static void Begin(int32_t mode);
    // After Sub: inverts the frame back. Nothing otherwise.
    static void End();
    static int32_t GetMode();
};
