// The Win32 Sleep on POSIX systems: a wait on the monotonic clock to an
// absolute deadline, so that signals and clock changes neither shorten nor
// stretch it.

#include "compat/win32.h"

#include <cerrno>
#include <ctime>

void Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0)
        return;
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(dwMilliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
