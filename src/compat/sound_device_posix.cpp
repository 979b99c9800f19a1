// ALSA's "default" device: opened for one sound, written to, and waited on
// until the sound has been heard, every wait bounded.

#include "compat/sound_posix.h"

#include <algorithm>
#include <cerrno>

#include "compat/quiet_posix.h"

namespace sound {

namespace {

// Frames go to the device in blocks of at most this many bytes, so memory
// does not grow with the file.
constexpr std::size_t blockBytes = 16 * 1024;
// Device buffer: two seconds, so that a play wakes the process a few times a
// second only; a stop still takes effect at once (the buffer is dropped).
constexpr unsigned deviceLatencyUs = 2000000;
// How long past the moment a sound could at the earliest have been heard to
// its end a play still waits for it (a waking sink, a busy server) before it
// is given up.
constexpr Clock::duration giveUpAfter = std::chrono::seconds(3);
// The longest single sleep of a play, so that a stalled device is noticed,
// and how long before the expected end of a sound its delay is read again.
constexpr Clock::duration longestPause = std::chrono::seconds(1);
constexpr Clock::duration lastReadingBefore = std::chrono::milliseconds(100);
// A device that could not be opened is tried again this long after at the
// earliest: with no device, a run with no interval waits instead of spinning.
constexpr Clock::duration retryAfter = std::chrono::seconds(1);
// A stream that follows a pause (one with a lead-in) stays open this long
// past the end its device's delay foretells: on PipeWire such a stream
// starts up to a quantum later than the delay of its plug-in says, and
// closing it at the foretold end cut up to 18 ms off the sound.
constexpr Clock::duration tailAfterPause = std::chrono::milliseconds(30);

Clock::duration framesToTime(std::size_t frames, unsigned rate)
{
    const std::chrono::duration<double> seconds(static_cast<double>(frames) / rate);
    return std::chrono::duration_cast<Clock::duration>(seconds);
}

// ALSA reports its errors on standard error; the player prints nothing but
// its messages, and a failed play is told by the result alone.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

Moment lastDeviceFailure;
std::atomic<bool> readConfigurationAgain{true};

void noteDeviceFailure()
{
    lastDeviceFailure.set(Clock::now());
    // Where "default" leads is decided when ALSA's configuration is read
    // (the PulseAudio hook looks for a running server): read it anew at the
    // next open, so that a sound server started or restarted since is found.
    // While plays succeed the configuration read once is kept, which spares
    // each play some milliseconds.
    readConfigurationAgain = true;
}

// One sound on its way through an open device: what has been written, and
// when it can at the earliest be heard to its end.
struct Stream {
    snd_pcm_t* pcm;
    unsigned rate;
    StopSignal* stop;
    Clock::time_point started = Clock::now();  // the opening, then the device's start
    bool running = false;
    std::size_t written = 0;

    Clock::time_point heardAtTheEarliest() const { return started + framesToTime(written, rate); }
    Clock::time_point giveUpAt() const { return heardAtTheEarliest() + giveUpAfter; }

    // The device starts once its buffer is full or at snd_pcm_start, and the
    // call that starts it returns when the server has taken the start: one
    // that stalls then (a busy machine) plays the whole sound that much
    // later, while PulseAudio's delay runs on as if it were playing.
    void noteStart()
    {
        if (!running && snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
            running = true;
            started = Clock::now();
        }
    }

    // Writes frames, waiting for room in the device's buffer.
    Ending write(const unsigned char* data, std::size_t frames, std::size_t frameBytes)
    {
        bool recovered = false;  // from an error, with nothing written since
        while (frames > 0) {
            if (stopRequested(stop))
                return Ending::Stopped;
            snd_pcm_sframes_t done = snd_pcm_writei(pcm, data, frames);
            if (done == -EAGAIN) {
                // A full buffer: wait for room, a period at most (a stop is
                // looked at every 50 ms), and no later than the give-up time.
                const Clock::time_point now = Clock::now();
                if (now >= giveUpAt())
                    return Ending::Lost;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt() - now).count();
                const int waitMs = static_cast<int>(std::clamp<long long>(left, 1, stop != nullptr ? 50 : 1000));
                const int waited = snd_pcm_wait(pcm, waitMs);
                if (waited >= 0)
                    continue;
                done = waited;
            }
            if (done < 0) {
                // An underrun or a suspend is recovered from; any other
                // error, or one straight after a recovery, means that the
                // device or its server is gone.
                if (recovered || (done != -EPIPE && done != -ESTRPIPE)
                    || snd_pcm_recover(pcm, static_cast<int>(done), 1) < 0)
                    return Ending::Lost;
                recovered = true;
                continue;
            }
            recovered = false;
            noteStart();
            data += static_cast<std::size_t>(done) * frameBytes;
            frames -= static_cast<std::size_t>(done);
            written += static_cast<std::size_t>(done);
        }
        return Ending::Heard;
    }

