// The message texts, readable here and held as Windows-1251 in the program;
// writeMessage shows them in the reader's charset.

#include "announce.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

void announceNoLines(const char* folder, DWORD error)
{
    std::fflush(stdout);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
        writeMessage(stderr, noLinesBefore.bytes);
        printName(stderr, folder);
        writeMessage(stderr, noLinesAfter.bytes);
    } else {
        char reason[64];
        if (error == ERROR_ACCESS_DENIED)
            std::snprintf(reason, sizeof reason, "%s", accessDenied.bytes);
        else if (error == ERROR_PATH_NOT_FOUND)
            std::snprintf(reason, sizeof reason, "%s", folderGone.bytes);
        else
            std::snprintf(reason, sizeof reason, otherError.bytes, static_cast<unsigned long>(error));
        writeMessage(stderr, unreadableBefore.bytes);
        printName(stderr, folder);
        printMessage(stderr, unreadableAfter.bytes, reason);
    }
    std::exit(1);
}

void exitNoMemory()
{
    std::fflush(stdout);
    writeMessage(stderr, noMemory.bytes);
    std::exit(1);
}
