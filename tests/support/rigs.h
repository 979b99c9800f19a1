// Sound rigs: ALSA into files, and real-time sound servers of the tests'
// own (PulseAudio, PipeWire) with a recorder of what reaches their sink.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/processes.h"

namespace support {

// One play captured by the rig: the stream's rate, channels, ALSA sample
// format name, and the raw samples (padded to whole device periods).
struct Capture {
    unsigned rate = 0;
    unsigned channels = 0;
    std::string format;
    std::string samples;
};

// ALSA rig: HOME with an .asoundrc that sends the "default" device to files,
// one per stream, in order; or (ReaderGone) to commands that note the stream
// (an empty capture) and exit without reading it; or (NoDevice) to a card
// that does not exist; or (Refusing) to a device that opens but refuses
// every stream's format.
class AlsaRig {
public:
    enum Kind { Capturing, ReaderGone, NoDevice, Refusing };
    explicit AlsaRig(Kind kind = Capturing);
    // The environment for a process that is to use the rig: HOME, and no
    // sound theme, so that the default sound is the built-in chime.
    std::map<std::string, std::string> env() const;
    std::vector<Capture> captures() const;
    const std::string& home() const { return dir_.path(); }
    // Lets a process of another user (StartOptions::unprivileged) play into
    // the rig.
    void openToOthers();

private:
    TempDir dir_;
};

// The format a sink runs at: PulseAudio's default is 44.1 kHz stereo,
// PipeWire's 48 kHz stereo.
struct SinkFormat {
    unsigned rate = 44100;
    unsigned channels = 2;
};
// For GoogleTest's messages: "44100 Hz, 2 channels".
void PrintTo(const SinkFormat& format, std::ostream* out);

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
    // What a listener heard between the two calls, as 44100 Hz mono 16-bit
    // samples (the sink's first channel): what the sink finally played
    // (PulseAudio), or what its monitor recorded (PipeWire, whose sink does
    // not mix ahead). stopRecording waits until no later change of the
    // sink's can alter it.
    void startRecording();
    std::vector<short> stopRecording();
    // What has been heard since startRecording, without waiting for the rest
    // of what the sink has played; a sink that mixes ahead may still take
    // back the last of it.
    std::vector<short> heardSoFar() const;
    // The same without what the sink may still take back.
    std::vector<short> settledSoFar() const;
    // Stops the recorder for good.
    void stopRecorder();
    // The server stopped (SIGSTOP) and let go on (SIGCONT), as a hung one.
    void freezeServer(bool frozen);
    pid_t serverPid() const { return server_.pid; }

protected:
    ServerRig(Latency latency, SinkFormat sink) : latency_(latency), sink_(sink) {}
    ~ServerRig() = default;
    // Starts the recorder and waits until it delivers.
    void startRecorder(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env);
    // What a listener hears is read from path (the recorder's output unless
    // this says otherwise): raw 16-bit samples at the given rate and channel
    // count, of which the last unsettledSeconds may still change.
    void listenTo(const std::string& path, unsigned rate, unsigned channels, double unsettledSeconds);

    TempDir dir_;
    Latency latency_;
    SinkFormat sink_;
    bool running_ = false;
    Child server_;

private:
    std::size_t framesHeard() const;

    Child recorder_;
    struct {
        std::string path;  // empty: the recorder's output
        unsigned rate = 44100;
        unsigned channels = 1;
        double unsettledSeconds = 0;
    } heard_;
    std::size_t recordingFrom_ = 0;  // in frames of what is heard
    std::size_t settled_ = 0;        // frames that no longer change
    std::chrono::steady_clock::time_point recordingSince_ = std::chrono::steady_clock::now();
};

// PulseAudio with a null sink, or (NoSink) with none at all. What its sink
// plays is tapped inside the server (tests/rigs/pulse_tap.cpp).
class PulseRig : public ServerRig {
public:
    enum Sink { NullSink, NoSink };
    explicit PulseRig(Latency latency = Low, SinkFormat format = {}, Sink sink = NullSink);
    ~PulseRig();
    // Whether the server, its tools and ALSA's plug-in that reaches it are
    // installed; without them the rig does not run, and says so at once.
    static bool installed();
    std::map<std::string, std::string> env() const;
    // The names of the streams playing into the server now.
    std::vector<std::string> streams() const;
    // The server going away (killed with signal) and coming back.
    void stopServer(int signal);
    void startServer();

private:
    Sink kind_;
};

// PipeWire with WirePlumber and a null sink, unpacked from Debian's packages
// by tests/rigs/pipewire-rig.sh (see unpacked()). With PulseServer, it serves
// PulseAudio's protocol too (pipewire-pulse), and ALSA's "default" reaches it
// through ALSA's pulse plug-in (libasound2-plugins): the route of a desktop
// without pipewire-alsa.
class PipeWireRig : public ServerRig {
public:
    enum Route { AlsaPlugin, PulseServer };
    explicit PipeWireRig(Latency latency = Low, SinkFormat format = {48000, 2}, Route route = AlsaPlugin);
    ~PipeWireRig();
    // Whether the packages have been unpacked where the tests look for them.
    static bool unpacked();
    std::map<std::string, std::string> env() const;
    std::vector<std::string> streams() const;
    void stopServer(int signal);
    void startServer();

private:
    Route route_;
    std::map<std::string, std::string> serverEnv_;  // tests/rigs/pipewire-rig.sh env
    Child session_;
    Child pulseServer_;
};

// What aplay heard of a recording played in the same rig (env: the rig's),
// the stretches of the given tones: the peer a test that saw a line broken
// or cut compares the player with, to tell the player's fault from the rig's.
std::string howAplayHeard(ServerRig& rig, const std::map<std::string, std::string>& env, const std::string& wav,
                          const std::vector<double>& tones);

}  // namespace support
