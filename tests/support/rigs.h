// Sound rigs: ALSA into files, and real-time sound servers of the tests'
// own (PulseAudio, PipeWire) with a recorder of what reaches their sink.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
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
// one per stream, in order; or (NoDevice) to a card that does not exist; or
// (Refusing) to a device that opens but refuses every stream's format.
class AlsaRig {
public:
    enum Kind { Capturing, NoDevice, Refusing };
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
    // What has reached the recorder since startRecording, without waiting
    // for the rest of what the sink has played.
    std::vector<short> heardSoFar() const;
    // Stops the recorder for good.
    void stopRecorder();
    // The server stopped (SIGSTOP) and let go on (SIGCONT), as a hung one.
    void freezeServer(bool frozen);
    pid_t serverPid() const { return server_.pid; }

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
    std::chrono::steady_clock::time_point recordingSince_ = std::chrono::steady_clock::now();
};

// PulseAudio with a null sink, or (NoSink) with none at all.
class PulseRig : public ServerRig {
public:
    enum Sink { NullSink, NoSink };
    explicit PulseRig(Latency latency = Low, Sink sink = NullSink);
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
    Sink sink_;
};

// PipeWire with WirePlumber and a null sink, unpacked from Debian's packages
// by tests/rigs/pipewire-rig.sh (see unpacked()). With PulseServer, it serves
// PulseAudio's protocol too (pipewire-pulse), and ALSA's "default" reaches it
// through ALSA's pulse plug-in (libasound2-plugins): the route of a desktop
// without pipewire-alsa.
class PipeWireRig : public ServerRig {
public:
    enum Route { AlsaPlugin, PulseServer };
    explicit PipeWireRig(Latency latency = Low, Route route = AlsaPlugin);
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

}  // namespace support
