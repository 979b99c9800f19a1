// ALSA's "default" device: opened for one sound, the sound written to it
// (sound_stream_posix.cpp) and waited on until heard (sound_wait_posix.cpp),
// then closed; and the retry after a failure.

#include "compat/sound_posix.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "compat/lasting.h"
#include "compat/quiet_posix.h"
#include "compat/sound_stream_posix.h"

namespace sound {

namespace {

// Frames go to the device in blocks of at most this many bytes, so memory
// does not grow with the file.
constexpr std::size_t blockBytes = 16 * 1024;

// ALSA reports its errors on standard error; the player prints nothing but
// its messages, and a failed play is told by the result alone.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

Clock::time_point DeviceRetry::turn() const
{
    const Clock::time_point now = Clock::now();
    return lastFailure_.isSet() ? std::max(lastFailure_.get() + timing::retryAfter, now) : now;
}

void DeviceRetry::noteFailure()
{
    lastFailure_.set(Clock::now());
}

DeviceRetry& deviceRetry()
{
    return compat::lasting<DeviceRetry>();
}

// Opened without blocking (a busy device fails at once), so that every wait
// while writing is the play's own; only the drain blocks. Where "default"
// leads is ALSA's configuration, read again by the open when its files have
// changed.
Opened Device::open(const Source& source, PlayControl& control, unsigned latencyUs)
{
    close();
    static const int quiet = snd_lib_error_set_handler(quietAlsa);
    (void)quiet;
    control.moveDeadline(Clock::now() + timing::openingTakesAtMost);
    const compat::Quiet quietLibraries;
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        deviceRetry().noteFailure();
        return Opened::NoDevice;
    }
    if (snd_pcm_set_params(pcm, source.format(), SND_PCM_ACCESS_RW_INTERLEAVED, source.channels(), source.rate(), 1,
                           latencyUs)
        < 0) {
        snd_pcm_close(pcm);
        deviceRetry().noteFailure();
        return Opened::Unplayable;
    }
    pcm_ = pcm;
    return Opened::Ready;
}

bool Device::playsInRealTime() const
{
    const snd_pcm_type_t type = snd_pcm_type(pcm_);
    return type != SND_PCM_TYPE_FILE && type != SND_PCM_TYPE_NULL;
}

// PipeWire's own plug-in names itself on the first line of the device's
// description, the one place ALSA tells which plug-in serves "default".
bool Device::isPipeWiresOwn() const
{
    snd_output_t* description = nullptr;
    if (snd_output_buffer_open(&description) < 0)
        return false;
    char* text = nullptr;
    const bool described = snd_pcm_dump(pcm_, description) == 0 && snd_output_buffer_string(description, &text) > 0;
    const bool pipeWire =
        described && std::string(text, std::strcspn(text, "\n")).find("PipeWire") != std::string::npos;
    snd_output_close(description);
    return pipeWire;
}

void Device::drain()
{
    const compat::Quiet quietLibraries;
    if (snd_pcm_nonblock(pcm_, 0) == 0)
        snd_pcm_drain(pcm_);
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
    stream.renewDeadline();
    const Ending ending = [&] {
        for (std::size_t leadIn = plan.leadInFrames; leadIn > 0;) {
            const std::size_t frames = std::min(leadIn, blockFrames);
            if (const std::optional<Ending> ended = stream.write(silence.data(), frames))
                return *ended;
            leadIn -= frames;
        }
        for (std::size_t frames = 0; (frames = source.read(block.data(), blockFrames)) > 0;)
            if (const std::optional<Ending> ended = stream.write(block.data(), frames))
                return *ended;
        return stream.waitUntilHeard(plan, silence.data(), blockFrames);
    }();
    if (ending == Ending::Lost)
        deviceRetry().noteFailure();
    control.moveDeadline(Clock::now());  // closing is what is left
    return ending;
}

}  // namespace sound
