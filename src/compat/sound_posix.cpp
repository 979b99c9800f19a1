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

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "compat/quiet_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

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
// The longest single sleep of a play, so that a stalled device is noticed,
// and how long before the expected end of a sound its delay is read again.
constexpr Clock::duration longestPause = std::chrono::seconds(1);
constexpr Clock::duration lastReadingBefore = std::chrono::milliseconds(100);
// A device that could not be opened is tried again this long after at the
// earliest: with no device, a run with no interval waits instead of spinning.
constexpr Clock::duration retryAfter = std::chrono::seconds(1);

// Sound servers suspend an idle sink after a few seconds (PipeWire after 3,
// PulseAudio after 5) and sound cards power down; the start of a sound
// played into a waking device is lost or preceded by a pop. A play that
// follows a pause longer than idleBeforeLeadIn begins with leadInMs of
// silence, which covers the wake-up and goes unnoticed after the pause;
// plays in quick succession start at once.
constexpr Clock::duration idleBeforeLeadIn = std::chrono::seconds(2);
constexpr unsigned leadInMs = 250;
// A stream that follows a pause also stays open this long past the end its
// device's delay foretells: on PipeWire such a stream starts up to a quantum
// later than the delay of its plug-in says, and closing it at the foretold
// end cut up to 18 ms off the sound.
constexpr Clock::duration tailAfterPause = std::chrono::milliseconds(30);

// A moment shared between threads; `never` until it is first set.
class Moment {
public:
    static constexpr Clock::rep never = std::numeric_limits<Clock::rep>::min();
    void set(Clock::time_point at) { ticks_.store(at.time_since_epoch().count()); }
    bool isSet() const { return ticks_.load() != never; }
    Clock::time_point get() const { return Clock::time_point(Clock::duration(ticks_.load())); }

private:
    std::atomic<Clock::rep> ticks_{never};
};

Moment lastPlayEnded;
Moment lastDeviceFailure;

// The silence to play before a sound at the given rate.
std::size_t leadInFrames(unsigned rate)
{
    const bool idle = !lastPlayEnded.isSet() || Clock::now() - lastPlayEnded.get() > idleBeforeLeadIn;
    return idle ? static_cast<std::size_t>(rate) * leadInMs / 1000 : 0;
}

// Tells the sound layer's thread to stop, waking it from its pauses.
struct StopSignal {
    std::mutex lock;
    std::condition_variable changed;
    bool requested = false;

    void request()
    {
        {
            const std::lock_guard<std::mutex> guard(lock);
            requested = true;
        }
        changed.notify_all();
    }
};

bool stopRequested(StopSignal* stop)
{
    if (stop == nullptr)
        return false;
    const std::lock_guard<std::mutex> guard(stop->lock);
    return stop->requested;
}

// Sleeps until the given moment, or until a stop is requested; true when
// stopped.
bool pauseUntil(Clock::time_point until, StopSignal* stop)
{
    if (stop == nullptr) {
        std::this_thread::sleep_until(until);
        return false;
    }
    std::unique_lock<std::mutex> guard(stop->lock);
    return stop->changed.wait_until(guard, until, [stop] { return stop->requested; });
}

Clock::duration framesToTime(std::size_t frames, unsigned rate)
{
    const std::chrono::duration<double> seconds(static_cast<double>(frames) / rate);
    return std::chrono::duration_cast<Clock::duration>(seconds);
}

// A stream of interleaved frames: a decoded file, or samples in memory.
struct Source {
    SNDFILE* file = nullptr;
    int fd = -1;  // the file's descriptor, closed after file
    const std::int16_t* samples = nullptr;  // used when file is null
    std::size_t frameCount = 0;
    std::size_t position = 0;
    snd_pcm_format_t format = SND_PCM_FORMAT_S16;
    unsigned channels = 1;
    unsigned rate = 44100;

    std::size_t frameBytes() const
    {
        return static_cast<std::size_t>(snd_pcm_format_physical_width(format)) / 8 * channels;
    }

