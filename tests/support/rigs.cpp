#include "support/rigs.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "support/files.h"
#include "support/processes.h"
#include "support/recordings.h"

namespace support {

AlsaRig::AlsaRig(Kind kind)
{
    std::string config;
    if (kind == NoDevice) {
        config = "pcm.!default { type hw card 31 }\nctl.!default { type hw card 31 }\n";
    } else if (kind == Refusing) {
        // A route to no channels at all: it opens, and no format fits.
        config = "pcm.!default { type route slave { pcm \"null\" channels 0 } ttable.0.0 1 }\n";
    } else {
        mkdir((dir_ / "caps").c_str(), 0700);
        // Each stream is piped to its own file, named with the stream's rate,
        // channels and format (the plug-in fills in %r %c %f) after the time
        // the plug-in started the shell for it, which orders them (process
        // ids would not: they wrap).
        const std::string capture = "\"" + (dir_ / "caps") + "/$(date +%s%N)_$1_$2_$3.raw\"";
        writeBytes(dir_ / "save.sh",
                   "#!/bin/sh\n" + (kind == ReaderGone ? ": > " + capture : "exec cat > " + capture) + "\n");
        chmod((dir_ / "save.sh").c_str(), 0700);
        config = "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"|" + (dir_ / "save.sh")
                 + " %r %c %f\"\n  format \"raw\"\n}\n";
    }
    writeBytes(dir_ / ".asoundrc", config);
}

void AlsaRig::openToOthers()
{
    chmod(dir_.path().c_str(), 0755);
    chmod((dir_ / "save.sh").c_str(), 0755);
    chmod((dir_ / "caps").c_str(), 01777);
}

std::map<std::string, std::string> AlsaRig::env() const
{
    return {{"HOME", dir_.path()}, {"XDG_DATA_HOME", dir_ / "share"}, {"XDG_DATA_DIRS", dir_ / "none"}};
}

std::vector<Capture> AlsaRig::captures() const
{
    std::vector<std::string> names;
    if (DIR* folder = opendir((dir_ / "caps").c_str())) {
        while (const dirent* entry = readdir(folder))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(folder);
    }
    std::sort(names.begin(), names.end());
    std::vector<Capture> captures;
    for (const std::string& name : names) {
        // <nanoseconds>_<rate>_<channels>_<format>.raw
        Capture capture;
        std::istringstream fields(name);
        std::string stamp, rate, channels;
        std::getline(fields, stamp, '_');
        std::getline(fields, rate, '_');
        std::getline(fields, channels, '_');
        std::getline(fields, capture.format);
        capture.format = capture.format.substr(0, capture.format.size() - 4);
        capture.rate = static_cast<unsigned>(std::stoul(rate));
        capture.channels = static_cast<unsigned>(std::stoul(channels));
        capture.samples = readBytes(dir_ / "caps/" + name);
        captures.push_back(capture);
    }
    return captures;
}

namespace {

// A rig's servers and recorders run with a real-time priority where they
// may, as a desktop's do.
StartOptions realTime()
{
    StartOptions options;
    options.realTime = true;
    return options;
}

// Sends signal to pid and to its children (dbus-run-session's, say).
void signalTree(pid_t pid, int signal)
{
    if (DIR* processes = opendir("/proc")) {
        while (const dirent* entry = readdir(processes)) {
            const std::string stat = readBytes(std::string("/proc/") + entry->d_name + "/stat");
            const std::size_t paren = stat.rfind(')');
            if (paren == std::string::npos)
                continue;
            std::istringstream fields(stat.substr(paren + 1));
            std::string state;
            pid_t parent = 0;
            fields >> state >> parent;
            if (parent == pid)
                signalTree(static_cast<pid_t>(std::atoi(entry->d_name)), signal);
        }
        closedir(processes);
    }
    kill(pid, signal);
}

void end(Child& child, int signal)
{
    if (child.pid <= 0)
        return;
    signalTree(child.pid, signal);
    waitForExit(child, 5000);
    child = Child();
}

// The application names of the streams playing into a PulseAudio server now.
std::vector<std::string> pulseStreams(const std::string& folder, const std::map<std::string, std::string>& env)
{
    const Ending listing = run({"/usr/bin/pactl", "list", "sink-inputs"}, folder, env, 5000);
    std::vector<std::string> names;
    std::istringstream lines(listing.out);
    const std::string key = "application.name = \"";
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(key);
        if (at != std::string::npos)
            names.push_back(line.substr(at + key.size(), line.rfind('"') - at - key.size()));
    }
    return names;
}

}  // namespace