    // Waits until the last frame written has been heard.
    //
    // The device's delay counts what is still ahead of the listener, the
    // sound server's own latency included; it is read a few times and the
    // end expected that long after each reading. A delay of zero while
    // frames wait in the buffer is a sink that has not started yet (one that
    // is waking reads so before it has played anything): those frames are
    // what is ahead then. Once the server has taken every frame, readings go
    // on only to bring the end closer: PipeWire's delay then returns to one
    // quantum on every cycle. PulseAudio, whose sink mixes seconds ahead on
    // a desktop, reports an underrun while the sink still holds the sound;
    // the last reading holds then (closing the stream early would take back
    // what has not been heard).
    Ending waitUntilHeard(snd_pcm_uframes_t bufferFrames, Clock::duration tail)
    {
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm) < 0)
            return Ending::Lost;
        noteStart();
        Clock::time_point expected = Clock::now();
        bool allTaken = false;
        bool realTime = false;  // a device that holds what it plays (not a file)
        for (;;) {
            const Clock::time_point now = Clock::now();
            // A device that is gone says so here (PipeWire's delay goes on
            // reading its last value after its server has died).
            const snd_pcm_sframes_t avail = snd_pcm_avail(pcm);
            if (avail < 0 && avail != -EPIPE)
                return Ending::Lost;
            snd_pcm_sframes_t delay = 0;
            if (avail >= 0 && snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING && snd_pcm_delay(pcm, &delay) == 0) {
                const snd_pcm_uframes_t queued = bufferFrames - std::min<snd_pcm_uframes_t>(avail, bufferFrames);
                const std::size_t ahead = delay > 0 ? static_cast<std::size_t>(delay) : queued;
                const Clock::time_point ends = now + framesToTime(ahead, rate);
                expected = allTaken ? std::min(expected, ends) : ends;
                allTaken = queued == 0;
                realTime = realTime || ahead > 0;
                if (realTime)
                    expected = std::max(expected, heardAtTheEarliest());
            }
            if (now >= expected + tail)
                return Ending::Heard;
            if (now >= giveUpAt())
                return Ending::Lost;
            // A reading shortly before the end, while the device still
            // plays, catches a stream that started later than it said.
            const Clock::time_point wake =
                expected - now > 2 * lastReadingBefore ? expected - lastReadingBefore : expected + tail;
            if (pauseUntil(std::min({wake, now + longestPause, giveUpAt()}), stop))
                return Ending::Stopped;
        }
    }
};

}  // namespace

// Opened without blocking (a busy device fails at once) and kept that way:
// every wait of a play is its own.
Opened Device::open(const Source& source, StopSignal* stop)
{
    close();
    static const int quiet = snd_lib_error_set_handler(quietAlsa);
    (void)quiet;
    if (lastDeviceFailure.isSet() && pauseUntil(lastDeviceFailure.get() + retryAfter, stop))
        return Opened::NoDevice;

    const compat::Quiet quietLibraries;
    if (readConfigurationAgain.exchange(false))
        snd_config_update_free_global();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        noteDeviceFailure();
        return Opened::NoDevice;
    }
    if (snd_pcm_set_params(pcm, source.format, SND_PCM_ACCESS_RW_INTERLEAVED, source.channels, source.rate, 1,
                           deviceLatencyUs)
        < 0) {
        snd_pcm_close(pcm);
        return Opened::Unplayable;
    }
    pcm_ = pcm;
    return Opened::Ready;
}

void Device::close()
{
    if (pcm_ == nullptr)
        return;
    const compat::Quiet quietLibraries;
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
}

Ending Device::play(Source& source, std::size_t leadIn, StopSignal* stop)
{
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    if (snd_pcm_get_params(pcm_, &bufferFrames, &periodFrames) < 0)
        return Ending::Lost;
    const std::size_t frameBytes = source.frameBytes();
    const std::size_t blockFrames = std::max<std::size_t>(1, blockBytes / frameBytes);
    std::vector<unsigned char> block(blockFrames * frameBytes);  // silence until read into

    const Clock::duration tail = leadIn > 0 ? tailAfterPause : Clock::duration::zero();
    Stream stream{pcm_, source.rate, stop};
    Ending ending = Ending::Heard;
    while (ending == Ending::Heard && leadIn > 0) {
        const std::size_t frames = std::min(leadIn, blockFrames);
        ending = stream.write(block.data(), frames, frameBytes);
        leadIn -= frames;
    }
    while (ending == Ending::Heard) {
        const std::size_t frames = source.read(block.data(), blockFrames);
        if (frames == 0)
            break;
        ending = stream.write(block.data(), frames, frameBytes);
    }
    if (ending == Ending::Heard)
        ending = stream.waitUntilHeard(bufferFrames, tail);
    if (ending == Ending::Lost)
        noteDeviceFailure();
    return ending;
}

}  // namespace sound
