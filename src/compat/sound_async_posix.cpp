// The sound layer's own thread, on which SND_ASYNC sounds play, and the
// signal that stops a play there.

#include "compat/sound_posix.h"

#include <cstdlib>
#include <new>
#include <thread>

namespace sound {

void StopSignal::request()
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        requested = true;
    }
    changed.notify_all();
}

bool stopRequested(StopSignal* stop)
{
    if (stop == nullptr)
        return false;
    const std::lock_guard<std::mutex> guard(stop->lock);
    return stop->requested;
}

bool pauseUntil(Clock::time_point until, StopSignal* stop)
{
    if (stop == nullptr) {
        std::this_thread::sleep_until(until);
        return false;
    }
    std::unique_lock<std::mutex> guard(stop->lock);
    return stop->changed.wait_until(guard, until, [stop] { return stop->requested; });
}

namespace {

// The one sound playing on the sound layer's thread (SND_ASYNC). Never
// destroyed: the process may end while it plays.
struct AsyncPlay {
    std::mutex lock;
    std::thread* thread = nullptr;
    StopSignal* stop = nullptr;
};
AsyncPlay& asyncPlay()
{
    static AsyncPlay* play = new AsyncPlay;
    return *play;
}

// Ends the sound playing on the sound layer's thread: stops it, or (at the
// end of the process) lets it finish.
void endAsync(bool stop)
{
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    if (async.thread == nullptr)
        return;
    if (stop)
        async.stop->request();
    async.thread->join();
    delete async.thread;
    delete async.stop;
    async.thread = nullptr;
    async.stop = nullptr;
}

// A process that ends by itself lets the sound it started be heard to its
// end (its waits are bounded); Ctrl+C ends it at once.
void finishAsync()
{
    endAsync(false);
}

}  // namespace

// The thread opens the device as well: the caller goes on at once whatever
// the sound server does.
bool startAsync(std::function<void(StopSignal*)> play)
{
    static const bool finishesAtExit = std::atexit(finishAsync) == 0;
    (void)finishesAtExit;
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    StopSignal* stop = new (std::nothrow) StopSignal;
    if (stop == nullptr)
        return false;
    try {
        async.thread = new std::thread([play = std::move(play), stop] { play(stop); });
    } catch (...) {
        delete stop;
        return false;
    }
    async.stop = stop;
    return true;
}

void stopAsync()
{
    endAsync(true);
}

}  // namespace sound
