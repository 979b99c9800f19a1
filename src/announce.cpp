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
const char unreadableBefore[] = "\nПапку \"";
const char unreadableAfter[] = "\" не удалось прочитать (%s), играть нечего.\n";
const char accessDenied[] = "нет доступа";
const char folderGone[] = "папки больше нет";
const char otherError[] = "ошибка %lu";
const char noMemory[] = "\nНе хватает памяти для списка реплик.\n";

void printMessage(std::FILE* stream, const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    writeMessage(stream, text);
}

// Writes a name from the file system with its control characters shown as
// \xHH, so that none reaches the terminal as a command (ESC starts one).
void printName(std::FILE* stream, const char* name)
{
    char text[4 * 4096 + 1];
    std::size_t length = 0;
    for (const char* p = name; *p != '\0' && length + 5 <= sizeof text; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7f)
            length += static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length, "\\x%02X", c));
        else
            text[length++] = *p;
    }
    text[length] = '\0';
    writeNative(stream, text);
}

}  // namespace

void announceStart(int argCount, int intervalMs, int lineCount)
{
    PlaySoundA(reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(SND_ALIAS_SYSTEMDEFAULT)), nullptr,
               SND_ALIAS_ID | SND_ASYNC);
    printMessage(stdout, startMessages[Works]);
    printMessage(stdout, startMessages[Interval], intervalMs / 1000);
    if (argCount < 2)
        printMessage(stdout, startMessages[Hint]);
    printMessage(stdout, startMessages[Count], lineCount);
    printMessage(stdout, startMessages[Volume]);
    printMessage(stdout, startMessages[Quit]);
    printMessage(stdout, startMessages[Dream]);
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
    // Why the search found nothing: asked of the search itself, as the
    // messages since have changed the last error.
    WIN32_FIND_DATAA findData;
    const HANDLE search = FindFirstFileA("*.wav", &findData);
    const DWORD error = search == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_FILE_NOT_FOUND;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);

    std::fflush(stdout);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
        writeMessage(stderr, noLinesBefore);
        printName(stderr, folder);
        writeMessage(stderr, noLinesAfter);
    } else {
        char reason[64];
        if (error == ERROR_ACCESS_DENIED)
            std::snprintf(reason, sizeof reason, "%s", accessDenied);
        else if (error == ERROR_PATH_NOT_FOUND)
            std::snprintf(reason, sizeof reason, "%s", folderGone);
        else
            std::snprintf(reason, sizeof reason, otherError, static_cast<unsigned long>(error));
        writeMessage(stderr, unreadableBefore);
        printName(stderr, folder);
        printMessage(stderr, unreadableAfter, reason);
    }
    std::exit(1);
}

void exitNoMemory()
{
    std::fflush(stdout);
    writeMessage(stderr, noMemory);
    std::exit(1);
}
