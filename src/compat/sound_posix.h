// What the files of the POSIX sound layer share (sound_*_posix.cpp and
// playsound_posix.cpp); not for the player.
//
// A play runs on a thread of its own (sound_thread_posix.cpp), which owns
// everything the play uses: a source of frames (sound_source_posix.cpp) and
// ALSA's device (sound_device_posix.cpp, with the stream written to it and
// waited on, sound_stream_posix.h). PlaySoundA (playsound_posix.cpp)
// decides what is played and how (the plan), waits for a synchronous play
// no longer than the play says it needs, and leaves behind a play whose
// thread a library call keeps beyond that.
#pragma once

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace sound {

using Clock = std::chrono::steady_clock;

// How long a library call may hold a play before whoever waits for it gives
// up (a sound server that froze holds it): opening the device, and closing
// it.
constexpr Clock::duration openingTakesAtMost = std::chrono::seconds(2);
constexpr Clock::duration closingTakesAtMost = std::chrono::seconds(1);

// A moment shared between threads; unset until it is first set.
class Moment {
public:
    void set(Clock::time_point at) { ticks_.store(at.time_since_epoch().count()); }
    bool isSet() const { return ticks_.load() != never; }
    Clock::time_point get() const { return Clock::time_point(Clock::duration(ticks_.load())); }

private:
    static constexpr Clock::rep never = std::numeric_limits<Clock::rep>::min();
    std::atomic<Clock::rep> ticks_{never};
};

// Tells a play to stop, waking it from its pauses (sound_stop_posix.cpp).
class StopSignal {
public:
    void request();
    bool requested() const;
    // Sleeps until the given moment, or until a stop is asked for; true
    // when stopped.
    bool pauseUntil(Clock::time_point until);

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool requested_ = false;
};

// What a play on its thread shares with whoever started it
// (sound_thread_posix.cpp).
class PlayControl {
public:
    explicit PlayControl(bool stoppable) : stoppable_(stoppable) {}
    PlayControl(const PlayControl&) = delete;
    PlayControl& operator=(const PlayControl&) = delete;

    StopSignal& stop() { return stop_; }
    // Whether another thread may stop the play (an SND_ASYNC sound): its
    // waits are then short, so that a stop takes effect at once.
    bool stoppable() const { return stoppable_; }
    // Moves the play's deadline: the step it is in will be over by
    // stepEndsBy unless a library call holds it, and closing the device then
    // takes at most closingTakesAtMost; whoever waits for the play gives up
    // after that.
    void moveDeadline(Clock::time_point stepEndsBy);

    // For the thread module: the play's end, the wait for it, and giving up.
    void finish(bool heard);
    // Waits until the play is done (true, with its result in heard) or its
    // deadline, or latest, has passed (false).
    bool awaitDone(bool& heard, Clock::time_point latest = Clock::time_point::max());
    // Nobody waits for the play any more; it counts in playsLeftBehind()
    // until it ends.
    void leaveBehind();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
    bool heard_ = false;
    bool leftBehind_ = false;
    Clock::time_point deadline_ = Clock::time_point::max();
    StopSignal stop_;
    const bool stoppable_;
};

using Play = std::function<bool(PlayControl&)>;

// Runs play on a thread of its own and waits until it is done, or until the
// moment it expects to be done by has passed (the thread is then left to end
// by itself). Its result, or false when it was left behind or no thread
// could be started.
bool playAndWait(Play play);
// Runs play on a thread of its own and returns at once; false when no thread
// could be started. At most one such play runs; it is stopped by stopAsync,
// and a process that ends by itself lets it finish, as far as it expects to.
bool playAsync(Play play);
// Stops the play that playAsync started, waiting a little for it to end.
void stopAsync();
// How many plays that were left behind still run: their threads are held in
// a library call (a sound server that froze); while one does, no other play
// opens the device.
int playsLeftBehind();

// A stream of interleaved frames: a decoded file, or samples in memory
// (sound_source_posix.cpp). It closes what it opened.
class Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() { close(); }

    // Opens a regular file for decoding, and nothing else; wavOnly refuses
    // every container but WAV (a recording), otherwise any format
    // libsndfile reads (a theme sound).
    bool openFile(const char* name, bool wavOnly);
    // 16-bit mono samples, which must outlive the source.
    void openSamples(const std::vector<std::int16_t>& samples, unsigned sampleRate);
    void close();

    snd_pcm_format_t format() const { return open_.format; }
    unsigned channels() const { return open_.channels; }
    unsigned rate() const { return open_.rate; }
    std::size_t frameBytes() const;
    // Reads up to frames frames into buffer; 0 at the end.
    std::size_t read(void* buffer, std::size_t frames);

private:
    // What is open, and what it holds; all of it reset by close().
    struct Open {
        SNDFILE* file = nullptr;
        int fd = -1;  // the file's descriptor, closed after file
        const std::int16_t* samples = nullptr;
        std::size_t frames = 0;  // of the samples
        std::size_t position = 0;
        snd_pcm_format_t format = SND_PCM_FORMAT_S16;
        unsigned channels = 1;
        unsigned rate = 1;
    } open_;
};

// How a sound is played, as PlaySoundA decides it: the silence written
// before it, and how long its stream stays open past the end the device
// foretells.
struct PlayPlan {
    std::size_t leadInFrames = 0;
    Clock::duration tail{};
};

// When the device may be tried again: a second after anything about it last
// failed, so that a run without an interval waits instead of spinning.
class DeviceRetry {
public:
    // When the device may be tried: now, or a second after the last failure.
    Clock::time_point turn() const;
    void noteFailure();

private:
    Moment lastFailure_;
};
// The process's one record of the device's failures.
DeviceRetry& deviceRetry();

enum class Opened { Ready, NoDevice, Unplayable };
enum class Ending { Heard, Stopped, Lost };

// ALSA's "default" device, open for one sound (sound_device_posix.cpp). It
// closes what it opened. Every failure is noted in deviceRetry().
class Device {
public:
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() { close(); }

    // Opens the device for source's format: NoDevice when there is none,
    // Unplayable when it refuses that format.
    Opened open(const Source& source, PlayControl& control);
    void close();
    // Writes the plan's lead-in, then all of source, and waits until it has
    // been heard; every wait is bounded.
    Ending play(Source& source, const PlayPlan& plan, PlayControl& control);

private:
    snd_pcm_t* pcm_ = nullptr;
};

// The system default sound (sound_default_posix.cpp): where the desktop
// sound theme's "bell" may be, in the order to try, and a built-in chime
// for a system without one.
std::vector<std::string> themeBells();
constexpr unsigned chimeRate = 44100;
const std::vector<std::int16_t>& chime();

}  // namespace sound
