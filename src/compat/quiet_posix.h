// Standard error belongs to the player's own messages. The sound libraries
// (ALSA's plug-ins, the PulseAudio and PipeWire clients) print there when
// they cannot reach a server, once per attempt; their calls run inside a
// Quiet, which points standard error at /dev/null meanwhile. The player's
// writes to standard error take the same lock, so they are never lost.
#pragma once

#include <mutex>

namespace compat {

std::mutex& standardErrorLock();

class Quiet {
public:
    Quiet();
    ~Quiet();
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    std::lock_guard<std::mutex> guard_;
    int saved_;
};

}  // namespace compat
