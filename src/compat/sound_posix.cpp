// The Win32 PlaySoundA on POSIX systems, over libsndfile and ALSA.
//
// Supported: a WAV file by name (SND_FILENAME) and the system default sound
// (SND_ALIAS_ID with SND_ALIAS_SYSTEMDEFAULT), each synchronously or with
// SND_ASYNC. Every play opens ALSA's "default" device and closes it when done,
// so nothing is held between plays and a restarted sound server is found
// again. A file that cannot be played is replaced by the system default
// sound, unless SND_NODEFAULT says otherwise, and the call yields FALSE.

#include "compat/win32.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Frames go to the device in blocks of at most this many bytes, so memory
// does not grow with the file.
constexpr std::size_t blockBytes = 16 * 1024;
// Device buffer: two seconds, so that a play wakes the process a few times a
// second only; a stop still takes effect at once (the buffer is dropped).
constexpr unsigned deviceLatencyUs = 2000000;

// Sound servers suspend an idle sink after a few seconds (PipeWire after 3,
// PulseAudio after 5) and sound cards power down; the start of a sound
// played into a waking device is lost or preceded by a pop. A play that
// follows a pause longer than idleBeforeLeadIn begins with leadInMs of
// silence, which covers the wake-up and goes unnoticed after the pause;
// plays in quick succession start at once.
constexpr std::chrono::milliseconds idleBeforeLeadIn{2000};
constexpr unsigned leadInMs = 250;

// When the last play ended (steady clock); none yet at start-up.
std::atomic<std::chrono::steady_clock::rep> lastPlayEnded{std::numeric_limits<std::chrono::steady_clock::rep>::min()};

void notePlayEnded()
{
    lastPlayEnded.store(std::chrono::steady_clock::now().time_since_epoch().count());
}

// The silence to play before a sound at the given rate.
std::size_t leadInFrames(unsigned rate)
{
    const auto last = lastPlayEnded.load();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const bool idle = last == std::numeric_limits<std::chrono::steady_clock::rep>::min()
                      || now - std::chrono::steady_clock::duration(last) > idleBeforeLeadIn;
    return idle ? static_cast<std::size_t>(rate) * leadInMs / 1000 : 0;
}

enum class Outcome { Played, Stopped, NoDevice, Unplayable };

// libpulse draws from rand() when a connection makes its runtime folder, and
// ALSA connects while it reads its configuration (the PulseAudio hook) and
// when it opens the device. The
// player's sequence from srand(42) must stay its own, so the C library's
// generator is switched to a scratch state around those calls.
class GeneratorGuard {
public:
    GeneratorGuard() : previous_(initstate(1, scratch_, sizeof scratch_)) {}
    ~GeneratorGuard() { setstate(previous_); }
    GeneratorGuard(const GeneratorGuard&) = delete;
    GeneratorGuard& operator=(const GeneratorGuard&) = delete;

private:
    char scratch_[128];
    char* previous_;
};

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

    std::size_t sampleBytes() const { return static_cast<std::size_t>(snd_pcm_format_physical_width(format)) / 8; }

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

// ALSA reports its errors on standard error; the player prints nothing but
// its messages, and a failed play is told by the result alone.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