    // Reads up to frames frames into buffer; 0 at the end.
    std::size_t read(void* buffer, std::size_t frames)
    {
        if (file == nullptr) {
            const std::size_t n = std::min(frames, frameCount - position);
            std::memcpy(buffer, samples + position * channels, n * channels * sizeof(std::int16_t));
            position += n;
            return n;
        }
        const sf_count_t want = static_cast<sf_count_t>(frames);
        sf_count_t got = 0;
        switch (format) {
        case SND_PCM_FORMAT_S32: got = sf_readf_int(file, static_cast<int*>(buffer), want); break;
        case SND_PCM_FORMAT_FLOAT: got = sf_readf_float(file, static_cast<float*>(buffer), want); break;
        default: got = sf_readf_short(file, static_cast<short*>(buffer), want); break;
        }
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
};

// The sample format that carries the file's samples unchanged: 8-bit and
// companded encodings decode exactly to 16 bits, 24 and 32 bits to 32,
// floating point to float.
snd_pcm_format_t streamFormat(int sndfileFormat)
{
    switch (sndfileFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32: return SND_PCM_FORMAT_S32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE: return SND_PCM_FORMAT_FLOAT;
    default: return SND_PCM_FORMAT_S16;
    }
}

// Opens a file for decoding; wavOnly refuses every container but WAV (a
// recording), otherwise any format libsndfile reads (a theme sound).
bool openFile(const char* name, bool wavOnly, Source& source)
{
    // Only regular files are opened: opening a device may act by itself (a
    // watchdog arms, a tape rewinds), and a FIFO would block. The type is
    // looked at first, and the opened descriptor checked to be the same file.
    struct stat named;
    if (stat(name, &named) != 0 || !S_ISREG(named.st_mode))
        return false;
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat opened;
    SF_INFO sfInfo;
    std::memset(&sfInfo, 0, sizeof sfInfo);
    SNDFILE* file = nullptr;
    // The descriptor stays ours (libsndfile does not close it), so that it is
    // closed exactly once whatever happens.
    if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev
        && opened.st_ino == named.st_ino)
        file = sf_open_fd(fd, SFM_READ, &sfInfo, SF_FALSE);
    if (file == nullptr) {
        close(fd);
        return false;
    }
    const int container = sfInfo.format & SF_FORMAT_TYPEMASK;
    const bool wav = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
    if ((wavOnly && !wav) || sfInfo.channels < 1 || sfInfo.samplerate < 1) {
        sf_close(file);
        close(fd);
        return false;
    }
    source.file = file;
    source.fd = fd;
    source.format = streamFormat(sfInfo.format);
    source.channels = static_cast<unsigned>(sfInfo.channels);
    source.rate = static_cast<unsigned>(sfInfo.samplerate);
    return true;
}

// ALSA reports its errors on standard error; the player prints nothing but
// its messages, and a failed play is told by the result alone.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::atomic<bool> readConfigurationAgain{true};

void noteDeviceFailure()
{
    lastDeviceFailure.set(Clock::now());
    // Where "default" leads is decided when ALSA's configuration is read
    // (the PulseAudio hook looks for a running server): read it anew at the
    // next open, so that a sound server started or restarted since is found.
    // While plays succeed the configuration read once is kept, which spares
    // each play some milliseconds.
    readConfigurationAgain = true;
}

enum class Opened { Ready, NoDevice, Unplayable };

// Opens the "default" device for source, without blocking (a busy device
// fails at once) and kept that way: every wait of a play is its own.
Opened openDevice(const Source& source, snd_pcm_t** device, StopSignal* stop)
{
    static const int quiet = snd_lib_error_set_handler(quietAlsa);
    (void)quiet;
    if (lastDeviceFailure.isSet() && pauseUntil(lastDeviceFailure.get() + retryAfter, stop))
        return Opened::NoDevice;

    const compat::Quiet quietLibraries;
    if (readConfigurationAgain.exchange(false))
        snd_config_update_free_global();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        noteDeviceFailure();
        return Opened::NoDevice;
    }
    if (snd_pcm_set_params(pcm, source.format, SND_PCM_ACCESS_RW_INTERLEAVED, source.channels, source.rate, 1,
                           deviceLatencyUs)
        < 0) {
        snd_pcm_close(pcm);
        return Opened::Unplayable;
    }
    *device = pcm;
    return Opened::Ready;
}

