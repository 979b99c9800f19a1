// What the files of the POSIX sound layer share (sound_*_posix.cpp and
// playsound_posix.cpp); not for the player.
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

// Tells a play on the sound layer's thread to stop, waking it from its
// pauses (sound_async_posix.cpp).
struct StopSignal {
    std::mutex lock;
    std::condition_variable changed;
    bool requested = false;

    void request();
};

// Whether a stop was asked for; never for a play without a signal.
bool stopRequested(StopSignal* stop);
// Sleeps until the given moment, or until a stop is asked for; true when
// stopped.
bool pauseUntil(Clock::time_point until, StopSignal* stop);

// Runs play on the sound layer's thread, giving it the signal that stops it;
// false when no thread could be started.
bool startAsync(std::function<void(StopSignal*)> play);
// Stops the sound playing on that thread and waits for the thread to end.
void stopAsync();

// A stream of interleaved frames: a decoded file, or samples in memory
// (sound_source_posix.cpp). It closes what it opened.
struct Source {
    snd_pcm_format_t format = SND_PCM_FORMAT_S16;
    unsigned channels = 1;
    unsigned rate = 44100;

    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() { close(); }

    // Opens a regular file for decoding; wavOnly refuses every container but
    // WAV (a recording), otherwise any format libsndfile reads (a theme
    // sound).
    bool openFile(const char* name, bool wavOnly);
    // 16-bit mono samples, which must outlive the source.
    void openSamples(const std::vector<std::int16_t>& samples, unsigned sampleRate);
    void close();

    std::size_t frameBytes() const;
    // Reads up to frames frames into buffer; 0 at the end.
    std::size_t read(void* buffer, std::size_t frames);

private:
    SNDFILE* file_ = nullptr;
    int fd_ = -1;  // the file's descriptor, closed after file_
    const std::int16_t* samples_ = nullptr;
    std::size_t frameCount_ = 0;
    std::size_t position_ = 0;
};

enum class Opened { Ready, NoDevice, Unplayable };
enum class Ending { Heard, Stopped, Lost };

// ALSA's "default" device, open for one sound (sound_device_posix.cpp). It
// closes what it opened.
struct Device {
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() { close(); }

    // Opens the device for source's format. A device that failed is tried
    // again a second later at the earliest: until then this waits (or ends
    // on a stop), so that a run without an interval does not spin.
    Opened open(const Source& source, StopSignal* stop);
    void close();
    // Writes leadIn frames of silence, then all of source, and waits until
    // it has been heard; every wait is bounded.
    Ending play(Source& source, std::size_t leadIn, StopSignal* stop);

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