bool stopRequested(const std::atomic<bool>* stop)
{
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// Opens a file for decoding; wavOnly refuses every container but WAV (a
// recording), otherwise any format libsndfile reads (a theme sound).
bool openFile(const char* name, bool wavOnly, Source& source)
{
    // Without blocking, so that a FIFO or a device does not hang the open;
    // only regular files are read.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info;
    SF_INFO sfInfo;
    std::memset(&sfInfo, 0, sizeof sfInfo);
    SNDFILE* file = nullptr;
    // The descriptor stays ours (libsndfile does not close it), so that it is
    // closed exactly once whatever happens.
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
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

std::atomic<bool> readConfigurationAgain{true};

// Opens the "default" device for source. Called on the thread that called
// PlaySoundA, under a GeneratorGuard.
Outcome openDevice(const Source& source, snd_pcm_t** device)
{
    static const int quiet = snd_lib_error_set_handler(quietAlsa);
    (void)quiet;
    // After a failure, read the configuration anew: where "default" leads
    // is decided when it is read (the PulseAudio hook looks for a running
    // server), so a sound server started or restarted since is found. While
    // plays succeed the configuration read once is kept, which spares each
    // play some milliseconds.
    if (readConfigurationAgain.exchange(false))
        snd_config_update_free_global();

    snd_pcm_t* pcm = nullptr;
    // Opened without blocking, so that a busy device fails at once; written
    // to with blocking calls.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        readConfigurationAgain = true;
        return Outcome::NoDevice;
    }
    snd_pcm_nonblock(pcm, 0);
    if (snd_pcm_set_params(pcm, source.format, SND_PCM_ACCESS_RW_INTERLEAVED, source.channels, source.rate, 1,
                           deviceLatencyUs)
        < 0) {
        snd_pcm_close(pcm);
        return Outcome::Unplayable;
    }
    *device = pcm;
    return Outcome::Played;
}

// Writes frames to pcm, recovering from underruns; false when the device is
// gone.
bool writeFrames(snd_pcm_t* pcm, const unsigned char* data, std::size_t frames, std::size_t frameBytes)
{
    while (frames > 0) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, data, frames);
        if (written == -EAGAIN)
            continue;
        if (written < 0) {
            // Underrun or suspend: recover and write the rest again.
            if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0)
                return false;
            continue;
        }
        data += static_cast<std::size_t>(written) * frameBytes;
        frames -= static_cast<std::size_t>(written);
    }
    return true;
}

// Writes leadInFrames of silence and then all of source to pcm, and waits
// until it has been heard; with a stop flag, checks it between blocks and
// while the tail plays.
Outcome writeAll(snd_pcm_t* pcm, Source& source, std::size_t leadInFrames, const std::atomic<bool>* stop)
{
    const std::size_t frameBytes = source.sampleBytes() * source.channels;
    const std::size_t blockFrames = std::max<std::size_t>(1, blockBytes / frameBytes);
    std::vector<unsigned char> block(blockFrames * frameBytes);  // silence until read into

    while (leadInFrames > 0) {
        const std::size_t frames = std::min(leadInFrames, blockFrames);
        if (!writeFrames(pcm, block.data(), frames, frameBytes)) {
            snd_pcm_drop(pcm);
            readConfigurationAgain = true;
            return Outcome::NoDevice;
        }
        leadInFrames -= frames;
    }
    for (;;) {
        if (stopRequested(stop)) {
            snd_pcm_drop(pcm);
            return Outcome::Stopped;
        }
        const std::size_t frames = source.read(block.data(), blockFrames);
        if (frames == 0)
            break;
        if (!writeFrames(pcm, block.data(), frames, frameBytes)) {
            snd_pcm_drop(pcm);
            readConfigurationAgain = true;
            return Outcome::NoDevice;
        }
    }

    // A sound shorter than the device buffer has not started by itself yet;
    // start it, so that the wait below (not a drain) covers its playing.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(pcm);

    // Wait until the device says the last frame has been heard (its delay
    // counts what the sound server still holds, its own latency included),
    // sleeping for that delay, so that a play wakes the process a few times
    // only; with a stop flag, the flag is looked at every stopPollUs. Then
    // drain, which confirms that the server has taken everything. A drain
    // alone is not enough: PulseAudio confirms it once the sound is mixed
    // into the sink's buffer, which may be a second or more ahead of what is
    // heard, and closing the stream then takes back the part not yet heard.
    constexpr long stopPollUs = 10000;
    snd_pcm_sframes_t delay = 0;
    while (!stopRequested(stop) && snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING && snd_pcm_delay(pcm, &delay) == 0
           && delay > 0) {
        long us = static_cast<long>(static_cast<long long>(delay) * 1000000 / source.rate);
        us = std::clamp(us, 1000L, stop != nullptr ? stopPollUs : 1000000L);
        usleep(static_cast<useconds_t>(us));
    }
    if (stopRequested(stop)) {
        snd_pcm_drop(pcm);
        return Outcome::Stopped;
    }
    snd_pcm_drain(pcm);
    return Outcome::Played;
}

