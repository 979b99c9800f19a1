// The Win32 Sleep on POSIX systems: a wait on the monotonic clock to an
// absolute deadline, so that signals and clock changes neither shorten nor
// stretch it. A play follows every wait of the player, so a wait long
// enough for the device to fall idle wakes it shortly before its end (the
// sound layer keeps it busy with silence until the play): the play then
// starts at the end of the wait, not a lead-in later.

#include "compat/win32.h"

#include <cerrno>
#include <ctime>

#include "compat/sound_posix.h"

namespace {

// steady_clock is CLOCK_MONOTONIC.
void sleepUntil(sound::Clock::time_point until)
{
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch()).count();
    timespec deadline;
    deadline.tv_sec = static_cast<time_t>(since / 1000000000);
    deadline.tv_nsec = static_cast<long>(since % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace

void Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0)
        return;
    const sound::Clock::time_point until = sound::Clock::now() + std::chrono::milliseconds(dwMilliseconds);
    const sound::Clock::time_point wake = sound::wakeTimeFor(until);
    if (wake < until) {
        sleepUntil(wake);
        sound::wakeDevice();
    }
    sleepUntil(until);
}
