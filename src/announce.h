// The start-up announcements.
#pragma once

// Prints the start-up messages: the interval in whole seconds, the hint about the
// argument when none was given (argCount below 2), the number of lines.
// Everything printed has reached standard output when it returns.
void announceStart(int argCount, int intervalMs, int lineCount);