void closeDevice(snd_pcm_t* pcm)
{
    const compat::Quiet quietLibraries;
    snd_pcm_close(pcm);
}

enum class Ending { Heard, Stopped, Lost };

// One sound on its way through an open device: what has been written, and
// when it can at the earliest be heard to its end.
struct Stream {
    snd_pcm_t* pcm;
    unsigned rate;
    StopSignal* stop;
    Clock::time_point started = Clock::now();
    std::size_t written = 0;

    Clock::time_point heardAtTheEarliest() const { return started + framesToTime(written, rate); }
    Clock::time_point giveUpAt() const { return heardAtTheEarliest() + giveUpAfter; }

    // Writes frames, waiting for room in the device's buffer.
    Ending write(const unsigned char* data, std::size_t frames, std::size_t frameBytes)
    {
        bool recovered = false;  // from an error, with nothing written since
        while (frames > 0) {
            if (stopRequested(stop))
                return Ending::Stopped;
            snd_pcm_sframes_t done = snd_pcm_writei(pcm, data, frames);
            if (done == -EAGAIN) {
                // A full buffer: wait for room, a period at most (a stop is
                // looked at every 50 ms), and no later than the give-up time.
                const Clock::time_point now = Clock::now();
                if (now >= giveUpAt())
                    return Ending::Lost;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt() - now).count();
                const int waitMs = static_cast<int>(std::clamp<long long>(left, 1, stop != nullptr ? 50 : 1000));
                const int waited = snd_pcm_wait(pcm, waitMs);
                if (waited >= 0)
                    continue;
                done = waited;
            }
            if (done < 0) {
                // An underrun or a suspend is recovered from; any other
                // error, or one straight after a recovery, means that the
                // device or its server is gone.
                if (recovered || (done != -EPIPE && done != -ESTRPIPE)
                    || snd_pcm_recover(pcm, static_cast<int>(done), 1) < 0)
                    return Ending::Lost;
                recovered = true;
                continue;
            }
            recovered = false;
            data += static_cast<std::size_t>(done) * frameBytes;
            frames -= static_cast<std::size_t>(done);
            written += static_cast<std::size_t>(done);
        }
        return Ending::Heard;
    }

    // Waits until the last frame written has been heard.
    //
    // The device's delay counts what is still ahead of the listener, the
    // sound server's own latency included; it is read a few times and the
    // end expected that long after each reading. A delay of zero while
    // frames wait in the buffer is a sink that has not started yet (one that
    // is waking reads so before it has played anything): those frames are
    // what is ahead then. Once the server has taken every frame, readings go
    // on only to bring the end closer: PipeWire's delay then returns to one
    // quantum on every cycle. PulseAudio, whose sink mixes seconds ahead on
    // a desktop, reports an underrun while the sink still holds the sound;
    // the last reading holds then (closing the stream early would take back
    // what has not been heard).
    Ending waitUntilHeard(snd_pcm_uframes_t bufferFrames, Clock::duration tail)
    {
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm) < 0)
            return Ending::Lost;
        Clock::time_point expected = Clock::now();
        bool allTaken = false;
        for (;;) {
            const Clock::time_point now = Clock::now();
            // A device that is gone says so here (PipeWire's delay goes on
            // reading its last value after its server has died).
            const snd_pcm_sframes_t avail = snd_pcm_avail(pcm);
            if (avail < 0 && avail != -EPIPE)
                return Ending::Lost;
            snd_pcm_sframes_t delay = 0;
            if (avail >= 0 && snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING && snd_pcm_delay(pcm, &delay) == 0) {
                const snd_pcm_uframes_t queued = bufferFrames - std::min<snd_pcm_uframes_t>(avail, bufferFrames);
                const std::size_t ahead = delay > 0 ? static_cast<std::size_t>(delay) : queued;
                const Clock::time_point ends = now + framesToTime(ahead, rate);
                expected = allTaken ? std::min(expected, ends) : ends;
                allTaken = queued == 0;
            }
            if (now >= expected + tail)
                return Ending::Heard;
            if (now >= giveUpAt())
                return Ending::Lost;
            // A reading shortly before the end, while the device still
            // plays, catches a stream that started later than it said.
            const Clock::time_point wake = expected - now > 2 * lastReadingBefore ? expected - lastReadingBefore
                                                                                  : expected + tail;
            if (pauseUntil(std::min({wake, now + longestPause, giveUpAt()}), stop))
                return Ending::Stopped;
        }
    }
};

