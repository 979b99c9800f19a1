// One sound on its way through an open ALSA device, for the files of the
// sound layer: written by sound_stream_posix.cpp, waited for until heard by
// sound_wait_posix.cpp. sound_device_posix.cpp opens the device and runs the
// play.
#pragma once

#include "compat/sound_posix.h"

#include <optional>

namespace sound {

inline Clock::duration framesToTime(std::size_t frames, unsigned rate)
{
    const std::chrono::duration<double> seconds(static_cast<double>(frames) / rate);
    return std::chrono::duration_cast<Clock::duration>(seconds);
}

// What has been written, and when it can at the earliest be heard to its
// end.
struct Stream {
    snd_pcm_t* pcm;
    unsigned rate;
    std::size_t frameBytes;
    PlayControl& control;
    Clock::time_point started = Clock::now();  // the opening, then the device's start
    bool running = false;
    std::size_t written = 0;  // frames of the lead-in and the sound

    Clock::time_point heardAtTheEarliest() const { return started + framesToTime(written, rate); }
    Clock::time_point giveUpAt() const { return heardAtTheEarliest() + timing::giveUpAfter; }

    // The play's deadline follows the stream's give-up moment, which moves
    // on as frames are written: whoever waits for the play gives up on it
    // once it has outlived that (a library call held it).
    void renewDeadline() { control.moveDeadline(giveUpAt()); }

    // Writing (sound_stream_posix.cpp).
    void noteStart();
    snd_pcm_sframes_t writeSome(const unsigned char* data, std::size_t frames, bool whole);
    // Writes all of frames, or ends the play: stopped, or the device lost.
    std::optional<Ending> write(const unsigned char* data, std::size_t frames);

    // Waiting until heard (sound_wait_posix.cpp).
    Ending waitUntilHeard(const PlayPlan& plan, const unsigned char* silence, std::size_t silenceFrames);
    Ending drain();
    Ending followDelay(Clock::duration tail, const unsigned char* silence, std::size_t silenceFrames);
};

}  // namespace sound
