#include "lines.h"

#include <cstdlib>
#include <cstring>

#include "announce.h"
#include "compat/win32.h"

// Adds a copy of name as a new last slot of the list.
static void appendLine(char*** lines, int* lineCount, const char* name)
{
    void* grown = std::realloc(*lines, (static_cast<std::size_t>(*lineCount) + 1) * sizeof(char*));
    if (grown == nullptr)
        exitNoMemory();
    *lines = static_cast<char**>(grown);

    char* copy = static_cast<char*>(std::calloc(std::strlen(name) + 1, 1));
    if (copy == nullptr)
        exitNoMemory();
    std::strcpy(copy, name);
    (*lines)[*lineCount] = copy;
    ++*lineCount;
}

void collectLines(char*** lines, int* lineCount)
{
    WIN32_FIND_DATAA findData;
    HANDLE search = FindFirstFileA("*.wav", &findData);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            appendLine(lines, lineCount, findData.cFileName);
    } while (FindNextFileA(search, &findData));
    FindClose(search);
}

void exitNoLines()
{
    char folder[4096];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
        std::strcpy(folder, ".");
    WIN32_FIND_DATAA findData;
    const HANDLE search = FindFirstFileA("*.wav", &findData);
    const DWORD error = search == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_FILE_NOT_FOUND;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    announceNoLines(folder, error);
}
