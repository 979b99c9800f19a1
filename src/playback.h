// The sounds the player makes: the start-up sound and the endless loop.
#pragma once

// Starts the system default sound and returns without waiting for it.
void playStartupSound();

// Seeds the generator with 42, then for ever draws a line, waits intervalMs
// (taken as an unsigned 32-bit count) and plays the drawn line to its end.
// lineCount must be at least 1.
[[noreturn]] void playForever(char** lines, int lineCount, int intervalMs);
