#include "playback.h"

#include <cstdint>

#include "compat/crt.h"
#include "compat/win32.h"

void playStartupSound()
{
    PlaySoundA(reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(SND_ALIAS_SYSTEMDEFAULT)), nullptr,
               SND_ALIAS_ID | SND_ASYNC);
}

void playForever(char** lines, int lineCount, int intervalMs)
{
    crt::srand(42);
    for (;;) {
        const int pick = crt::rand() % lineCount;
        Sleep(static_cast<DWORD>(intervalMs));
        PlaySoundA(lines[pick], nullptr, SND_FILENAME);
    }
}
