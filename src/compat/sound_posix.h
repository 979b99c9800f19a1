// What the files of the POSIX sound layer share (sound_*_posix.cpp,
// playsound_posix.cpp, and sleep_posix.cpp, which wakes the device for the
// play that follows a wait); not for the player.
//
// A play runs on a thread of its own (sound_thread_posix.cpp), which owns
// everything the play uses: a source of frames (sound_source_posix.cpp) and
// ALSA's device (sound_device_posix.cpp, with the stream written to it and
// waited on, sound_stream_posix.h). PlaySoundA (playsound_posix.cpp)
// decides what is played and how (the plan), waits for a synchronous play
// until it has been heard and no longer than the play says it needs, and
// leaves behind a play whose thread a library call keeps beyond that.
#pragma once

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace sound {

using Clock = std::chrono::steady_clock;

// How a play is timed: every figure of the sound layer, with its reason.
namespace timing {
// Sound servers suspend an idle sink after a few seconds (PipeWire after 3,
// PulseAudio after 5) and sound cards power down; the start of a sound
// played into a waking device is lost or preceded by a pop. A device idle
// for longer than idleBeforeWaking needs waking: a play then begins with
// leadIn of silence, less what the device has been in use just before it.
// A wait that a play follows wakes the device wakeAhead before its end (the
// lead-in, and the opening) with a stream of silence, long enough to last
// wakeLingers past the wait for a play that comes late; the play stops it
// as it begins, on a device that is awake.
constexpr Clock::duration idleBeforeWaking = std::chrono::seconds(2);
constexpr Clock::duration leadIn = std::chrono::milliseconds(250);
constexpr Clock::duration wakeAhead = std::chrono::milliseconds(300);
constexpr Clock::duration wakeLingers = std::chrono::milliseconds(500);
// On PipeWire a stream that wakes its sink starts up to a quantum later than
// its plug-in's delay says; closing it at the foretold end cut up to 18 ms
// off the sound. Such a stream stays open this much past that end.
constexpr Clock::duration tailAfterWaking = std::chrono::milliseconds(30);
// The silence written after a sound, enough to carry a last partial period
// through a server that keeps it until more comes.
constexpr Clock::duration silenceAfter = std::chrono::milliseconds(250);
// The device's buffer: two seconds, so that a play wakes the process a few
// times a second only; a stop still takes effect at once (the buffer is
// dropped). A waking, silence alone, asks a short one: a sink mixes as far
// ahead as its streams allow (PulseAudio's on a desktop), and a stream that
// follows one that has left it starts only once what was mixed has been
// heard; the line would begin that much late.
constexpr unsigned deviceLatencyUs = 2000000;
constexpr unsigned wakingLatencyUs = 100000;
// The longest single sleep of a play, so that a stalled device is noticed
// and the silence after a sound topped up, and how long before the expected
// end of a sound its delay is read again.
constexpr Clock::duration longestPause = std::chrono::seconds(1);
constexpr Clock::duration lastReadingBefore = std::chrono::milliseconds(100);
// The longest wait for room in the device's buffer; a play that another
// thread may stop looks at its stop signal this often.
constexpr int roomWaitMs = 1000;
constexpr int stoppableRoomWaitMs = 50;
// How long a library call may hold a play before whoever waits for it gives
// up (a sound server that froze holds it): opening the device, closing it,
// and waiting past the moment a sound could at the earliest have been heard
// to its end (a waking sink, a busy server).
constexpr Clock::duration openingTakesAtMost = std::chrono::seconds(2);
constexpr Clock::duration closingTakesAtMost = std::chrono::seconds(1);
constexpr Clock::duration giveUpAfter = std::chrono::seconds(3);
// A device that failed is tried again this long after at the earliest, so
// that a run without an interval waits instead of spinning.
constexpr Clock::duration retryAfter = std::chrono::seconds(1);
// How long a stop may take before the stopped play is left behind (a play
// looks at its stop signal at least every stoppableRoomWaitMs between
// library calls), and how long a process that ends by itself waits for the
// sound it started (a theme's bell may be long).
constexpr Clock::duration stopTakesAtMost = std::chrono::milliseconds(500);
constexpr Clock::duration finishingTakesAtMost = std::chrono::seconds(3);
}  // namespace timing

// A moment shared between threads; unset until it is first set.
class Moment {
public:
    void set(Clock::time_point at) { ticks_.store(at.time_since_epoch().count()); }
    bool isSet() const { return ticks_.load() != never; }
    Clock::time_point get() const { return Clock::time_point(Clock::duration(ticks_.load())); }

private:
    static constexpr Clock::rep never = std::numeric_limits<Clock::rep>::min();
    std::atomic<Clock::rep> ticks_{never};
};

// Tells a play to stop, waking it from its pauses (sound_stop_posix.cpp).
class StopSignal {
public:
    void request();
    bool requested() const;
    // Sleeps until the given moment, or until a stop is asked for; true
    // when stopped.
    bool pauseUntil(Clock::time_point until);

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool requested_ = false;
};

// What a play on its thread shares with whoever started it
// (sound_thread_posix.cpp).
class PlayControl {
public:
    explicit PlayControl(bool stoppable) : stoppable_(stoppable) {}
    PlayControl(const PlayControl&) = delete;
    PlayControl& operator=(const PlayControl&) = delete;

    StopSignal& stop() { return stop_; }
    // Whether another thread may stop the play (an SND_ASYNC sound): its
    // waits are then short, so that a stop takes effect at once.
    bool stoppable() const { return stoppable_; }
    // Moves the moment whoever waits for the play gives up on it: the step
    // the play is in will be over by stepEndsBy unless a library call holds
    // it, and closing the device then takes at most closingTakesAtMost.
    void moveDeadline(Clock::time_point stepEndsBy);

    // Tells whoever waits the play's result, as soon as it is known: a sound
    // heard to its end is told before its device is closed, which goes on
    // behind. Only the first report counts. A play that drains its device
    // behind the report says so (drainsBehind), and the next play may open
    // the device meanwhile.
    void report(bool heard, bool drainsBehind = false);
    // For the thread module: the play's thread is over.
    void end(bool heard);
    // Waits until the play has reported (true, with its result in heard) or
    // its deadline, or latest, has passed (false).
    bool awaitReport(bool& heard, Clock::time_point latest = Clock::time_point::max());
    // Nobody waits for the play any more.
    void leaveBehind();
    // Whether the play's thread is held in a library call: left behind
    // before it reported, or closing its device for longer than that takes.
    bool held(Clock::time_point now);
    // Whether the play has reported that it drains its device behind.
    bool drainsBehind();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool reported_ = false;
    bool heard_ = false;
    bool drainsBehind_ = false;
    bool leftBehind_ = false;
    bool ended_ = false;
    Clock::time_point reportedAt_{};
    Clock::time_point deadline_ = Clock::time_point::max();
    StopSignal stop_;
    const bool stoppable_;
};

using Play = std::function<bool(PlayControl&)>;

// Runs play on a thread of its own and waits until it is done, or until the
// moment it expects to be done by has passed (the thread is then left to end
// by itself). Its result, or false when it was left behind or no thread
// could be started.
bool playAndWait(Play play);
// Runs play on a thread of its own and returns at once; false when no thread
// could be started. At most one such play runs (the SND_ASYNC sound, or a
// waking); it is stopped by stopAsync, and a process that ends by itself
// lets it finish, as far as it expects to.
bool playAsync(Play play);
// Stops the play that playAsync started, waiting a little for it to end.
void stopAsync();
// Whether the play that playAsync started has yet to end.
bool asyncPlaying();
// Waits until every play but self has ended, is held in a library call or
// (one at most) drains behind its report, for as long as closing a device
// takes at most: plays do not pile up behind one another while their
// devices close.
void awaitClosings(const PlayControl& self);
// How many plays are held in a library call (a sound server that froze,
// see PlayControl::held); while one is, no other play opens the device.
int playsLeftBehind();

// A stream of interleaved frames: a decoded file, or samples in memory
// (sound_source_posix.cpp). It closes what it opened.
class Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() { close(); }

    // Opens a regular file for decoding, and nothing else; wavOnly refuses
    // every container but WAV (a recording), otherwise any format
    // libsndfile reads (a theme sound).
    bool openFile(const char* name, bool wavOnly);
    // 16-bit mono samples, which must outlive the source.
    void openSamples(const std::vector<std::int16_t>& samples, unsigned sampleRate);
    // Nothing: the play is its plan's lead-in alone (a device woken up).
    void openNothing(unsigned sampleRate);
    void close();

    snd_pcm_format_t format() const { return open_.format; }
    unsigned channels() const { return open_.channels; }
    unsigned rate() const { return open_.rate; }
    std::size_t frameBytes() const;
    // Reads up to frames frames into buffer; 0 at the end.
    std::size_t read(void* buffer, std::size_t frames);

private:
    // What is open, and what it holds; all of it reset by close().
    struct Open {
        SNDFILE* file = nullptr;
        int fd = -1;  // the file's descriptor, closed after file
        const std::int16_t* samples = nullptr;
        std::size_t frames = 0;  // of the samples
        std::size_t position = 0;
        snd_pcm_format_t format = SND_PCM_FORMAT_S16;
        unsigned channels = 1;
        unsigned rate = 1;
    } open_;
};