void PrintTo(const SinkFormat& format, std::ostream* out)
{
    *out << format.rate << " Hz, " << format.channels << (format.channels == 1 ? " channel" : " channels");
}

void ServerRig::startRecorder(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env)
{
    // The recorder runs for the server's whole life: a null sink with nothing
    // to play hands its monitor's first samples over only after a while.
    recorder_ = start(argv, dir_.path(), env, realTime());
    running_ = eventually([&] { return fileSize(recorder_.outPath) > 44100; }, 15000);
}

void ServerRig::listenTo(const std::string& path, unsigned rate, unsigned channels, double unsettledSeconds)
{
    heard_.path = path;
    heard_.rate = rate;
    heard_.channels = channels;
    heard_.unsettledSeconds = unsettledSeconds;
}

std::size_t ServerRig::framesHeard() const
{
    return fileSize(heard_.path.empty() ? recorder_.outPath : heard_.path) / (heard_.channels * sizeof(short));
}

void ServerRig::stopRecorder()
{
    if (recorder_.pid > 0) {
        kill(recorder_.pid, SIGINT);
        waitForExit(recorder_, 5000);
        recorder_ = Child();
    }
}

void ServerRig::freezeServer(bool frozen)
{
    kill(server_.pid, frozen ? SIGSTOP : SIGCONT);
}

void ServerRig::startRecording()
{
    // What a sink that mixes ahead has written lately may still be taken
    // back, and the next sound written in its place.
    const auto unsettled = static_cast<std::size_t>(heard_.unsettledSeconds * heard_.rate);
    const std::size_t total = framesHeard();
    recordingFrom_ = std::max(settled_, total > unsettled ? total - unsettled : 0);
    recordingSince_ = std::chrono::steady_clock::now();
}

std::vector<short> ServerRig::stopRecording()
{
    // What the sink has played reaches the recorder within its latency: the
    // recording is complete once it runs a quarter second past the moment it
    // was stopped (what the server still had on its way, and what a stream
    // ended meanwhile left in it, are in then). What a sink writes itself
    // is complete once it has gone on past that moment for as long as it
    // may take back.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - recordingSince_).count();
    const auto until = std::max(recordingFrom_ + static_cast<std::size_t>((seconds + 0.25) * heard_.rate),
                                framesHeard() + static_cast<std::size_t>(heard_.unsettledSeconds * heard_.rate));
    eventually([&] { return framesHeard() >= until; },
               static_cast<int>(1000 * heard_.unsettledSeconds) + (latency_ == Low ? 1000 : 3000));
    settled_ = until - static_cast<std::size_t>(heard_.unsettledSeconds * heard_.rate);
    return heardSoFar();
}

std::vector<short> ServerRig::settledSoFar() const
{
    std::vector<short> samples = heardSoFar();
    samples.resize(samples.size()
                   - std::min(samples.size(), static_cast<std::size_t>(heard_.unsettledSeconds * 44100)));
    return samples;
}

std::vector<short> ServerRig::heardSoFar() const
{
    const std::size_t channels = heard_.channels;
    const std::string bytes =
        readBytesFrom(heard_.path.empty() ? recorder_.outPath : heard_.path, recordingFrom_ * channels * sizeof(short));
    const std::size_t frames = bytes.size() / (channels * sizeof(short));
    std::vector<short> first(frames);  // the first channel
    for (std::size_t i = 0; i < frames; ++i)
        std::memcpy(&first[i], bytes.data() + i * channels * sizeof(short), sizeof(short));
    if (heard_.rate == 44100)
        return first;
    // At 44100 Hz, interpolated: the tests' tones are far below either rate.
    std::vector<short> samples;
    const double step = static_cast<double>(heard_.rate) / 44100;
    for (double at = 0; at + 1 < static_cast<double>(frames); at += step) {
        const auto before = static_cast<std::size_t>(at);
        const double part = at - static_cast<double>(before);
        samples.push_back(static_cast<short>((1 - part) * first[before] + part * first[before + 1]));
    }
    return samples;
}

PulseRig::PulseRig(Latency latency, SinkFormat format, Sink sink) : ServerRig(latency, format), kind_(sink)
{
    mkdir((dir_ / "runtime").c_str(), 0700);
    mkdir((dir_ / "home").c_str(), 0700);
    startServer();
}

