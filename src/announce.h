// The player's messages: the start-up announcements, and the two errors that
// end a run (every exit of the program is here).
#pragma once

#include "compat/win32.h"

// Prints the start-up messages: the interval in whole seconds, the hint about the
// argument when none was given (argCount below 2), the number of lines.
// Everything printed has reached standard output when it returns.
void announceStart(int argCount, int intervalMs, int lineCount);

// No recordings to play: says so on standard error, naming the working
// folder (its control characters escaped) and the pattern, or, for a search
// error other than ERROR_FILE_NOT_FOUND and ERROR_NO_MORE_FILES, that the
// folder cannot be read and why; ends the process with status 1.
[[noreturn]] void exitNoLines(DWORD searchError);

// Memory ran out while collecting: says so on standard error and ends the
// process with status 1.
[[noreturn]] void exitNoMemory();
