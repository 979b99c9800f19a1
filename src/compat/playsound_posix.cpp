// The Win32 PlaySoundA on POSIX systems, over libsndfile and ALSA, for the
// calls the player makes: a WAV file by name (SND_FILENAME) and the system
// default sound (SND_ALIAS_ID with SND_ALIAS_SYSTEMDEFAULT), each
// synchronously or with SND_ASYNC. Every play opens ALSA's "default" device
// and closes it when done, so nothing is held between plays and a restarted
// sound server is found again. A file that cannot be played is replaced by
// the system default sound, and the call yields FALSE.
// Every wait is bounded: a play that has not been heard to its end a few
// seconds after it could have been (a server that died or froze) is given up,
// and a synchronous call returns then even if a library call still holds the
// play's thread.

#include "compat/win32.h"

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
};

// One sound made ready to play: its source and the device open for it.
struct Prepared {
    sound::Source source;
    sound::Device device;
    bool substitute = false;  // the default sound, in place of a file
};

// Makes the system default sound ready: the theme's bell, or the chime.
Opened prepareDefaultSound(Prepared& sound, sound::PlayControl& control)
{
    for (const std::string& bell : sound::themeBells()) {
        if (!sound.source.openFile(bell.c_str(), false))
            continue;
        const Opened opened = sound.device.open(sound.source, control);
        if (opened != Opened::Unplayable)
            return opened;
        break;
    }
    sound.source.openSamples(sound::chime(), sound::chimeRate);
    return sound.device.open(sound.source, control);
}

// Opens what request names, or the default sound in its place.
Opened prepare(const Request& request, Prepared& sound, sound::PlayControl& control)
{
    if (request.systemDefault)
        return prepareDefaultSound(sound, control);
    if (sound.source.openFile(request.fileName.c_str(), true)) {
        const Opened opened = sound.device.open(sound.source, control);
        if (opened != Opened::Unplayable)
            return opened;
    }
    sound.substitute = true;
    return prepareDefaultSound(sound, control);
}

// Plays what request names to its end, on the play's own thread; true when
// that sound was heard.
bool perform(const Request& request, sound::PlayControl& control)
{
    // The device's turn (a second after it last failed), and the opening.
    sound::DeviceRetry& retry = sound::deviceRetry();
    const Clock::time_point turn = retry.turn();
    control.moveDeadline(turn + sound::openingTakesAtMost);
    if (control.stop().pauseUntil(turn))
        return false;
    // A device still held by a library call (a frozen server) is not joined
    // by a second one: this try fails, and the next waits its turn.
    if (sound::playsLeftBehind() > 0) {
        retry.noteFailure();
        return false;
    }
    Prepared sound;
    if (prepare(request, sound, control) != Opened::Ready)
        return false;
    const sound::PlayPlan plan = planFor(sound.source.rate());
    const sound::Ending ending = sound.device.play(sound.source, plan, control);
    lastPlayEnded.set(Clock::now());
    return ending == sound::Ending::Heard && !sound.substitute;
}

}  // namespace

BOOL PlaySoundA(LPCSTR pszSound, HMODULE, DWORD fdwSound)
{
    // A new play ends the sound still playing, as on Windows.
    sound::stopAsync();
    // The two plays the player asks for: the system default sound (by
    // SND_ALIAS_ID; the only alias there is), and a file by its name.
    Request request;
    request.systemDefault = (fdwSound & SND_ALIAS_ID) == SND_ALIAS_ID;
    if (!request.systemDefault)
        request.fileName = pszSound;
    const sound::Play play = [request](sound::PlayControl& control) { return perform(request, control); };
    if ((fdwSound & SND_ASYNC) != 0)
        return sound::playAsync(play) ? TRUE : FALSE;
    return sound::playAndWait(play) ? TRUE : FALSE;
}
