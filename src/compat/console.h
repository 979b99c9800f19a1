// Message text on the console.
#pragma once

#include <cstdio>

// Writes text held in Windows-1251 to stream so that the reader sees the same
// characters: unchanged bytes where the output takes Windows-1251, converted
// where it reads another charset (see the platform's implementation).
void writeMessage(std::FILE* stream, const char* text);

// Writes text that is already in the system's own charset (a file or folder
// name) to stream, its bytes unchanged.
void writeNative(std::FILE* stream, const char* text);