PulseRig::~PulseRig()
{
    stopServer(SIGTERM);
}

bool PulseRig::installed()
{
    for (const char* file : {"/usr/bin/pulseaudio", "/usr/bin/pactl", "/usr/bin/parec",
                             "/usr/lib/" MULTIARCH "/alsa-lib/libasound_module_pcm_pulse.so"})
        if (access(file, R_OK) != 0)
            return false;
    return true;
}

void PulseRig::startServer()
{
    running_ = false;
    if (!installed())
        return;
    std::vector<std::string> argv = {PULSE_RIG_SCRIPT};
    argv.push_back(kind_ == NoSink
                       ? "none"
                       : "rate=" + std::to_string(sink_.rate) + " channels=" + std::to_string(sink_.channels));
    // What the sink plays is tapped: a sink that mixes ahead takes back what
    // a stream closed early had not yet had heard, which its monitor keeps.
    std::map<std::string, std::string> serverEnv = env();
    serverEnv["LD_PRELOAD"] = PULSE_TAP;
    serverEnv["TAP_FILE"] = dir_ / "tap.raw";
    listenTo(dir_ / "tap.raw", sink_.rate, sink_.channels, latency_ == Low ? 0.25 : 2.1);
    server_ = start(argv, dir_.path(), serverEnv, realTime());
    running_ = eventually(
        [&] {
            return run({"/usr/bin/pactl", "info"}, dir_.path(), env(), 5000).exitCode == 0;
        },
        15000);
    if (!running_ || kind_ == NoSink)
        return;
    std::vector<std::string> recorder = {"/usr/bin/parec", "-d",           "rig.monitor", "--raw",
                                         "--format=s16le", "--rate=44100", "--channels=1"};
    if (latency_ == Low)
        recorder.push_back("--latency-msec=20");
    startRecorder(recorder, env());
    if (latency_ == Desktop && running_) {
        // The first recording at the default latency starts late: wait
        // until a first sound has been recorded.
        writeTone(dir_ / "warm-up.wav", 440, 0.1, 44100);
        run({"/usr/bin/paplay", dir_ / "warm-up.wav"}, dir_.path(), env(), 10000);
        eventually([&] { return !segments(heardSoFar(), {440}).empty(); }, 5000);
    }
}

void PulseRig::stopServer(int signal)
{
    stopRecorder();
    end(server_, signal);
    running_ = false;
}

std::map<std::string, std::string> PulseRig::env() const
{
    return {{"XDG_RUNTIME_DIR", dir_ / "runtime"},
            {"HOME", dir_ / "home"},
            {"PULSE_SERVER", ""},
            {"XDG_DATA_HOME", dir_ / "home"},
            {"XDG_DATA_DIRS", dir_ / "none"}};
}

std::vector<std::string> PulseRig::streams() const
{
    return pulseStreams(dir_.path(), env());
}

PipeWireRig::PipeWireRig(Latency latency, SinkFormat format, Route route) : ServerRig(latency, format), route_(route)
{
    // Through the pulse plug-in, checked with pactl.
    const bool pulseClients = access("/usr/bin/pactl", X_OK) == 0
                              && access("/usr/lib/" MULTIARCH "/alsa-lib/libasound_module_pcm_pulse.so", R_OK) == 0;
    if (!unpacked() || (route == PulseServer && !pulseClients))
        return;
    const Ending configured = run({PIPEWIRE_RIG_SCRIPT, "configure", PIPEWIRE_ROOT, dir_.path(),
                                   std::to_string(format.rate), std::to_string(format.channels)},
                                  "/", {}, 30000);
    const Ending environment = run({PIPEWIRE_RIG_SCRIPT, "env", PIPEWIRE_ROOT, dir_.path()}, "/", {}, 30000);
    std::istringstream lines(environment.out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            serverEnv_[line.substr(0, equals)] = line.substr(equals + 1);
    }
    if (configured.exitCode == 0 && environment.exitCode == 0)
        startServer();
}

PipeWireRig::~PipeWireRig()
{
    stopServer(SIGTERM);
}

bool PipeWireRig::unpacked()
{
    return access(PIPEWIRE_ROOT "/usr/share/pipewire/pipewire-pulse.conf", R_OK) == 0;
}

