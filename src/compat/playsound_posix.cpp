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

#include <algorithm>

#include "compat/lasting.h"
#include "compat/sound_posix.h"

namespace {

using sound::Clock;
using sound::Opened;

// Whether the device is in use (a play has it open), when it last was,
// and since when it has been without a pause longer than idleBeforeWaking:
// a device in use that long is awake. Plays on several threads note their
// uses (compat::lasting<DeviceUse>(): a play may still run as the process
// exits).
class DeviceUse {
public:
    bool idleAt(Clock::time_point at)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        return idle(at);
    }
    // A play has the device open now; how long the device has been awake.
    Clock::duration begin()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        const Clock::time_point now = Clock::now();
        if (idle(now))
            since_ = now;
        ++playing_;
        return now - since_;
    }
    // That play is done with it.
    void end()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        --playing_;
        last_ = Clock::now();
    }

private:
    // Idle at the given moment unless in use within idleBeforeWaking before
    // it (a play still going counts as in use now).
    bool idle(Clock::time_point at) const
    {
        const Clock::time_point used = playing_ > 0 ? Clock::now() : last_;
        return used == Clock::time_point::min() || at - used > sound::timing::idleBeforeWaking;
    }
    std::mutex lock_;
    int playing_ = 0;
    Clock::time_point last_ = Clock::time_point::min();
    Clock::time_point since_{};
};
DeviceUse& deviceUse()
{
    return compat::lasting<DeviceUse>();
}

// How the next sound, at the given rate, is played on device, just opened
// after it had been awake for the given time: how its end is waited for
// (EndWait), and whether it begins with a lead-in (a device awake for less
// than that is given the rest of it first) and then stays open a little
// past the foretold end. A waking is silence alone.
sound::PlayPlan planFor(const sound::Device& device, const sound::PlayControl& control, unsigned rate,
                        Clock::duration awake, bool waking)
{
    sound::PlayPlan plan;
    // PipeWire's drain returns a quantum or two after the sound has been
    // heard, which would lengthen every pause between lines: a play on its
    // own plug-in ends at the end its delay foretells, and is drained behind
    // that (the delay may say a sound heard up to a quantum early), while
    // the next play may open. On PulseAudio's plug-in a play is drained
    // before it ends: that server may start a stream late after another has
    // left its sink, later than the delay says, and from ALSA's side it
    // cannot be told from PipeWire's PulseAudio server.
    if (!device.playsInRealTime()) {
        plan.endWait = sound::EndWait::Length;
    } else if (control.stoppable()) {
        plan.endWait = sound::EndWait::Delay;
    } else if (device.isPipeWiresOwn()) {
        plan.endWait = sound::EndWait::Delay;
        plan.drainBehind = true;
    }
    if (waking) {
        const std::chrono::duration<double> silence = sound::timing::wakeAhead + sound::timing::wakeLingers;
        plan.leadInFrames = static_cast<std::size_t>(silence.count() * rate);
    } else if (awake < sound::timing::leadIn) {
        const std::chrono::duration<double> leadIn = sound::timing::leadIn - awake;
        plan.leadInFrames = static_cast<std::size_t>(leadIn.count() * rate);
        plan.tail = sound::timing::tailAfterWaking;
    }
    return plan;
}

// What one call plays: the system default sound, a file, or nothing (a
// device woken for the play to come).
struct Request {
    enum Kind { SystemDefault, File, Nothing } kind = File;
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
    if (request.kind == Request::SystemDefault)
        return prepareDefaultSound(sound, control);
    if (request.kind == Request::Nothing) {
        sound.source.openNothing(sound::chimeRate);
        return sound.device.open(sound.source, control, sound::timing::wakingLatencyUs);
    }
    if (sound.source.openFile(request.fileName.c_str(), true)) {
        const Opened opened = sound.device.open(sound.source, control);
        if (opened != Opened::Unplayable)
            return opened;
    }
    sound.substitute = true;
    return prepareDefaultSound(sound, control);
}

// Plays what request names to its end, on the play's own thread, and
// reports whether that sound was heard as soon as it has been, before the
// device is drained, as the plan may say, and closed.
bool perform(const Request& request, sound::PlayControl& control)
{
    // The device's turn (a second after it last failed), and the opening.
    sound::DeviceRetry& retry = sound::deviceRetry();
    const Clock::time_point turn = retry.turn();
    control.moveDeadline(turn + sound::timing::openingTakesAtMost);
    if (control.stop().pauseUntil(turn))
        return false;
    // A device still held by a library call (a frozen server) is not joined
    // by a second one: this try fails, and the next waits its turn.
    sound::awaitClosings(control);
    if (sound::playsLeftBehind() > 0) {
        retry.noteFailure();
        return false;
    }
    Prepared sound;
    if (prepare(request, sound, control) != Opened::Ready)
        return false;
    struct InUse {
        Clock::duration awake = deviceUse().begin();
        ~InUse() { deviceUse().end(); }
    } inUse;
    const sound::PlayPlan plan =
        planFor(sound.device, control, sound.source.rate(), inUse.awake, request.kind == Request::Nothing);
    const sound::Ending ending = sound.device.play(sound.source, plan, control);
    const bool heard = ending == sound::Ending::Heard && !sound.substitute;
    const bool drainsBehind = ending == sound::Ending::Heard && plan.drainBehind;
    control.report(heard, drainsBehind);
    if (drainsBehind)
        sound.device.drain();
    return heard;
}

}  // namespace

namespace sound {

// A wait for a play that the device, idle by then, would start late: the
// device is woken wakeAhead before it ends (at once in a shorter wait).
Clock::time_point wakeTimeFor(Clock::time_point playAt)
{
    if (!deviceUse().idleAt(playAt))
        return playAt;
    return std::max(Clock::now(), playAt - timing::wakeAhead);
}

// Silence, played as the SND_ASYNC sound is (unless a sound still plays):
// the next play stops it as it begins. (Left to end by itself after the
// next play had started, it would make that play's drain worthless on a
// PulseAudio sink that mixes ahead: with another stream playing, the sink
// takes the line whole at once and acknowledges the drain, and closing the
// stream then takes back what has not been heard.)
void wakeDevice()
{
    if (asyncPlaying())
        return;
    Request request;
    request.kind = Request::Nothing;
    playAsync([request](PlayControl& control) { return perform(request, control); });
}

}  // namespace sound

BOOL PlaySoundA(LPCSTR pszSound, HMODULE, DWORD fdwSound)
{
    // A new play ends the sound still playing (or the waking), as on
    // Windows.
    sound::stopAsync();
    // The two plays the player asks for: the system default sound (by
    // SND_ALIAS_ID; the only alias there is), and a file by its name.
    Request request;
    request.kind = (fdwSound & SND_ALIAS_ID) == SND_ALIAS_ID ? Request::SystemDefault : Request::File;
    if (request.kind == Request::File)
        request.fileName = pszSound;
    const sound::Play play = [request](sound::PlayControl& control) { return perform(request, control); };
    if ((fdwSound & SND_ASYNC) != 0)
        return sound::playAsync(play) ? TRUE : FALSE;
    return sound::playAndWait(play) ? TRUE : FALSE;
}