// How a sound is played, as PlaySoundA decides it once the device is open:
// the silence written before it, how its end is waited for, how long its
// stream stays open past that end, and whether it is drained behind the
// play's report.
enum class EndWait {
    // A play that nobody stops, on a sound card or PulseAudio's plug-in:
    // drained, the device's own wait until its last frame has been played.
    Drain,
    // A play that may be stopped at any moment (the SND_ASYNC sound, a
    // waking), and every play on PipeWire's own plug-in: the device's delay
    // foretells when what was written will have been heard, and is followed
    // with short waits.
    Delay,
    // ALSA's file or null plug-in, which takes every frame at once: the
    // sound's own length, as on any other device.
    Length,
};
struct PlayPlan {
    std::size_t leadInFrames = 0;
    EndWait endWait = EndWait::Drain;
    Clock::duration tail{};
    bool drainBehind = false;
};

// When the device may be tried again: a second after anything about it last
// failed, so that a run without an interval waits instead of spinning.
class DeviceRetry {
public:
    // When the device may be tried: now, or a second after the last failure.
    Clock::time_point turn() const;
    void noteFailure();

private:
    Moment lastFailure_;
};
// The process's one record of the device's failures.
DeviceRetry& deviceRetry();

enum class Opened { Ready, NoDevice, Unplayable };
enum class Ending { Heard, Stopped, Lost };

