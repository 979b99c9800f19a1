// The Win32 PlaySoundA on POSIX systems, over libsndfile and ALSA.
//
// Supported: a WAV file by name (SND_FILENAME) and the system default sound
// (SND_ALIAS_ID with SND_ALIAS_SYSTEMDEFAULT), each synchronously or with
// SND_ASYNC. Every play opens ALSA's "default" device and closes it when done,
// so nothing is held between plays and a restarted sound server is found
// again. A file that cannot be played is replaced by the system default
// sound, unless SND_NODEFAULT says otherwise, and the call yields FALSE.
// Every wait is bounded: a play that has not been heard to its end a few
// seconds after it could have been (a server that died or froze) is given up.

#include "compat/win32.h"

#include <cstdint>

#include "compat/sound_posix.h"

namespace {

using sound::Clock;
using sound::Opened;

// Sound servers suspend an idle sink after a few seconds (PipeWire after 3,
// PulseAudio after 5) and sound cards power down; the start of a sound
// played into a waking device is lost or preceded by a pop. A play that
// follows a pause longer than idleBeforeLeadIn begins with leadInMs of
// silence, which covers the wake-up and goes unnoticed after the pause;
// plays in quick succession start at once.
constexpr Clock::duration idleBeforeLeadIn = std::chrono::seconds(2);
constexpr unsigned leadInMs = 250;

sound::Moment lastPlayEnded;

// The silence to play before a sound at the given rate.
std::size_t leadInFrames(unsigned rate)
{
    const bool idle = !lastPlayEnded.isSet() || Clock::now() - lastPlayEnded.get() > idleBeforeLeadIn;
    return idle ? static_cast<std::size_t>(rate) * leadInMs / 1000 : 0;
}

// What one call plays.
struct Request {
    bool systemDefault = false;
    std::string fileName;
    bool noDefault = false;
};

// One sound made ready to play: its source and the device open for it.
struct Playback {
    sound::Source source;
    sound::Device device;
    bool substitute = false;  // the default sound, in place of a file
};

// Makes the system default sound ready: the theme's bell, or the chime.
Opened prepareDefaultSound(Playback& playback, sound::StopSignal* stop)
{
    for (const std::string& bell : sound::themeBells()) {
        if (!playback.source.openFile(bell.c_str(), false))
            continue;
        const Opened opened = playback.device.open(playback.source, stop);
        if (opened != Opened::Unplayable)
            return opened;
        break;
    }
    playback.source.openSamples(sound::chime(), sound::chimeRate);
    return playback.device.open(playback.source, stop);
}

// Opens what request names, or the default sound in its place.
Opened prepare(const Request& request, Playback& playback, sound::StopSignal* stop)
{
    if (request.systemDefault)
        return prepareDefaultSound(playback, stop);
    if (playback.source.openFile(request.fileName.c_str(), true)) {
        const Opened opened = playback.device.open(playback.source, stop);
        if (opened != Opened::Unplayable)
            return opened;
    }
    if (request.noDefault)
        return Opened::Unplayable;
    playback.substitute = true;
    return prepareDefaultSound(playback, stop);
}

// Plays what request names to its end; true when that sound was heard.
bool perform(const Request& request, sound::StopSignal* stop)
{
    Playback playback;
    if (prepare(request, playback, stop) != Opened::Ready)
        return false;
    const sound::Ending ending = playback.device.play(playback.source, leadInFrames(playback.source.rate), stop);
    lastPlayEnded.set(Clock::now());
    return ending == sound::Ending::Heard && !playback.substitute;
}

}  // namespace

BOOL PlaySoundA(LPCSTR pszSound, HMODULE, DWORD fdwSound)
{
    // A new play, or none, ends the sound still playing, as on Windows.
    sound::stopAsync();
    if (pszSound == nullptr)
        return TRUE;

    Request request;
    request.noDefault = (fdwSound & SND_NODEFAULT) != 0;
    if ((fdwSound & SND_ALIAS_ID) == SND_ALIAS_ID) {
        // The system default sound is the only alias there is.
        request.systemDefault = true;
        if (reinterpret_cast<std::uintptr_t>(pszSound) != SND_ALIAS_SYSTEMDEFAULT && request.noDefault)
            return FALSE;
    } else if ((fdwSound & SND_FILENAME) != 0) {
        request.fileName = pszSound;
    } else {
        return FALSE;
    }
    if ((fdwSound & SND_ASYNC) != 0)
        return sound::startAsync([request](sound::StopSignal* stop) { perform(request, stop); }) ? TRUE : FALSE;
    return perform(request, nullptr) ? TRUE : FALSE;
}
