#include "playback.h"

#include <cstdlib>

#include "compat/win32.h"

void playForever(char** lines, int lineCount, int intervalMs)
{
    std::srand(42);
    for (;;) {
        const int pick = std::rand() % lineCount;
        Sleep(static_cast<DWORD>(intervalMs));
        PlaySoundA(lines[pick], nullptr, SND_FILENAME);
    }
}
