// The start-up messages, readable here and held as Windows-1251 in the
// program; writeMessage shows them in the reader's charset.

#include "announce.h"

#include <cstdarg>
#include <cstdio>

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

// Puts a message together from its format and writes it: the longest takes
// 78 bytes, message 2 with the longest number 50.
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
