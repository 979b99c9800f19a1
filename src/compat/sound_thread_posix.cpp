// Every play on a thread of its own. The thread owns what the play uses, so
// that whoever waits for it can give up once the play has outlived what it
// expected (a library call held by a sound server that froze) and carry on:
// the thread then ends by itself whenever the call returns. One such play
// at most is left behind at a time (playsLeftBehind).

#include "compat/sound_posix.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

#include "compat/lasting.h"

namespace sound {

namespace {

// How long a stop may take before the stopped play is left behind: a play
// looks at its stop signal at least every 50 ms between library calls.
constexpr Clock::duration stopTakesAtMost = std::chrono::milliseconds(500);
// How long a process that ends by itself waits for the sound it started
// (a theme's bell may be long).
constexpr Clock::duration finishingTakesAtMost = std::chrono::seconds(3);

std::atomic<int> leftBehind{0};

// Starts play on a detached thread that shares control with the caller.
bool start(Play play, const std::shared_ptr<PlayControl>& control)
{
    try {
        std::thread([play = std::move(play), control] {
            bool heard = false;
            try {
                heard = play(*control);
            } catch (const std::exception&) {
                // Memory ran out: the play failed.
            }
            control->finish(heard);
        }).detach();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The one SND_ASYNC play (compat::lasting<AsyncPlay>()).
struct AsyncPlay {
    std::mutex lock;
    std::shared_ptr<PlayControl> control;
};
AsyncPlay& asyncPlay()
{
    return compat::lasting<AsyncPlay>();
}

// A process that ends by itself lets the sound it started be heard to its
// end, as far as that play expects and for a few seconds at most; Ctrl+C
// ends it at once.
void finishAsync()
{
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    bool heard = false;
    if (async.control != nullptr && !async.control->awaitDone(heard, Clock::now() + finishingTakesAtMost))
        async.control->leaveBehind();
    async.control.reset();
}

}  // namespace

void PlayControl::moveDeadline(Clock::time_point stepEndsBy)
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        deadline_ = stepEndsBy + closingTakesAtMost;
    }
    changed_.notify_all();
}

void PlayControl::finish(bool heard)
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        done_ = true;
        heard_ = heard;
        if (leftBehind_)
            --leftBehind;
    }
    changed_.notify_all();
}

bool PlayControl::awaitDone(bool& heard, Clock::time_point latest)
{
    std::unique_lock<std::mutex> guard(lock_);
    // The deadline moves while the play goes on: wait for the latest.
    while (!done_ && Clock::now() < std::min(deadline_, latest))
        changed_.wait_until(guard, std::min(deadline_, latest));
    heard = heard_;
    return done_;
}

void PlayControl::leaveBehind()
{
    const std::lock_guard<std::mutex> guard(lock_);
    if (!done_ && !leftBehind_) {
        leftBehind_ = true;
        ++leftBehind;
    }
}

int playsLeftBehind()
{
    return leftBehind;
}

bool playAndWait(Play play)
{
    const auto control = std::make_shared<PlayControl>(false);
    if (!start(std::move(play), control)) {
        // The process may start no more threads: the play fails as a device
        // that fails does, and the caller waits the device's turn here, so
        // that a run without an interval does not spin.
        DeviceRetry& retry = deviceRetry();
        retry.noteFailure();
        control->stop().pauseUntil(retry.turn());
        return false;
    }
    bool heard = false;
    if (control->awaitDone(heard))
        return heard;
    control->leaveBehind();
    return false;
}

bool playAsync(Play play)
{
    static const bool finishesAtExit = std::atexit(finishAsync) == 0;
    (void)finishesAtExit;
    const auto control = std::make_shared<PlayControl>(true);
    if (!start(std::move(play), control)) {
        deviceRetry().noteFailure();
        return false;
    }
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    async.control = control;
    return true;
}

void stopAsync()
{
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    if (async.control == nullptr)
        return;
    async.control->stop().request();
    bool heard = false;
    if (!async.control->awaitDone(heard, Clock::now() + stopTakesAtMost))
        async.control->leaveBehind();
    async.control.reset();
}

}  // namespace sound
