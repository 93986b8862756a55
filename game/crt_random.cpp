// The C library's random-number generator as our own.
#include "game/crt_random.h"

static uint32_t g_crtState = 1;

void CrtSeed(uint32_t seed)
{
    g_crtState = seed;
}

int CrtRand()
{
    // Unsigned arithmetic wraps as the generator expects.
    g_crtState = g_crtState * 214013u + 2531011u;
    return static_cast<int>((g_crtState >> 16) & 0x7FFFu);
}

uint32_t CrtGetState()
{
    return g_crtState;
}
