#include "support.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <iconv.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace support {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/line_player.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    nftw(
        path_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return remove(path) == 0 ? 0 : 0; }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void writeTone(const std::string& path, double frequency, double seconds, int rate, int format, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<double> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)]
                = (0.5 / (c + 1)) * std::sin(2 * M_PI * frequency * static_cast<double>(i) / rate);
    sf_writef_double(file, samples.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
}

void makeFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            break;
    }
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

Child start(const std::vector<std::string>& argv, const std::string& folder,
            const std::map<std::string, std::string>& env, bool outputToPipe)
{
    static int serial = 0;
    Child child;
    const std::string stem = "/tmp/line_player_child." + std::to_string(getpid()) + "." + std::to_string(++serial);
    child.outPath = stem + ".out";
    child.errPath = stem + ".err";

    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr)
            environment[std::string(*entry, static_cast<std::size_t>(equals - *entry))] = equals + 1;
    }
    for (const auto& [name, value] : env) {
        if (value.empty())
            environment.erase(name);
        else
            environment[name] = value;
    }
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : environment)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& arg : args)
        argp.push_back(arg.data());
    argp.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    if (outputToPipe && pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    child.pid = fork();
    if (child.pid == 0) {
        const int out = outputToPipe ? pipeEnds[1] : open(child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int none = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || none < 0 || chdir(folder.c_str()) != 0)
            _exit(126);
        dup2(none, 0);
        dup2(out, 1);
        dup2(err, 2);
        // The child starts with the default action for every signal.
        signal(SIGINT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    if (child.pid < 0)
        throw std::runtime_error("fork failed");
    if (outputToPipe) {
        close(pipeEnds[1]);
        child.outPipe = pipeEnds[0];
        fcntl(child.outPipe, F_SETFL, O_NONBLOCK);
    }
    return child;
}

std::string outputSoFar(const Child& child, std::string& received)
{
    if (child.outPipe < 0)
        return readBytes(child.outPath);
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(child.outPipe, buffer, sizeof buffer)) > 0)
        received.append(buffer, static_cast<std::size_t>(got));
    return received;
}

Ending wait(const Child& child, int timeoutMs)
{
    Ending ending;
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; (done = waitpid(child.pid, &status, WNOHANG)) == 0 && waited < timeoutMs; waited += 5)
        sleepThenCheck(5);
    if (done == 0) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, &status, 0);
    } else {
        ending.finished = true;
    }
    if (WIFEXITED(status))
        ending.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        ending.signal = WTERMSIG(status);
    if (child.outPipe >= 0) {
        fcntl(child.outPipe, F_SETFL, 0);
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(child.outPipe, buffer, sizeof buffer)) > 0)
            ending.out.append(buffer, static_cast<std::size_t>(got));
        close(child.outPipe);
    } else {
        ending.out = readBytes(child.outPath);
    }
    ending.err = readBytes(child.errPath);
    unlink(child.outPath.c_str());
    unlink(child.errPath.c_str());
    return ending;
}

Ending run(const std::vector<std::string>& argv, const std::string& folder,
           const std::map<std::string, std::string>& env, int timeoutMs)
{
    return wait(start(argv, folder, env), timeoutMs);
}

bool sleepThenCheck(int milliseconds)
{
    timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
    return true;
}

AlsaRig::AlsaRig(Kind kind)
{
    std::string config;
    if (kind == NoDevice) {
        config = "pcm.!default { type hw card 31 }\nctl.!default { type hw card 31 }\n";
    } else {
        mkdir((dir_ / "caps").c_str(), 0700);
        // Each stream is piped to its own file, named with the stream's rate,
        // channels and format (the plug-in fills in %r %c %f) after the pid
        // of the shell that the plug-in forks for it, which orders them.
        writeBytes(dir_ / "save.sh",
                   "#!/bin/sh\nexec cat > \"" + (dir_ / "caps") + "/$(printf %010d $$)_$1_$2_$3.raw\"\n");
        chmod((dir_ / "save.sh").c_str(), 0700);
        config = "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"|" + (dir_ / "save.sh")
                 + " %r %c %f\"\n  format \"raw\"\n}\n";
    }
    writeBytes(dir_ / ".asoundrc", config);
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
        // <pid>_<rate>_<channels>_<format>.raw
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
    wait(child, 5000);
    child = Child();
}

}  // namespace

