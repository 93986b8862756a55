#pragma once
#include <cstdint>

// The C library's linear congruential generator, kept as our own so that a
// replay draws the same numbers on every host:
// state = state x 214013 + 2531011, result (state >> 16) & 0x7FFF.
void CrtSeed(uint32_t seed);
int CrtRand();
uint32_t CrtGetState();
