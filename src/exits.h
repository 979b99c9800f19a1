// The two errors that end a run, each with its message: every exit of the
// program is here.
#pragma once

#include "compat/win32.h"

// No recordings to play: says so on standard error, naming the working
// folder (its control characters escaped) and the pattern, or, for a search
// error other than ERROR_FILE_NOT_FOUND and ERROR_NO_MORE_FILES, that the
// folder cannot be read and why; ends the process with status 1.
[[noreturn]] void exitNoLines(DWORD searchError);

// Memory ran out while collecting: says so on standard error and ends the
// process with status 1.
[[noreturn]] void exitNoMemory();