// Writes leadIn frames of silence and then all of source to pcm, and waits
// until it has been heard.
Ending play(snd_pcm_t* pcm, Source& source, std::size_t leadIn, StopSignal* stop)
{
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    if (snd_pcm_get_params(pcm, &bufferFrames, &periodFrames) < 0)
        return Ending::Lost;
    const std::size_t frameBytes = source.frameBytes();
    const std::size_t blockFrames = std::max<std::size_t>(1, blockBytes / frameBytes);
    std::vector<unsigned char> block(blockFrames * frameBytes);  // silence until read into

    const Clock::duration tail = leadIn > 0 ? tailAfterPause : Clock::duration::zero();
    Stream stream{pcm, source.rate, stop};
    Ending ending = Ending::Heard;
    while (ending == Ending::Heard && leadIn > 0) {
        const std::size_t frames = std::min(leadIn, blockFrames);
        ending = stream.write(block.data(), frames, frameBytes);
        leadIn -= frames;
    }
    while (ending == Ending::Heard) {
        const std::size_t frames = source.read(block.data(), blockFrames);
        if (frames == 0)
            break;
        ending = stream.write(block.data(), frames, frameBytes);
    }
    if (ending == Ending::Heard)
        ending = stream.waitUntilHeard(bufferFrames, tail);
    if (ending == Ending::Lost)
        noteDeviceFailure();
    return ending;
}

// A short two-note chime, for systems without a sound theme. Never
// destroyed: it may still be playing while the process exits.
const std::vector<std::int16_t>& chime()
{
    static const std::vector<std::int16_t>* samples = new std::vector<std::int16_t>([] {
        constexpr unsigned rate = 44100;
        constexpr double pi = 3.14159265358979323846;
        const double notes[] = {1318.51, 1046.50};  // E6, C6
        constexpr std::size_t noteFrames = rate * 3 / 10;
        std::vector<std::int16_t> out;
        out.reserve(noteFrames * 2);
        for (double frequency : notes) {
            for (std::size_t i = 0; i < noteFrames; ++i) {
                const double t = static_cast<double>(i) / rate;
                const double attack = std::min(1.0, t / 0.005);
                const double level = 0.4 * attack * std::exp(-t * 9.0);
                out.push_back(static_cast<std::int16_t>(32767.0 * level * std::sin(2 * pi * frequency * t)));
            }
        }
        return out;
    }());
    return *samples;
}

// The desktop sound theme's "bell", looked up in the XDG data directories.
std::vector<std::string> themeBells()
{
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && *dataHome == '/')
        folders.push_back(dataHome);
    else if (home != nullptr && *home == '/')
        folders.push_back(std::string(home) + "/.local/share");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = (dataDirs != nullptr && *dataDirs != '\0') ? dataDirs : "/usr/local/share:/usr/share";
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start && list[start] == '/')
            folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> bells;
    for (const std::string& folder : folders)
        for (const char* ending : {"oga", "ogg", "wav"})
            bells.push_back(folder + "/sounds/freedesktop/stereo/bell." + ending);
    return bells;
}

// One sound made ready to play: its source and the open device.
struct Playback {
    Source source;
    snd_pcm_t* pcm = nullptr;
    bool substitute = false;  // the default sound, in place of a file

