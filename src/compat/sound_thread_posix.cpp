// Every play on a thread of its own. The thread owns what the play uses, so
// that whoever waits for it can give up once the play has outlived what it
// expected (a library call held by a sound server that froze) and carry on:
// the thread then ends by itself whenever the call returns. A play reports
// its result as soon as it has been heard, and closes its device behind
// that; the next play opens the device once that is done, or while it
// drains on PipeWire (awaitClosings). While a play is held in a library
// call (playsLeftBehind), no other opens the device.

#include "compat/sound_posix.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "compat/lasting.h"

namespace sound {

using timing::closingTakesAtMost;
using timing::finishingTakesAtMost;
using timing::stopTakesAtMost;

namespace {

// The plays whose threads run (compat::lasting<Running>()).
struct Running {
    std::mutex lock;
    std::condition_variable ended;
    std::vector<std::shared_ptr<PlayControl>> plays;
};
Running& running()
{
    return compat::lasting<Running>();
}

void finishAtExit();

// Memory over a night stays at what one play takes, with glibc's malloc:
// - Every thread allocates from the one arena. glibc gives a thread that
//   allocates while another holds an arena one of its own, and keeps it: a
//   play that overlaps the last one's closing (and the sound libraries'
//   threads) would add one, of a megabyte or so, every now and then. The
//   plays allocate little, and seldom at the same time.
// - Large blocks (a sound server plug-in's buffers) are always mapped apart
//   and given back when freed. glibc otherwise raises its threshold for
//   that to the size of the first such block freed, and from the second
//   play on kept those buffers in the heap, which does not shrink back:
//   4.3 MB more on PipeWire, from the second line to the last.
void steadyMemory()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

// Starts play on a detached thread that shares control with the caller.
bool start(Play play, const std::shared_ptr<PlayControl>& control)
{
    static const bool once = (steadyMemory(), std::atexit(finishAtExit) == 0);
    (void)once;
    Running& all = running();
    try {
        {
            const std::lock_guard<std::mutex> guard(all.lock);
            all.plays.push_back(control);
        }
        std::thread([play = std::move(play), control] {
            bool heard = false;
            try {
                heard = play(*control);
            } catch (const std::exception&) {
                // Memory ran out: the play failed.
            }
            control->end(heard);
            Running& plays = running();
            {
                const std::lock_guard<std::mutex> guard(plays.lock);
                plays.plays.erase(std::find(plays.plays.begin(), plays.plays.end(), control));
            }
            plays.ended.notify_all();
        }).detach();
        return true;
    } catch (const std::exception&) {
        const std::lock_guard<std::mutex> guard(all.lock);
        all.plays.erase(std::remove(all.plays.begin(), all.plays.end(), control), all.plays.end());
        return false;
    }
}

// Waits, for as long as closing takes at most, until every running play but
// self (if any) has ended or is held in a library call, or, when that is
// enough, drains behind its report: one such play at most, so that short
// sounds back to back do not pile up plays that drain.
void awaitTheOthers(const PlayControl* self, bool drainingIsEnough)
{
    Running& all = running();
    std::unique_lock<std::mutex> guard(all.lock);
    all.ended.wait_until(guard, Clock::now() + closingTakesAtMost, [&all, self, drainingIsEnough] {
        const Clock::time_point now = Clock::now();
        int draining = 0;
        for (const std::shared_ptr<PlayControl>& play : all.plays) {
            if (play.get() == self || play->held(now))
                continue;
            if (!drainingIsEnough || !play->drainsBehind() || ++draining > 1)
                return false;
        }
        return true;
    });
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

// A process that ends by itself lets the SND_ASYNC sound it started be
// heard to its end, as far as that play expects and for a few seconds at
// most, and the plays heard drain and close their devices (a file plug-in
// writes what it holds then), as long as closing takes at most; Ctrl+C ends
// it at once.
void finishAtExit()
{
    AsyncPlay& async = asyncPlay();
    {
        const std::lock_guard<std::mutex> guard(async.lock);
        bool heard = false;
        if (async.control != nullptr && !async.control->awaitReport(heard, Clock::now() + finishingTakesAtMost))
            async.control->leaveBehind();
        async.control.reset();
    }
    awaitTheOthers(nullptr, false);
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

void PlayControl::report(bool heard, bool drainsBehind)
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (reported_)
            return;
        reported_ = true;
        heard_ = heard;
        drainsBehind_ = drainsBehind;
        reportedAt_ = Clock::now();
    }
    changed_.notify_all();
}

void PlayControl::end(bool heard)
{
    report(heard);
    const std::lock_guard<std::mutex> guard(lock_);
    ended_ = true;
}

bool PlayControl::awaitReport(bool& heard, Clock::time_point latest)
{
    std::unique_lock<std::mutex> guard(lock_);
    // The deadline moves while the play goes on: wait for the latest.
    while (!reported_ && Clock::now() < std::min(deadline_, latest))
        changed_.wait_until(guard, std::min(deadline_, latest));
    heard = heard_;
    return reported_;
}

void PlayControl::leaveBehind()
{
    const std::lock_guard<std::mutex> guard(lock_);
    leftBehind_ = !reported_;
}

bool PlayControl::held(Clock::time_point now)
{
    const std::lock_guard<std::mutex> guard(lock_);
    return !ended_ && (leftBehind_ || (reported_ && now - reportedAt_ > closingTakesAtMost));
}

bool PlayControl::drainsBehind()
{
    const std::lock_guard<std::mutex> guard(lock_);
    return drainsBehind_;
}

void awaitClosings(const PlayControl& self)
{
    awaitTheOthers(&self, true);
}

int playsLeftBehind()
{
    Running& all = running();
    const std::lock_guard<std::mutex> guard(all.lock);
    const Clock::time_point now = Clock::now();
    return static_cast<int>(std::count_if(all.plays.begin(), all.plays.end(),
                                          [now](const std::shared_ptr<PlayControl>& play) { return play->held(now); }));
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
    if (control->awaitReport(heard))
        return heard;
    control->leaveBehind();
    return false;
}

bool playAsync(Play play)
{
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
    if (!async.control->awaitReport(heard, Clock::now() + stopTakesAtMost))
        async.control->leaveBehind();
    async.control.reset();
}

bool asyncPlaying()
{
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    bool heard = false;
    return async.control != nullptr && !async.control->awaitReport(heard, Clock::time_point::min());
}

}  // namespace sound
