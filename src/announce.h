// The player's messages: the start-up announcements and the two errors that
// end a run.
#pragma once

// Starts the system default sound without waiting for it, then prints the
// start-up messages: the interval in whole seconds, the hint about the
// argument when none was given (argCount below 2), the number of lines.
// Everything printed has reached standard output when it returns.
void announceStart(int argCount, int intervalMs, int lineCount);

// No recordings to play: says so on standard error, naming the folder (its
// control characters escaped) and the pattern, or that the folder cannot be
// read and why, and ends the process with status 1.
[[noreturn]] void exitNoLines();

// Memory ran out while collecting: says so on standard error and ends the
// process with status 1.
[[noreturn]] void exitNoMemory();