    Playback() = default;
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;
    ~Playback() { clear(); }

    void clear()
    {
        if (pcm != nullptr)
            closeDevice(pcm);
        if (source.file != nullptr)
            sf_close(source.file);
        if (source.fd >= 0)
            close(source.fd);
        pcm = nullptr;
        source = Source();
    }
};

// Makes the system default sound ready: the theme's bell, or the chime.
Opened prepareDefaultSound(Playback& playback, StopSignal* stop)
{
    for (const std::string& bell : themeBells()) {
        if (!openFile(bell.c_str(), false, playback.source))
            continue;
        const Opened opened = openDevice(playback.source, &playback.pcm, stop);
        if (opened != Opened::Unplayable)
            return opened;
        playback.clear();
        break;
    }
    const std::vector<std::int16_t>& samples = chime();
    playback.source.samples = samples.data();
    playback.source.frameCount = samples.size();
    return openDevice(playback.source, &playback.pcm, stop);
}

// What one call plays.
struct Request {
    bool systemDefault = false;
    std::string fileName;
    bool noDefault = false;
};

// Opens what request names, or the default sound in its place.
Opened prepare(const Request& request, Playback& playback, StopSignal* stop)
{
    if (request.systemDefault)
        return prepareDefaultSound(playback, stop);
    if (openFile(request.fileName.c_str(), true, playback.source)) {
        const Opened opened = openDevice(playback.source, &playback.pcm, stop);
        if (opened != Opened::Unplayable)
            return opened;
    }
    if (request.noDefault)
        return Opened::Unplayable;
    playback.clear();
    playback.substitute = true;
    return prepareDefaultSound(playback, stop);
}

// Plays what request names to its end; true when that sound was heard.
bool perform(const Request& request, StopSignal* stop)
{
    Playback playback;
    if (prepare(request, playback, stop) != Opened::Ready)
        return false;
    const Ending ending = play(playback.pcm, playback.source, leadInFrames(playback.source.rate), stop);
    lastPlayEnded.set(Clock::now());
    return ending == Ending::Heard && !playback.substitute;
}

// The one sound playing on the sound layer's thread (SND_ASYNC). Never
// destroyed: the process may end while it plays.
struct AsyncPlay {
    std::mutex lock;
    std::thread* thread = nullptr;
    StopSignal* stop = nullptr;
};
AsyncPlay& asyncPlay()
{
    static AsyncPlay* play = new AsyncPlay;
    return *play;
}

// Ends the sound playing on the sound layer's thread: stops it, or (at the
// end of the process) lets it finish.
void endAsync(bool stop)
{
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    if (async.thread == nullptr)
        return;
    if (stop)
        async.stop->request();
    async.thread->join();
    delete async.thread;
    delete async.stop;
    async.thread = nullptr;
    async.stop = nullptr;
}

void stopAsync()
{
    endAsync(true);
}

// A process that ends by itself lets the sound it started be heard to its
// end (its waits are bounded); Ctrl+C ends it at once.
void finishAsync()
{
    endAsync(false);
}

// Starts request on the sound layer's thread, which opens the device as
// well: the caller goes on at once whatever the sound server does.
BOOL startAsync(const Request& request)
{
    static const bool finishesAtExit = std::atexit(finishAsync) == 0;
    (void)finishesAtExit;
    AsyncPlay& async = asyncPlay();
    const std::lock_guard<std::mutex> guard(async.lock);
    StopSignal* stop = new (std::nothrow) StopSignal;
    if (stop == nullptr)
        return FALSE;
    try {
        async.thread = new std::thread([request, stop] { perform(request, stop); });
    } catch (...) {
        delete stop;
        return FALSE;
    }
    async.stop = stop;
    return TRUE;
}

}  // namespace

BOOL PlaySoundA(LPCSTR pszSound, HMODULE, DWORD fdwSound)
{
    // A new play, or none, ends the sound still playing, as on Windows.
    stopAsync();
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
        return startAsync(request);
    return perform(request, nullptr) ? TRUE : FALSE;
}
