// The line list: the names of the recordings in the working directory.
#pragma once

#include "compat/win32.h"

// Fills lines (one heap copy per name, the array grown one slot per entry)
// and lineCount with every "*.wav" entry of the working directory that is not
// a directory, in the order the directory search reports them. The list and
// its names live for the rest of the run. When it finds none, searchError
// says why: ERROR_FILE_NOT_FOUND when the folder holds none, the search's
// own error when it could not be read. Ends the process with status 1 and a
// message when memory runs out.
void collectLines(char*** lines, int* lineCount, DWORD* searchError);
