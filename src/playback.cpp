#include "playback.h"

#include "compat/crt.h"
#include "compat/win32.h"

void playForever(char** lines, int lineCount, int intervalMs)
{
    crt::srand(42);
    for (;;) {
        const int pick = crt::rand() % lineCount;
        Sleep(static_cast<DWORD>(intervalMs));
        PlaySoundA(lines[pick], nullptr, SND_FILENAME);
    }
}
