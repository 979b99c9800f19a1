// The message texts are kept readable here and stored as Windows-1251 by the
// compiler (see the build); writeMessage shows them in the reader's charset.

#include "announce.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "compat/console.h"
#include "compat/win32.h"

namespace {

// The start-up messages in the order they are printed. Each but the hint
// begins with its line feed, so the last one leaves the cursor at its end.
const char* const startMessages[] = {
    "\nЕсли только что был слышен системный звук, значит все работает.",
    "\nРеплики будут звучать каждые %d секунд.",
    " Задать интервал (в секундах) можно параметром командной строки.",
    "\nВсего реплик %d.",
    "\nОтрегулировать громкость голоса можно в \"Микшере громкости\" (динамик в трее).",
    "\nЗавершение программы - по Ctrl+C.",
    "\n\nHave a nice dream!",
};
enum { Works, Interval, Hint, Count, Volume, Quit, Dream };

const char noLinesBefore[] = "\nВ папке \"";
const char noLinesAfter[] = "\" нет ни одного файла *.wav, играть нечего.\n";
const char noMemory[] = "\nНе хватает памяти для списка реплик.\n";

void printMessage(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    writeMessage(stdout, text);
}

}  // namespace

void announceStart(int argCount, int intervalMs, int lineCount)
{
    PlaySoundA(reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(SND_ALIAS_SYSTEMDEFAULT)), nullptr,
               SND_ALIAS_ID | SND_ASYNC);
    printMessage(startMessages[Works]);
    printMessage(startMessages[Interval], intervalMs / 1000);
    if (argCount < 2)
        printMessage(startMessages[Hint]);
    printMessage(startMessages[Count], lineCount);
    printMessage(startMessages[Volume]);
    printMessage(startMessages[Quit]);
    printMessage(startMessages[Dream]);
    // A pipe or a file is fully buffered: a run ended by Ctrl+C during the
    // first wait must not lose the announcements.
    std::fflush(stdout);
}

void exitNoLines()
{
    char folder[4096];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) {
        folder[0] = '.';
        folder[1] = '\0';
    }
    std::fflush(stdout);
    writeMessage(stderr, noLinesBefore);
    std::fputs(folder, stderr);  // the file system's own bytes
    writeMessage(stderr, noLinesAfter);
    std::exit(1);
}

void exitNoMemory()
{
    std::fflush(stdout);
    writeMessage(stderr, noMemory);
    std::exit(1);
}
