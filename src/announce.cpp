// The message texts, readable here and held as Windows-1251 in the program;
// writeMessage shows them in the reader's charset.

#include "announce.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compat/console.h"
#include "windows1251.h"

namespace {

// The start-up messages in the order they are printed. Each but the hint
// begins with its line feed, so the last one leaves the cursor at its end.
constexpr auto works = windows1251::fromUtf8("\nЕсли только что был слышен системный звук, значит все работает.");
constexpr auto interval = windows1251::fromUtf8("\nРеплики будут звучать каждые %d секунд.");
constexpr auto hint = windows1251::fromUtf8(" Задать интервал (в секундах) можно параметром командной строки.");
constexpr auto count = windows1251::fromUtf8("\nВсего реплик %d.");
constexpr auto volume =
    windows1251::fromUtf8("\nОтрегулировать громкость голоса можно в \"Микшере громкости\" (динамик в трее).");
constexpr auto quit = windows1251::fromUtf8("\nЗавершение программы - по Ctrl+C.");
constexpr char dream[] = "\n\nHave a nice dream!";

constexpr auto noLinesBefore = windows1251::fromUtf8("\nВ папке \"");
constexpr auto noLinesAfter = windows1251::fromUtf8("\" нет ни одного файла *.wav, играть нечего.\n");
constexpr auto unreadableBefore = windows1251::fromUtf8("\nПапку \"");
constexpr auto unreadableAfter = windows1251::fromUtf8("\" не удалось прочитать (%s), играть нечего.\n");
constexpr auto accessDenied = windows1251::fromUtf8("нет доступа");
constexpr auto folderGone = windows1251::fromUtf8("папки больше нет");
constexpr auto otherError = windows1251::fromUtf8("ошибка %lu");
constexpr auto noMemory = windows1251::fromUtf8("\nНе хватает памяти для списка реплик.\n");

void printMessage(std::FILE* stream, const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    writeMessage(stream, text);
}

}  // namespace

void announceStart(int argCount, int intervalMs, int lineCount)
{
    printMessage(stdout, works.bytes);
    printMessage(stdout, interval.bytes, intervalMs / 1000);
    if (argCount < 2)
        printMessage(stdout, hint.bytes);
    printMessage(stdout, count.bytes, lineCount);
    printMessage(stdout, volume.bytes);
    printMessage(stdout, quit.bytes);
    printMessage(stdout, dream);
    // A pipe or a file is fully buffered: a run ended by Ctrl+C during the
    // first wait must not lose the announcements.
    std::fflush(stdout);
}

void exitNoLines(DWORD searchError)
{
    char folder[longestName];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
        std::strcpy(folder, ".");
    std::fflush(stdout);
    if (searchError == ERROR_FILE_NOT_FOUND || searchError == ERROR_NO_MORE_FILES) {
        writeMessage(stderr, noLinesBefore.bytes, folder, noLinesAfter.bytes);
    } else {
        char reason[64];
        if (searchError == ERROR_ACCESS_DENIED)
            std::snprintf(reason, sizeof reason, "%s", accessDenied.bytes);
        else if (searchError == ERROR_PATH_NOT_FOUND)
            std::snprintf(reason, sizeof reason, "%s", folderGone.bytes);
        else
            std::snprintf(reason, sizeof reason, otherError.bytes, static_cast<unsigned long>(searchError));
        char after[256];
        std::snprintf(after, sizeof after, unreadableAfter.bytes, reason);
        writeMessage(stderr, unreadableBefore.bytes, folder, after);
    }
    std::exit(1);
}

void exitNoMemory()
{
    std::fflush(stdout);
    writeMessage(stderr, noMemory.bytes);
    std::exit(1);
}
