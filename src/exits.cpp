// The messages that end a run, readable here and held as Windows-1251 in
// the program, and the exits.

#include "exits.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compat/console.h"
#include "windows1251.h"

namespace {

constexpr auto noLinesBefore = windows1251::fromUtf8("\nВ папке \"");
constexpr auto noLinesAfter = windows1251::fromUtf8("\" нет ни одного файла *.wav, играть нечего.\n");
constexpr auto unreadableBefore = windows1251::fromUtf8("\nПапку \"");
constexpr auto unreadableAfter = windows1251::fromUtf8("\" не удалось прочитать (%s), играть нечего.\n");
constexpr auto accessDenied = windows1251::fromUtf8("нет доступа");
constexpr auto folderGone = windows1251::fromUtf8("папки больше нет");
constexpr auto otherError = windows1251::fromUtf8("ошибка %lu");
constexpr auto noMemory = windows1251::fromUtf8("\nНе хватает памяти для списка реплик.\n");

}  // namespace

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
        char reason[64];  // the longest, "ошибка 4294967295", takes 17 bytes
        if (searchError == ERROR_ACCESS_DENIED)
            std::snprintf(reason, sizeof reason, "%s", accessDenied.bytes);
        else if (searchError == ERROR_PATH_NOT_FOUND)
            std::snprintf(reason, sizeof reason, "%s", folderGone.bytes);
        else
            std::snprintf(reason, sizeof reason, otherError.bytes, static_cast<unsigned long>(searchError));
        char after[256];  // the text after the folder, 44 bytes, and the reason
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
