// The Win32 PlaySoundA on POSIX systems, over libsndfile and ALSA.
//
// Supported: a WAV file by name (SND_FILENAME) and the system default sound
// (SND_ALIAS_ID with SND_ALIAS_SYSTEMDEFAULT), each synchronously or with
// SND_ASYNC. Every play opens ALSA's "default" device and closes it when done,
// so nothing is held between plays and a restarted sound server is found
// again. A file that cannot be played is replaced by the system default
// sound, unless SND_NODEFAULT says otherwise, and the call yields FALSE.
// Every wait is bounded: a play that has not been heard to its end a few
// seconds after it could have been (a server that died or froze) is given up,
// and a synchronous call returns then even if a library call still holds the
// play's thread.

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
// plays in quick succession start at once. Such a stream, when its end is
// followed by the device's delay (the SND_ASYNC sound), also stays open
// tailAfterPause past the end the delay foretells: on PipeWire a stream that
// wakes its sink starts up to a quantum later than its plug-in's delay says,
// and closing it at the foretold end cut up to 18 ms off the sound.
constexpr Clock::duration idleBeforeLeadIn = std::chrono::seconds(2);
constexpr unsigned leadInMs = 250;
constexpr Clock::duration tailAfterPause = std::chrono::milliseconds(30);

sound::Moment lastPlayEnded;

// How the next sound, at the given rate, is played.
sound::PlayPlan planFor(unsigned rate)
{
    sound::PlayPlan plan;
    if (!lastPlayEnded.isSet() || Clock::now() - lastPlayEnded.get() > idleBeforeLeadIn) {
        plan.leadInFrames = static_cast<std::size_t>(rate) * leadInMs / 1000;
        plan.tail = tailAfterPause;
    }
    return plan;
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
Opened prepareDefaultSound(Playback& playback, sound::PlayControl& control)
{
    for (const std::string& bell : sound::themeBells()) {
        if (!playback.source.openFile(bell.c_str(), false))
            continue;
        const Opened opened = playback.device.open(playback.source, control);
        if (opened != Opened::Unplayable)
            return opened;
        break;
    }
    playback.source.openSamples(sound::chime(), sound::chimeRate);
    return playback.device.open(playback.source, control);
}

// Opens what request names, or the default sound in its place.
Opened prepare(const Request& request, Playback& playback, sound::PlayControl& control)
{
    if (request.systemDefault)
        return prepareDefaultSound(playback, control);
    if (playback.source.openFile(request.fileName.c_str(), true)) {
        const Opened opened = playback.device.open(playback.source, control);
        if (opened != Opened::Unplayable)
            return opened;
    }
    if (request.noDefault)
        return Opened::Unplayable;
    playback.substitute = true;
    return prepareDefaultSound(playback, control);
}

// Plays what request names to its end, on the play's own thread; true when
// that sound was heard.
bool perform(const Request& request, sound::PlayControl& control)
{
    sound::DeviceRetry& retry = sound::deviceRetry();
    if (retry.awaitTurn(control))
        return false;
    // A device still held by a library call (a frozen server) is not joined
    // by a second one: this try fails, and the next waits its turn.
    if (sound::playLeftBehind()) {
        retry.noteFailure();
        return false;
    }
    Playback playback;
    if (prepare(request, playback, control) != Opened::Ready)
        return false;
    const sound::PlayPlan plan = planFor(playback.source.rate());
    const sound::Ending ending = playback.device.play(playback.source, plan, control);
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
    const sound::Play play = [request](sound::PlayControl& control) { return perform(request, control); };
    if ((fdwSound & SND_ASYNC) != 0)
        return sound::playAsync(play) ? TRUE : FALSE;
    return sound::playAndWait(play) ? TRUE : FALSE;
}