std::map<std::string, std::string> PipeWireRig::env() const
{
    std::map<std::string, std::string> env = serverEnv_;
    env["PULSE_SERVER"] = "";
    if (route_ == PulseServer) {
        // A client of the pulse plug-in: the system's libraries, the rig's
        // PulseAudio socket.
        env["LD_LIBRARY_PATH"] = "";
        env["HOME"] = dir_ / "pulse-client";
        env["XDG_RUNTIME_DIR"] = dir_ / "pulse-client";
        env["PULSE_SERVER"] = "unix:" + (dir_ / "runtime/pulse/native");
    }
    return env;
}

void PipeWireRig::startServer()
{
    const std::string bin = PIPEWIRE_ROOT "/usr/bin/";
    server_ = start({bin + "pipewire"}, dir_.path(), serverEnv_, realTime());
    running_ = eventually(
        [&] {
            return run({bin + "pw-cli", "info", "0"}, dir_.path(), serverEnv_, 5000).exitCode == 0;
        },
        15000);
    if (!running_)
        return;
    session_ = start({"/usr/bin/dbus-run-session", "--", bin + "wireplumber"}, dir_.path(), serverEnv_);
    // Ready once the session manager has made the rig the default sink.
    running_ = eventually(
        [&] {
            const Ending status = run({bin + "wpctl", "status"}, dir_.path(), serverEnv_, 5000);
            return status.out.find("*   ") != std::string::npos
                   && status.out.find("Rig null sink") != std::string::npos;
        },
        15000);
    if (running_ && route_ == PulseServer) {
        pulseServer_ = start({bin + "pipewire", "-c", "pipewire-pulse.conf"}, dir_.path(), serverEnv_, realTime());
        running_ = eventually(
            [&] {
                return run({"/usr/bin/pactl", "info"}, dir_.path(), env(), 5000).exitCode == 0;
            },
            15000);
    }
    if (!running_)
        return;
    std::vector<std::string> recorder = {
        bin + "pw-record", "--target", "rig",      "-P", "{ stream.capture.sink = true }", "--rate", "44100",
        "--channels",      "1",        "--format", "s16"};
    // At its default latency: PipeWire's sink does not mix ahead, and with
    // 10 ms cycles this machine's two cores miss some (a quantum lost now
    // and then, aplay's plays as well).
    recorder.push_back("-");
    startRecorder(recorder, serverEnv_);
}

void PipeWireRig::stopServer(int signal)
{
    stopRecorder();
    end(pulseServer_, signal);
    end(session_, SIGTERM);
    end(server_, signal);
    running_ = false;
}

std::vector<std::string> PipeWireRig::streams() const
{
    if (route_ == PulseServer)
        return pulseStreams(dir_.path(), env());
    // The application names of the playback streams: blocks of properties,
    // one per node, each opened by an "id" line.
    const Ending listing = run({PIPEWIRE_ROOT "/usr/bin/pw-cli", "ls", "Node"}, dir_.path(), env(), 5000);
    std::vector<std::string> names;
    std::string name;
    bool playback = false;
    std::istringstream lines(listing.out + "\n\tid");
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("\tid", 0) == 0) {
            if (playback)
                names.push_back(name);
            name.clear();
            playback = false;
        }
        const std::size_t equals = line.find(" = \"");
        if (equals == std::string::npos)
            continue;
        const std::string value = line.substr(equals + 4, line.rfind('"') - equals - 4);
        if (line.find("application.name") != std::string::npos)
            name = value;
        if (line.find("media.class") != std::string::npos)
            playback = value == "Stream/Output/Audio";
    }
    return names;
}

std::string howAplayHeard(ServerRig& rig, const std::map<std::string, std::string>& env, const std::string& wav,
                          const std::vector<double>& tones)
{
    if (access("/usr/bin/aplay", X_OK) != 0)
        return "aplay is not there to compare with (apt-get install alsa-utils)";
    rig.startRecording();
    const Ending play = run({"/usr/bin/aplay", "-q", wav}, "/", env, 60000);
    const std::vector<Segment> heard = segments(rig.stopRecording(), tones);
    std::ostringstream said;
    said << "aplay, in the same rig, was heard in " << heard.size() << " stretch(es):";
    for (const Segment& stretch : heard)
        said << " " << stretch.frequency << " Hz " << stretch.end - stretch.start << " s;";
    if (play.exitCode != 0)
        said << " it failed: " << play.err;
    return said.str();
}

}  // namespace support
