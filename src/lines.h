// The line list: the names of the recordings in the working directory.
#pragma once

// Fills lines (one heap copy per name, the array grown one slot per entry)
// and lineCount with every "*.wav" entry of the working directory that is not
// a directory, in the order the directory search reports them. The list and
// its names live for the rest of the run. Ends the process with status 1 and
// a message when memory runs out.
void collectLines(char*** lines, int* lineCount);

// Ends the run when collectLines found nothing: asks the search why (anew,
// as the calls since have changed the last error) and has that said with the
// working folder's name ("." when it cannot be had).
[[noreturn]] void exitNoLines();
