// Waiting until the last frame written to an ALSA device has been heard:
// drained, followed by the device's delay, or by the sound's length on a
// device that does not play in real time; every wait bounded.

#include "compat/sound_stream_posix.h"

#include <algorithm>
#include <cerrno>

namespace sound {

using timing::lastReadingBefore;
using timing::longestPause;

// Waits until the last frame written has been heard.
Ending Stream::waitUntilHeard(const PlayPlan& plan, const unsigned char* silence, std::size_t silenceFrames)
{
    if (plan.endWait == EndWait::Length)
        return control.stop().pauseUntil(heardAtTheEarliest()) ? Ending::Stopped : Ending::Heard;
    if (plan.endWait == EndWait::Drain)
        return drain();
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm) < 0)
        return Ending::Lost;
    noteStart();
    return followDelay(plan.tail, silence, silenceFrames);
}

// A play that nobody stops is drained, as aplay does (on PipeWire, only
// behind its end; see planFor in playsound_posix.cpp): the device's own
// wait until its last frame has been played, right on every server (one
// that starts late or stalls, one that keeps a last partial period until
// more comes, one that takes a stream's sound late because another stream
// has just closed).
//
// A sound shorter than the device's buffer has not started yet, and the
// drain starts it. It must: PulseAudio acknowledges a drain at once when
// the stream holds nothing more to mix, and a desktop's sink mixes up to
// two seconds ahead of what is heard, so a stream started first would be
// mixed whole before the drain arrived, said drained long before it was
// heard, and its closing would take back what had not been heard. A drain
// asked for while the server still holds the sound is acknowledged once
// the sound has been played. The drain may block as long as the server
// holds it; the play is given up on after its bound, and lasts at least
// as long as its sound.
Ending Stream::drain()
{
    renewDeadline();
    if (snd_pcm_nonblock(pcm, 0) < 0)
        return Ending::Lost;
    const int drained = snd_pcm_drain(pcm);
    if (drained != 0 && drained != -EPIPE)
        return Ending::Lost;
    return control.stop().pauseUntil(std::min(heardAtTheEarliest(), giveUpAt())) ? Ending::Stopped : Ending::Heard;
}

// A play that may be stopped at any moment (the SND_ASYNC sound, a waking),
// and every play on PipeWire's own plug-in, follows the device's delay instead, which
// counts what is still ahead of the listener, the server's latency
// included.
//
// The stream is kept playing a little past the sound, with silence: a
// server may keep a last partial period until more comes (PulseAudio's
// protocol served by PipeWire). The sound is heard once the delay is down
// to that silence, and the server has taken the sound. A delay of zero
// with frames in the buffer, before any
// other, is a sink that has not started yet; after others it is a stream
// played out (PulseAudio's protocol served by PipeWire reads zero then,
// PipeWire's own plug-in one quantum). An underrun (PulseAudio, whose
// sink mixes seconds ahead on a desktop, reports one while it still
// holds the sound) leaves the last reading to hold. A reading shortly
// before the end catches a stream that started later than it said; a
// play lasts at least the sound's length from the device's start.
Ending Stream::followDelay(Clock::duration tail, const unsigned char* silence, std::size_t silenceFrames)
{
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    snd_pcm_uframes_t bufferFrames = 0;
    if (snd_pcm_hw_params_current(pcm, params) < 0 || snd_pcm_hw_params_get_buffer_size(params, &bufferFrames) < 0)
        return Ending::Lost;
    const std::chrono::duration<double> silenceSeconds = timing::silenceAfter;
    const auto silenceAfter = static_cast<std::size_t>(silenceSeconds.count() * rate);
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
                // What the server has yet to take counts in full: a delay
                // below it runs on a clock the server no longer follows
                // (PulseAudio's plug-in times it so while the server is
                // frozen).
                const auto left = playing ? std::max(delay, static_cast<snd_pcm_sframes_t>(queued))
                                          : static_cast<snd_pcm_sframes_t>(queued);
                const auto ahead = left - static_cast<snd_pcm_sframes_t>(padding);
                // Once heard, the end stays where it was first seen.
                expected =
                    ahead > 0 ? now + framesToTime(static_cast<std::size_t>(ahead), rate) : std::min(expected, now);
                expected = std::max(expected, heardAtTheEarliest());
            }
            if (readable && padding < silenceAfter) {
                const snd_pcm_sframes_t topped = writeSome(
                    silence, std::min({static_cast<std::size_t>(avail), silenceFrames, silenceAfter - padding}), false);
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
}  // namespace sound