// A short two-note chime, for systems without a sound theme.
const std::vector<std::int16_t>& chime()
{
    static const std::vector<std::int16_t> samples = [] {
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
    }();
    return samples;
}

// The desktop sound theme's "bell", looked up in the XDG data directories.
std::string themeBell()
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
    for (const std::string& folder : folders) {
        for (const char* ending : {"oga", "ogg", "wav"}) {
            const std::string path = folder + "/sounds/freedesktop/stereo/bell." + ending;
            if (access(path.c_str(), R_OK) == 0)
                return path;
        }
    }
    return std::string();
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
            snd_pcm_close(pcm);
        if (source.file != nullptr)
            sf_close(source.file);
        if (source.fd >= 0)
            close(source.fd);
        pcm = nullptr;
        source = Source();
    }
};

// Makes the system default sound ready: the theme's bell, or the chime.
Outcome prepareDefaultSound(Playback& playback)
{
    const std::string bell = themeBell();
    if (!bell.empty() && openFile(bell.c_str(), false, playback.source)) {
        const Outcome outcome = openDevice(playback.source, &playback.pcm);
        if (outcome != Outcome::Unplayable)
            return outcome;
        playback.clear();
    }
    const std::vector<std::int16_t>& samples = chime();
    playback.source.samples = samples.data();
    playback.source.frameCount = samples.size();
    return openDevice(playback.source, &playback.pcm);
}

// What one call plays.
struct Request {
    bool systemDefault = false;
    std::string fileName;
    bool noDefault = false;
};

// Opens what request names, or the default sound in its place; Played when
// something is ready to play.
Outcome prepare(const Request& request, Playback& playback)
{
    if (request.systemDefault)
        return prepareDefaultSound(playback);
    if (openFile(request.fileName.c_str(), true, playback.source)) {
        const Outcome outcome = openDevice(playback.source, &playback.pcm);
        if (outcome != Outcome::Unplayable)
            return outcome;
    }
    if (request.noDefault)
        return Outcome::Unplayable;
    playback.clear();
    playback.substitute = true;
    return prepareDefaultSound(playback);
}

// The one sound playing on the sound layer's thread (SND_ASYNC).
std::mutex asyncLock;
std::thread* asyncPlay = nullptr;
std::atomic<bool> asyncStop{false};

void stopAsync()
{
    std::lock_guard<std::mutex> guard(asyncLock);
    if (asyncPlay == nullptr)
        return;
    asyncStop.store(true);
    asyncPlay->join();
    delete asyncPlay;
    asyncPlay = nullptr;
}

BOOL startAsync(std::unique_ptr<Playback> playback)
{
    static const bool stopsAtExit = std::atexit(stopAsync) == 0;
    (void)stopsAtExit;
    std::lock_guard<std::mutex> guard(asyncLock);
    asyncStop.store(false);
    try {
        Playback* ready = playback.get();
        const std::size_t leadIn = leadInFrames(ready->source.rate);
        asyncPlay = new std::thread([ready, leadIn] {
            const std::unique_ptr<Playback> owned(ready);
            writeAll(owned->pcm, owned->source, leadIn, &asyncStop);
            notePlayEnded();
        });
        playback.release();
    } catch (...) {
        asyncPlay = nullptr;
        return FALSE;
    }
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

    std::unique_ptr<Playback> playback(new (std::nothrow) Playback);
    if (playback == nullptr)
        return FALSE;
    {
        const GeneratorGuard guard;
        if (prepare(request, *playback) != Outcome::Played)
            return FALSE;
    }
    const bool substitute = playback->substitute;
    if ((fdwSound & SND_ASYNC) != 0)
        return startAsync(std::move(playback)) && !substitute ? TRUE : FALSE;
    const Outcome outcome = writeAll(playback->pcm, playback->source, leadInFrames(playback->source.rate), nullptr);
    notePlayEnded();
    {
        const GeneratorGuard guard;
        playback.reset();
    }
    return outcome == Outcome::Played && !substitute ? TRUE : FALSE;
}
