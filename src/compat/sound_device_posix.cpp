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
// How long opening the device, and closing it, may take before the play is
// given up on (a sound server that froze holds both).
constexpr Clock::duration openingTakesAtMost = std::chrono::seconds(2);
constexpr Clock::duration closingTakesAtMost = std::chrono::seconds(1);
// The longest single sleep of a play, so that a stalled device is noticed
// and the silence after a sound topped up, and how long before the expected
// end of a sound its delay is read again.
constexpr Clock::duration longestPause = std::chrono::seconds(1);
constexpr Clock::duration lastReadingBefore = std::chrono::milliseconds(100);
// The silence written after a sound that is followed by its delay, enough
// to carry a last partial period through.
constexpr unsigned silenceAfterMs = 250;
// The longest wait for room in the device's buffer: a play that another
// thread may stop looks at its stop signal this often.
constexpr int roomWaitMs = 1000;
constexpr int stoppableRoomWaitMs = 50;
// A device that failed is tried again this long after at the earliest.
constexpr Clock::duration retryAfter = std::chrono::seconds(1);

Clock::duration framesToTime(std::size_t frames, unsigned rate)
{
    const std::chrono::duration<double> seconds(static_cast<double>(frames) / rate);
    return std::chrono::duration_cast<Clock::duration>(seconds);
}

// ALSA reports its errors on standard error; the player prints nothing but
// its messages, and a failed play is told by the result alone.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Whether the device plays in real time: a sound card or a sound server, not
// ALSA's file or null plug-in, which take every frame at once.
bool playsInRealTime(snd_pcm_t* pcm)
{
    const snd_pcm_type_t type = snd_pcm_type(pcm);
    return type != SND_PCM_TYPE_FILE && type != SND_PCM_TYPE_NULL;
}

// One sound on its way through an open device: what has been written, and
// when it can at the earliest be heard to its end.
struct Stream {
    snd_pcm_t* pcm;
    unsigned rate;
    std::size_t frameBytes;
    PlayControl& control;
    const bool realTime = playsInRealTime(pcm);
    Clock::time_point started = Clock::now();  // the opening, then the device's start
    bool running = false;
    std::size_t written = 0;  // frames of the lead-in and the sound

    Clock::time_point heardAtTheEarliest() const { return started + framesToTime(written, rate); }
    Clock::time_point giveUpAt() const { return heardAtTheEarliest() + giveUpAfter; }

    // Whoever waits for the play gives up on it once it has outlived its
    // own bound: a library call held it.
    void expectDone() { control.expectDoneBy(giveUpAt() + closingTakesAtMost); }

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

