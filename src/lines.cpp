#include "lines.h"

#include <cstdlib>
#include <cstring>

#include "exits.h"
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

void collectLines(char*** lines, int* lineCount, DWORD* searchError)
{
    *searchError = ERROR_FILE_NOT_FOUND;  // unless a line is found, or the search fails
    WIN32_FIND_DATAA findData;
    HANDLE search = FindFirstFileA("*.wav", &findData);
    if (search == INVALID_HANDLE_VALUE) {
        *searchError = GetLastError();
        return;
    }
    do {
        if ((findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            appendLine(lines, lineCount, findData.cFileName);
    } while (FindNextFileA(search, &findData));
    FindClose(search);
}