// ALSA's "default" device, open for one sound (sound_device_posix.cpp). It
// closes what it opened. Every failure is noted in deviceRetry().
class Device {
public:
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() { close(); }

    // Opens the device for source's format, with a buffer of about
    // latencyUs: NoDevice when there is none, Unplayable when it refuses
    // that format.
    Opened open(const Source& source, PlayControl& control, unsigned latencyUs = timing::deviceLatencyUs);
    void close();
    // Whether the open device plays in real time: a sound card or a sound
    // server, not ALSA's file or null plug-in.
    bool playsInRealTime() const;
    // Whether it is PipeWire's own plug-in (not PulseAudio's, which may
    // reach PipeWire too).
    bool isPipeWiresOwn() const;
    // Writes the plan's lead-in, then all of source, and waits until it has
    // been heard, as the plan says; every wait is bounded.
    Ending play(Source& source, const PlayPlan& plan, PlayControl& control);
    // Lets what is left in the device be played out, after a sound heard.
    // It blocks as long as the server holds it; whoever waits for the play
    // counts it held past closingTakesAtMost.
    void drain();

private:
    snd_pcm_t* pcm_ = nullptr;
};

// For Sleep (sleep_posix.cpp), since a play follows every wait of the
// player (playsound_posix.cpp): when to wake the device for a play at
// playAt (playAt itself when it will need no waking), and the waking, which
// keeps the device busy with silence until the next play stops it.
Clock::time_point wakeTimeFor(Clock::time_point playAt);
void wakeDevice();

// The system default sound (sound_default_posix.cpp): where the desktop
// sound theme's "bell" may be, in the order to try, and a built-in chime
// for a system without one.
std::vector<std::string> themeBells();
constexpr unsigned chimeRate = 44100;
const std::vector<std::int16_t>& chime();

}  // namespace sound
