// Standard error belongs to the player's own messages. The sound libraries
// (ALSA's plug-ins, the PulseAudio and PipeWire clients) print there when
// they cannot reach a server, once per attempt; their calls run inside a
// Quiet, which points standard error at /dev/null meanwhile. The player's
// messages go out through writeStandardError, which reaches the standard
// error the process was given whether or not a Quiet is in force, and never
// waits for a library call: the lock they share is held only while the
// descriptors are switched and while a message is written.
#pragma once

#include <cstddef>

namespace compat {

class Quiet {
public:
    Quiet();
    ~Quiet();
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
};

// Writes bytes to the process's standard error, whole (one write(2) unless
// the descriptor takes less).
void writeStandardError(const char* bytes, std::size_t size);

}  // namespace compat
