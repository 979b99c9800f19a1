// The line list: the names of the recordings in the working directory.
#pragma once

#include "compat/win32.h"

// Fills lines (one heap copy per name, the array grown one slot per entry)
// and lineCount with every "*.wav" entry of the working directory that is not
// a directory, in the order the directory search reports them. The list and
// its names live for the rest of the run. Ends the process with status 1 and
// a message when memory runs out.
void collectLines(char*** lines, int* lineCount);

// Why collectLines found nothing: the working folder's name in folder ("."
// when it cannot be had), and the search's error, ERROR_FILE_NOT_FOUND or
// ERROR_NO_MORE_FILES for a folder without recordings. The search is run
// anew, as the calls since have changed the last error.
void findWhyNoLines(char* folder, DWORD folderSize, DWORD* error);
