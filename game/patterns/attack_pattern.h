#pragma once
#include <cstdint>

// Runs the attack pattern `patternId` (a base id 1 to 231, 0 for none) of the
// enemy in `slot`, banded by the session's difficulty. `once` is 0 on the
// every-frame path and 1 on the death path. Keeps no state between calls.
void AttackPatternRun(int16_t slot, int16_t patternId, uint8_t once);

// The pattern table: entries 1 to 3231, one per banded id.
constexpr int kPatternTableSize = 3232;
constexpr int kPatternBandSize = 1000;

// True when the banded id names a pattern (for tools and tests).
bool AttackPatternIsLive(int bandedId);
