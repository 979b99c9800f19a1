// A recording fake of the Win32 part the player uses, for unit tests of the
// player's logic. The search reports `folder`; Sleep and PlaySoundA are
// recorded in `calls`, and the run ends (EndOfRun is thrown) at the
// file play that endRunAfter names, since the playback loop never returns by itself.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "compat/win32.h"

namespace fake {

struct Entry {
    std::string name;
    bool directory = false;
};

struct Call {
    enum Kind { Wait, Play } kind;
    DWORD milliseconds;  // for Wait
    std::string name;    // for Play of a file
    DWORD flags;         // for Play
};

struct EndOfRun {};

extern std::vector<Entry> folder;
// When nonzero, the search reports this many further files after `folder`,
// each with a name of 259 characters (for running out of memory).
extern std::size_t generatedFiles;
extern std::vector<std::string> patterns;
// The error a search that finds nothing leaves (ERROR_FILE_NOT_FOUND unless
// set otherwise).
extern DWORD searchError;
// The working folder GetCurrentDirectoryA reports.
extern std::string currentFolder;
extern std::vector<Call> calls;
// Called at each Sleep, before it is recorded.
extern void (*onSleep)();

void reset();
// Forgets the calls so far; the run then ends at the plays-th file play.
void endRunAfter(std::size_t plays);
std::vector<std::string> playedNames();

}  // namespace fake
