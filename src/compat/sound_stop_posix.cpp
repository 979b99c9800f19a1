// The signal that stops a play from another thread, waking it from its
// pauses.

#include "compat/sound_posix.h"

namespace sound {

void StopSignal::request()
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        requested_ = true;
    }
    changed_.notify_all();
}

bool StopSignal::requested() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return requested_;
}

bool StopSignal::pauseUntil(Clock::time_point until)
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_until(guard, until, [this] { return requested_; });
}

}  // namespace sound
