// Writing a sound into an open ALSA device: every wait for room in its
// buffer bounded, and stoppable when the play may be stopped.

#include "compat/sound_stream_posix.h"

#include <algorithm>
#include <cerrno>

namespace sound {

// The device starts once its buffer is full or at snd_pcm_start, and the
// call that starts it returns when the server has taken the start: one
// that stalls then (a busy machine) plays the whole sound that much
// later, while PulseAudio's delay runs on as if it were playing.
void Stream::noteStart()
{
    if (!running && snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
        running = true;
        started = Clock::now();
    }
}

// Writes up to frames frames, waiting for room in the device's buffer
// until all are written (whole) or none can be now (not whole); the
// number written, or a negative ALSA error.
snd_pcm_sframes_t Stream::writeSome(const unsigned char* data, std::size_t frames, bool whole)
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
            const int longest = control.stoppable() ? timing::stoppableRoomWaitMs : timing::roomWaitMs;
            const int waited = snd_pcm_wait(pcm, static_cast<int>(std::clamp<long long>(left, 1, longest)));
            if (waited >= 0)
                continue;
            result = waited;
        }
        if (result < 0) {
            // An underrun or a suspend is recovered from; any other
            // error, or one straight after a recovery, means that the
            // device or its server is gone. snd_pcm_recover may wait for
            // a suspended device to resume as long as it takes: that
            // wait is bounded only by the play's deadline, past which
            // whoever waits for the play leaves it behind.
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

std::optional<Ending> Stream::write(const unsigned char* data, std::size_t frames)
{
    const snd_pcm_sframes_t done = writeSome(data, frames, true);
    if (done < 0)
        return done == -EINTR ? Ending::Stopped : Ending::Lost;
    written += frames;
    renewDeadline();
    return std::nullopt;
}
}  // namespace sound