void ServerRig::startRecorder(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env)
{
    // The recorder runs for the server's whole life: a null sink with nothing
    // to play hands its monitor's first samples over only after a while.
    recorder_ = start(argv, dir_.path(), env);
    running_ = eventually([&] { return readBytes(recorder_.outPath).size() > 44100; }, 15000);
}

void ServerRig::stopRecorder()
{
    if (recorder_.pid > 0) {
        kill(recorder_.pid, SIGINT);
        wait(recorder_, 5000);
        recorder_ = Child();
    }
}

void ServerRig::freezeServer(bool frozen)
{
    kill(server_.pid, frozen ? SIGSTOP : SIGCONT);
}

void ServerRig::startRecording()
{
    recordingFrom_ = readBytes(recorder_.outPath).size() / sizeof(short);
}

std::vector<short> ServerRig::stopRecording()
{
    // What the sink has played reaches the recorder within its latency.
    sleepThenCheck(latency_ == Low ? 300 : 2500);
    const std::string bytes = readBytes(recorder_.outPath);
    const std::size_t total = bytes.size() / sizeof(short);
    std::vector<short> samples(total > recordingFrom_ ? total - recordingFrom_ : 0);
    std::memcpy(samples.data(), bytes.data() + recordingFrom_ * sizeof(short), samples.size() * sizeof(short));
    return samples;
}

PulseRig::PulseRig(Latency latency) : ServerRig(latency)
{
    mkdir((dir_ / "runtime").c_str(), 0700);
    mkdir((dir_ / "home").c_str(), 0700);
    startServer();
}

PulseRig::~PulseRig()
{
    stopServer(SIGTERM);
}