    // Writes up to frames frames, waiting for room in the device's buffer
    // until all are written (whole) or none can be now (not whole); the
    // number written, or a negative ALSA error.
    snd_pcm_sframes_t writeSome(const unsigned char* data, std::size_t frames, bool whole)
    {
        std::size_t done = 0;
        bool recovered = false;  // from an error, with nothing written since
        while (done < frames) {
            if (control.stop().requested())
                return -EINTR;
            snd_pcm_sframes_t result = snd_pcm_writei(pcm, data + done * frameBytes, frames - done);
            if (result == -EAGAIN) {
                if (!whole)
                    break;
                // A full buffer: wait for room, and no later than the
                // give-up time.
                const Clock::time_point now = Clock::now();
                if (now >= giveUpAt())
                    return -ETIMEDOUT;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt() - now).count();
                const int longest = control.stoppable() ? stoppableRoomWaitMs : roomWaitMs;
                const int waited = snd_pcm_wait(pcm, static_cast<int>(std::clamp<long long>(left, 1, longest)));
                if (waited >= 0)
                    continue;
                result = waited;
            }
            if (result < 0) {
                // An underrun or a suspend is recovered from; any other
                // error, or one straight after a recovery, means that the
                // device or its server is gone.
                if (recovered || (result != -EPIPE && result != -ESTRPIPE)
                    || snd_pcm_recover(pcm, static_cast<int>(result), 1) < 0)
                    return result;
                recovered = true;
                continue;
            }
            recovered = false;
            done += static_cast<std::size_t>(result);
            noteStart();
        }
        return static_cast<snd_pcm_sframes_t>(done);
    }

    // Writes frames of the lead-in or the sound, all of them.
    Ending write(const unsigned char* data, std::size_t frames)
    {
        const snd_pcm_sframes_t done = writeSome(data, frames, true);
        if (done < 0)
            return done == -EINTR ? Ending::Stopped : Ending::Lost;
        written += frames;
        expectDone();
        return Ending::Heard;
    }

    // Waits until the last frame written has been heard.
    Ending waitUntilHeard(Clock::duration tail, const unsigned char* silence, std::size_t silenceFrames)
    {
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm) < 0)
            return Ending::Lost;
        noteStart();
        if (!realTime)
            return Ending::Heard;
        return control.stoppable() ? followDelay(tail, silence, silenceFrames) : drain();
    }

    // A play that nobody stops is drained, as aplay does: the device's own
    // wait until its last frame has been played, right on every server (one
    // that starts late or stalls, one that keeps a last partial period until
    // more comes). PulseAudio, though, says a stream is drained once its sink
    // has mixed it, which a desktop's sink does up to two seconds ahead, and
    // closing the stream then takes back what has not been heard: the play
    // also lasts until the end that the delay read before the drain
    // foretells. The drain may block as long as the server holds it; the
    // play is given up on after its bound.
    Ending drain()
    {
        expectDone();
        snd_pcm_sframes_t delay = 0;
        Clock::time_point foretold = heardAtTheEarliest();
        if (snd_pcm_delay(pcm, &delay) == 0 && delay > 0)
            foretold = std::max(foretold, Clock::now() + framesToTime(static_cast<std::size_t>(delay), rate));
        if (snd_pcm_nonblock(pcm, 0) < 0)
            return Ending::Lost;
        const int drained = snd_pcm_drain(pcm);
        if (drained != 0 && drained != -EPIPE)
            return Ending::Lost;
        return control.stop().pauseUntil(std::min(foretold, giveUpAt())) ? Ending::Stopped : Ending::Heard;
    }

    // A play that may be stopped at any moment (the SND_ASYNC sound) follows
    // the device's delay instead, which counts what is still ahead of the
    // listener, the server's latency included.
    //
    // The stream is kept playing a little past the sound, with silence: a
    // server may keep a last partial period until more comes (PulseAudio's
    // protocol served by PipeWire). The sound is heard once the delay is down
    // to that silence. A delay of zero with frames in the buffer, before any
    // other, is a sink that has not started yet; after others it is a stream
    // played out (PulseAudio's protocol served by PipeWire reads zero then,
    // PipeWire's own plug-in one quantum). An underrun (PulseAudio, whose
    // sink mixes seconds ahead on a desktop, reports one while it still
    // holds the sound) leaves the last reading to hold. A reading shortly
    // before the end catches a stream that started later than it said; a
    // play lasts at least the sound's length from the device's start.
    Ending followDelay(Clock::duration tail, const unsigned char* silence, std::size_t silenceFrames)
    {
        snd_pcm_hw_params_t* params = nullptr;
        snd_pcm_hw_params_alloca(&params);
        snd_pcm_uframes_t bufferFrames = 0;
        if (snd_pcm_hw_params_current(pcm, params) < 0 || snd_pcm_hw_params_get_buffer_size(params, &bufferFrames) < 0)
            return Ending::Lost;
        const auto silenceAfter = static_cast<std::size_t>(rate * silenceAfterMs / 1000);
        Clock::time_point expected = heardAtTheEarliest();
        std::size_t padding = 0;  // silence written after the sound
        bool playing = false;     // a delay was read
        bool readable = true;     // not run dry
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (readable) {
                // A device that is gone says so here (PipeWire's delay goes
                // on reading its last value after its server has died).
                const snd_pcm_sframes_t avail = snd_pcm_avail(pcm);
                snd_pcm_sframes_t delay = 0;
                if (avail == -EPIPE) {
                    readable = false;
                } else if (avail < 0) {
                    return Ending::Lost;
                } else if (snd_pcm_delay(pcm, &delay) == 0) {
                    const snd_pcm_uframes_t queued =
                        bufferFrames - std::min(static_cast<snd_pcm_uframes_t>(avail), bufferFrames);
                    playing = playing || delay > 0;
                    const auto ahead = static_cast<snd_pcm_sframes_t>(playing ? delay : queued)
                                       - static_cast<snd_pcm_sframes_t>(padding);
                    // Once heard, the end stays where it was first seen.
                    expected =
                        ahead > 0 ? now + framesToTime(static_cast<std::size_t>(ahead), rate) : std::min(expected, now);
                    expected = std::max(expected, heardAtTheEarliest());
                }
                if (readable && padding < silenceAfter) {
                    const snd_pcm_sframes_t topped = writeSome(
                        silence, std::min({static_cast<std::size_t>(avail), silenceFrames, silenceAfter - padding}),
                        false);
                    if (topped == -EINTR)
                        return Ending::Stopped;
                    padding += topped > 0 ? static_cast<std::size_t>(topped) : 0;
                }
            }
            if (now >= expected + tail)
                return Ending::Heard;
            if (now >= giveUpAt())
                return Ending::Lost;
            const Clock::time_point wake =
                expected - now > 2 * lastReadingBefore ? expected - lastReadingBefore : expected + tail;
            if (control.stop().pauseUntil(std::min({wake, now + longestPause, giveUpAt()})))
                return Ending::Stopped;
        }
    }
};

}  // namespace

