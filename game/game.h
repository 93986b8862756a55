#pragma once
#include <cstdint>

// The game's set-up callback: records the engine's settings before the
// window exists.
void GameSetup();
// The game's main function: the main loop over the screens; returns when
// the game ends.
int32_t GameMain();
// The window's key-down hook: Escape quits.
void GameOnKeyDown(uintptr_t wParam, intptr_t lParam);

// Ends the run by itself after this many frames (0: never), for scripts and
// tests that start the program.
void GameSetFrameLimit(int64_t frames);
