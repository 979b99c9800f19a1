// The POSIX Sleep on the real clock.

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <sys/time.h>

#include "compat/win32.h"

namespace {

double monotonicMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

volatile sig_atomic_t interruptions = 0;

TEST(Sleep, WaitsTheWholeTimeThroughSignals)
{
    // A handled signal every 5 ms interrupts the wait many times over.
    struct sigaction action {};
    action.sa_handler = [](int) { interruptions = interruptions + 1; };
    sigaction(SIGALRM, &action, nullptr);
    itimerval every5ms{{0, 5000}, {0, 5000}};
    setitimer(ITIMER_REAL, &every5ms, nullptr);

    const double start = monotonicMs();
    Sleep(120);
    const double elapsed = monotonicMs() - start;

    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    signal(SIGALRM, SIG_DFL);
    EXPECT_GT(interruptions, 2);
    EXPECT_GE(elapsed, 120.0);
}

TEST(Sleep, ZeroReturnsAtOnce)
{
    const double start = monotonicMs();
    for (int i = 0; i < 1000; ++i)
        Sleep(0);
    EXPECT_LT(monotonicMs() - start, 1000.0);
}

}  // namespace