bool DeviceRetry::awaitTurn(PlayControl& control) const
{
    const Clock::time_point turn = lastFailure_.isSet() ? lastFailure_.get() + retryAfter : Clock::now();
    control.expectDoneBy(std::max(turn, Clock::now()) + openingTakesAtMost + closingTakesAtMost);
    return control.stop().pauseUntil(turn);
}

void DeviceRetry::noteFailure()
{
    lastFailure_.set(Clock::now());
}

DeviceRetry& deviceRetry()
{
    static DeviceRetry* retry = new DeviceRetry;  // used until the process ends
    return *retry;
}

// Opened without blocking (a busy device fails at once), so that every wait
// while writing is the play's own; only the drain blocks. Where "default"
// leads is ALSA's configuration, read again by the open when its files have
// changed.
Opened Device::open(const Source& source, PlayControl& control)
{
    close();
    static const int quiet = snd_lib_error_set_handler(quietAlsa);
    (void)quiet;
    control.expectDoneBy(Clock::now() + openingTakesAtMost + closingTakesAtMost);
    const compat::Quiet quietLibraries;
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        deviceRetry().noteFailure();
        return Opened::NoDevice;
    }
    if (snd_pcm_set_params(pcm, source.format(), SND_PCM_ACCESS_RW_INTERLEAVED, source.channels(), source.rate(), 1,
                           deviceLatencyUs)
        < 0) {
        snd_pcm_close(pcm);
        deviceRetry().noteFailure();
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

Ending Device::play(Source& source, const PlayPlan& plan, PlayControl& control)
{
    const std::size_t frameBytes = source.frameBytes();
    const std::size_t blockFrames = std::max<std::size_t>(1, blockBytes / frameBytes);
    const std::vector<unsigned char> silence(blockFrames * frameBytes);
    std::vector<unsigned char> block(blockFrames * frameBytes);

    Stream stream{pcm_, source.rate(), frameBytes, control};
    stream.expectDone();
    Ending ending = Ending::Heard;
    for (std::size_t leadIn = plan.leadInFrames; ending == Ending::Heard && leadIn > 0;) {
        const std::size_t frames = std::min(leadIn, blockFrames);
        ending = stream.write(silence.data(), frames);
        leadIn -= frames;
    }
    while (ending == Ending::Heard) {
        const std::size_t frames = source.read(block.data(), blockFrames);
        if (frames == 0)
            break;
        ending = stream.write(block.data(), frames);
    }
    if (ending == Ending::Heard)
        ending = stream.waitUntilHeard(plan.tail, silence.data(), blockFrames);
    if (ending == Ending::Lost)
        deviceRetry().noteFailure();
    control.expectDoneBy(Clock::now() + closingTakesAtMost);
    return ending;
}

}  // namespace sound
