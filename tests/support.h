// Helpers for tests that use real folders, real recordings and real
// processes: temporary folders, WAV files, child processes, and the ALSA
// file rig that captures what a process sends to the "default" device.
#pragma once

#include <sndfile.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace support {

// A folder that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes a sine tone as a sound file of the given libsndfile format.
void writeTone(const std::string& path, double frequency, double seconds, int rate = 8000,
               int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, int channels = 1);
// Makes a folder and any missing parents (like mkdir -p).
void makeFolders(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

// A child process with its own working folder and environment; its standard
// output and error go to files.
struct Child {
    pid_t pid = -1;
    std::string outPath;  // standard output, unless it goes to a pipe
    std::string errPath;
    int outPipe = -1;     // the reading end, when standard output is a pipe
};

struct Ending {
    bool finished = false;  // false: still running when the time was up (then killed)
    int exitCode = -1;      // when it exited
    int signal = 0;         // when a signal ended it
    std::string out;
    std::string err;
};

// Starts argv[0] (no shell) in folder with the environment of this process
// changed by env (an empty value removes the variable).
// With outputToPipe, standard output is a pipe (so fully buffered).
Child start(const std::vector<std::string>& argv, const std::string& folder,
            const std::map<std::string, std::string>& env = {}, bool outputToPipe = false);
// Standard output so far: the file's content, or what the pipe has brought
// up to now (kept in received).
std::string outputSoFar(const Child& child, std::string& received);
// Waits up to timeoutMs for the child to end; kills it after that. From a
// pipe, `out` holds what outputSoFar has not already taken.
Ending wait(const Child& child, int timeoutMs);
// Runs to the end (or timeoutMs).
Ending run(const std::vector<std::string>& argv, const std::string& folder,
           const std::map<std::string, std::string>& env = {}, int timeoutMs = 20000);
// Polls until predicate holds or timeoutMs passes; returns whether it held.
template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs);
bool sleepThenCheck(int milliseconds);

// One play captured by the rig: the stream's rate, channels, ALSA sample
// format name, and the raw samples (padded to whole device periods).
struct Capture {
    unsigned rate = 0;
    unsigned channels = 0;
    std::string format;
    std::string samples;
};

// ALSA rig: HOME with an .asoundrc that sends the "default" device to files,
// one per stream, in order, or (deviceless) to a card that does not exist.
class AlsaRig {
public:
    enum Kind { Capturing, NoDevice };
    explicit AlsaRig(Kind kind = Capturing);
    // The environment for a process that is to use the rig: HOME, and no
    // sound theme, so that the default sound is the built-in chime.
    std::map<std::string, std::string> env() const;
    std::vector<Capture> captures() const;
    const std::string& home() const { return dir_.path(); }

private:
    TempDir dir_;
};

// What the real-time rigs share: a sound server of their own with a null
// sink "rig" that is the default sink, like a desktop's, which ALSA's
// "default" device reaches for any process given env(), and a recorder of
// what reaches the sink.
class ServerRig {
public:
    // The recorder asks the server for a low latency, which keeps the sink
    // from mixing ahead; on a desktop nothing does, and a PulseAudio sink
    // then mixes up to two seconds ahead of what is heard.
    enum Latency { Low, Desktop };
    ServerRig(const ServerRig&) = delete;
    ServerRig& operator=(const ServerRig&) = delete;
    bool running() const { return running_; }
    // What reached the sink between the two calls, as 44100 Hz mono 16-bit
    // samples (the sink's monitor is recorded all the time).
    void startRecording();
    std::vector<short> stopRecording();
    // Stops the recorder for good.
    void stopRecorder();
    // The server stopped (SIGSTOP) and let go on (SIGCONT), as a hung one.
    void freezeServer(bool frozen);

protected:
    explicit ServerRig(Latency latency) : latency_(latency) {}
    ~ServerRig() = default;
    // Starts the recorder and waits until it delivers.
    void startRecorder(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env);

    TempDir dir_;
    Latency latency_;
    bool running_ = false;
    Child server_;

private:
    Child recorder_;
    std::size_t recordingFrom_ = 0;
};

// PulseAudio with a null sink.
class PulseRig : public ServerRig {
public:
    explicit PulseRig(Latency latency = Low);
    ~PulseRig();
    std::map<std::string, std::string> env() const;
    // The names of the streams playing into the server now.
    std::vector<std::string> streams() const;
    // The server going away (killed with signal) and coming back.
    void stopServer(int signal);
    void startServer();
};

// PipeWire with WirePlumber and a null sink, unpacked from Debian's packages
// by tests/rigs/pipewire-rig.sh (see unpacked()).
class PipeWireRig : public ServerRig {
public:
    explicit PipeWireRig(Latency latency = Low);
    ~PipeWireRig();
    // Whether the packages have been unpacked where the tests look for them.
    static bool unpacked();
    std::map<std::string, std::string> env() const;
    std::vector<std::string> streams() const;
    void stopServer(int signal);
    void startServer();

private:
    Child session_;
};

// The program's start-up messages as a reader sees them (UTF-8), for the
// interval in seconds, with or without the hint, and the number of lines.
std::string startupText(int seconds, bool hint, int count);
// UTF-8 text as Windows-1251 bytes.
std::string toWindows1251(const std::string& utf8);

// How strongly a tone sounds in the 10 ms of 44100 Hz samples from start
// (Goertzel over a Hann window), relative to a full-scale sine.
double toneLevel(const std::vector<short>& samples, std::size_t start, double frequency);

template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        if (predicate())
            return true;
        sleepThenCheck(20);
    }
    return predicate();
}

}  // namespace support