void PulseRig::startServer()
{
    server_ = start({"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                     "--load=module-null-sink sink_name=rig", "--load=module-native-protocol-unix",
                     "--load=module-always-sink"},
                    dir_.path(), env());
    running_ = eventually([&] { return run({"/usr/bin/pactl", "info"}, dir_.path(), env(), 5000).exitCode == 0; },
                          15000);
    if (!running_)
        return;
    run({"/usr/bin/pactl", "set-default-sink", "rig"}, dir_.path(), env(), 5000);
    std::vector<std::string> recorder = {"/usr/bin/parec", "-d", "rig.monitor", "--raw", "--format=s16le",
                                         "--rate=44100", "--channels=1"};
    if (latency_ == Low)
        recorder.push_back("--latency-msec=20");
    startRecorder(recorder, env());
    if (latency_ == Desktop && running_) {
        // The first recording at the default latency starts late.
        writeTone(dir_ / "warm-up.wav", 440, 0.1, 44100);
        run({"/usr/bin/paplay", dir_ / "warm-up.wav"}, dir_.path(), env(), 10000);
        sleepThenCheck(2500);
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
    return {{"XDG_RUNTIME_DIR", dir_ / "runtime"}, {"HOME", dir_ / "home"}, {"PULSE_SERVER", ""},
            {"XDG_DATA_HOME", dir_ / "home"}, {"XDG_DATA_DIRS", dir_ / "none"}};
}

std::vector<std::string> PulseRig::streams() const
{
    // The application names of the sink inputs: what is playing now.
    const Ending listing = run({"/usr/bin/pactl", "list", "sink-inputs"}, dir_.path(), env(), 5000);
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

PipeWireRig::PipeWireRig(Latency latency) : ServerRig(latency)
{
    if (!unpacked())
        return;
    const Ending configured = run({PIPEWIRE_RIG_SCRIPT, "configure", PIPEWIRE_ROOT, dir_.path()}, "/", {}, 30000);
    if (configured.exitCode == 0)
        startServer();
}

PipeWireRig::~PipeWireRig()
{
    stopServer(SIGTERM);
}

bool PipeWireRig::unpacked()
{
    return access(PIPEWIRE_ROOT "/usr/bin/pipewire", X_OK) == 0;
}

std::map<std::string, std::string> PipeWireRig::env() const
{
    const std::string lib = PIPEWIRE_ROOT "/usr/lib/x86_64-linux-gnu";
    const char* path = std::getenv("PATH");
    return {{"LD_LIBRARY_PATH", lib},
            {"SPA_PLUGIN_DIR", lib + "/spa-0.2"},
            {"PIPEWIRE_MODULE_DIR", lib + "/pipewire-0.3"},
            {"PIPEWIRE_CONFIG_DIR", dir_ / "conf"},
            {"WIREPLUMBER_MODULE_DIR", lib + "/wireplumber-0.4"},
            {"WIREPLUMBER_CONFIG_DIR", dir_ / "wireplumber"},
            {"WIREPLUMBER_DATA_DIR", dir_ / "wireplumber"},
            {"XDG_RUNTIME_DIR", dir_ / "runtime"},
            {"HOME", dir_ / "home"},
            {"XDG_CONFIG_HOME", dir_ / "home/.config"},
            {"XDG_STATE_HOME", dir_ / "home/.local/state"},
            {"XDG_DATA_HOME", dir_ / "home/.local/share"},
            {"XDG_DATA_DIRS", dir_ / "none"},
            {"PATH", std::string(PIPEWIRE_ROOT "/usr/bin:") + (path != nullptr ? path : "/usr/bin:/bin")},
            {"PULSE_SERVER", ""}};
}

void PipeWireRig::startServer()
{
    const std::string bin = PIPEWIRE_ROOT "/usr/bin/";
    server_ = start({bin + "pipewire"}, dir_.path(), env());
    running_ = eventually([&] { return run({bin + "pw-cli", "info", "0"}, dir_.path(), env(), 5000).exitCode == 0; },
                          15000);
    if (!running_)
        return;
    session_ = start({"/usr/bin/dbus-run-session", "--", bin + "wireplumber"}, dir_.path(), env());
    // Ready once the session manager has made the rig the default sink.
    running_ = eventually(
        [&] {
            const Ending status = run({bin + "wpctl", "status"}, dir_.path(), env(), 5000);
            return status.out.find("*   ") != std::string::npos
                   && status.out.find("Rig null sink") != std::string::npos;
        },
        15000);
    if (!running_)
        return;
    std::vector<std::string> recorder = {bin + "pw-record", "--target", "rig", "-P", "{ stream.capture.sink = true }",
                                         "--rate", "44100", "--channels", "1", "--format", "s16"};
    // At its default latency: PipeWire's sink does not mix ahead, and with
    // 10 ms cycles this machine's two cores miss some (a quantum lost now
    // and then, aplay's plays as well).
    recorder.push_back("-");
    startRecorder(recorder, env());
}

void PipeWireRig::stopServer(int signal)
{
    stopRecorder();
    end(session_, SIGTERM);
    end(server_, signal);
    running_ = false;
}

std::vector<std::string> PipeWireRig::streams() const
{
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

std::string startupText(int seconds, bool hint, int count)
{
    std::string text = "\nЕсли только что был слышен системный звук, значит все работает.";
    text += "\nРеплики будут звучать каждые " + std::to_string(seconds) + " секунд.";
    if (hint)
        text += " Задать интервал (в секундах) можно параметром командной строки.";
    text += "\nВсего реплик " + std::to_string(count) + ".";
    text += "\nОтрегулировать громкость голоса можно в \"Микшере громкости\" (динамик в трее).";
    text += "\nЗавершение программы - по Ctrl+C.";
    text += "\n\nHave a nice dream!";
    return text;
}

std::string toWindows1251(const std::string& utf8)
{
    iconv_t converter = iconv_open("CP1251", "UTF-8");
    std::string out(utf8.size(), '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1))
        throw std::runtime_error("text not in Windows-1251");
    out.resize(out.size() - outLeft);
    return out;
}

double toneLevel(const std::vector<short>& samples, std::size_t start, double frequency)
{
    constexpr double rate = 44100;
    constexpr std::size_t block = 441;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (std::size_t i = 0; i < block && start + i < samples.size(); ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / (block - 1));
        const double current = window * samples[start + i] / 32768.0 + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return std::sqrt(power) / (block / 4.0);
}

}  // namespace support
