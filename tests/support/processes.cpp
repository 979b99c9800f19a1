#include "support/processes.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <grp.h>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "support/files.h"

extern char** environ;

namespace support {

namespace {

// This process's environment changed by changes (an empty value removes the
// variable), as NAME=VALUE strings.
std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& changes)
{
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr)
            environment[std::string(*entry, static_cast<std::size_t>(equals - *entry))] = equals + 1;
    }
    for (const auto& [name, value] : changes) {
        if (value.empty())
            environment.erase(name);
        else
            environment[name] = value;
    }
    std::vector<std::string> strings;
    for (const auto& [name, value] : environment)
        strings.push_back(name + "=" + value);
    return strings;
}

// The pointers execve takes, to strings that outlive them.
std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& string : strings)
        result.push_back(string.data());
    result.push_back(nullptr);
    return result;
}

// Writes text to a file of /proc/self, in a child that must not allocate.
bool writeProcSelf(const char* file, const char* text)
{
    const int fd = open(file, O_WRONLY);
    const bool written = fd >= 0 && write(fd, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
    if (fd >= 0)
        close(fd);
    return written;
}

// In the child: a mount namespace of its own where an empty file system
// hides /proc; where it is not root, inside a user namespace of its own
// that maps its user and group (userMap, groupMap) to themselves.
bool hideProc(const char* userMap, const char* groupMap)
{
    if (geteuid() != 0
        && (unshare(CLONE_NEWUSER) != 0 || !writeProcSelf("/proc/self/setgroups", "deny")
            || !writeProcSelf("/proc/self/uid_map", userMap) || !writeProcSelf("/proc/self/gid_map", groupMap)))
        return false;
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
           && mount("none", "/proc", "tmpfs", 0, nullptr) == 0;
}

// In the child: nobody's user and group, when root.
bool becomeUnprivileged()
{
    constexpr uid_t nobody = 65534;
    return geteuid() != 0
           || (setgroups(0, nullptr) == 0 && setresgid(nobody, nobody, nobody) == 0
               && setresuid(nobody, nobody, nobody) == 0);
}

// In the child: its descriptors, folder and signals, then the program.
[[noreturn]] void becomeChild(const Child& child, const std::string& folder, const StartOptions& options, int outPipe,
                              char* const* argv, char* const* envp)
{
    char userMap[64], groupMap[64];
    std::snprintf(userMap, sizeof userMap, "%u %u 1", geteuid(), geteuid());
    std::snprintf(groupMap, sizeof groupMap, "%u %u 1", getegid(), getegid());
    if (options.withoutProc && !hideProc(userMap, groupMap))
        _exit(125);
    const int out = outPipe >= 0 ? outPipe : open(child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int none = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || none < 0 || chdir(folder.c_str()) != 0
        || (options.folderRemoved && rmdir(folder.c_str()) != 0))
        _exit(126);
    dup2(none, 0);
    dup2(out, 1);
    dup2(options.errorTo >= 0 ? options.errorTo : err, 2);
    if (options.outputsClosed) {
        close(1);
        close(2);
    }
    // The child starts with the default action for every signal.
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    if (options.realTime) {
        sched_param priority{};
        priority.sched_priority = 20;
        sched_setscheduler(0, SCHED_FIFO, &priority);
    }
    const rlimit limit{static_cast<rlim_t>(options.processLimit), static_cast<rlim_t>(options.processLimit)};
    if ((options.unprivileged && !becomeUnprivileged())
        || (options.processLimit > 0 && setrlimit(RLIMIT_NPROC, &limit) != 0))
        _exit(125);
    execve(argv[0], argv, envp);
    _exit(127);
}

}  // namespace

Child start(const std::vector<std::string>& argv, const std::string& folder,
            const std::map<std::string, std::string>& env, StartOptions options)
{
    static int serial = 0;
    Child child;
    const char* tmp = std::getenv("TMPDIR");
    const std::string stem = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/line_player_child."
                             + std::to_string(getpid()) + "." + std::to_string(++serial);
    child.outPath = stem + ".out";
    child.errPath = stem + ".err";
    std::vector<std::string> envStrings = childEnvironment(env);
    std::vector<std::string> args = argv;
    const std::vector<char*> envp = pointers(envStrings);
    const std::vector<char*> argp = pointers(args);

    int pipeEnds[2] = {-1, -1};
    if ((options.outputToPipe || options.outputReaderGone) && pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    // The child's copy of the reading end closes as it runs the program.
    if (options.outputReaderGone)
        close(pipeEnds[0]);
    child.pid = fork();
    if (child.pid == 0)
        becomeChild(child, folder, options, pipeEnds[1], argp.data(), envp.data());
    if (child.pid < 0)
        throw std::runtime_error("fork failed");
    if (options.outputReaderGone)
        close(pipeEnds[1]);
    if (options.outputToPipe) {
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

Ending waitForExit(const Child& child, int timeoutMs)
{
    Ending ending;
    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((done = waitpid(child.pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        pause(5);
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
           const std::map<std::string, std::string>& env, int timeoutMs, StartOptions options)
{
    return waitForExit(start(argv, folder, env, options), timeoutMs);
}

bool supported(const StartOptions& options)
{
    return run({"/bin/true"}, "/", {}, 10000, options).exitCode == 0;
}

double cpuSeconds(pid_t pid)
{
    const std::string stat = readBytes("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 14; ++i)
        fields >> field;
    long user = 0, system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

Observed observe(const std::vector<std::string>& argv, const std::string& folder,
                 const std::map<std::string, std::string>& env, int milliseconds, StartOptions options)
{
    const Child child = start(argv, folder, env, options);
    pause(milliseconds);
    const double cpu = cpuSeconds(child.pid);
    return {cpu, interrupt(child)};
}

void pause(int milliseconds)
{
    timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

Ending interrupt(const Child& child, int timeoutMs)
{
    kill(child.pid, SIGINT);
    return waitForExit(child, timeoutMs);
}

bool awaitOutput(const Child& child, const std::string& text, std::string& received, int timeoutMs)
{
    return eventually([&] { return outputSoFar(child, received).find(text) != std::string::npos; }, timeoutMs);
}

}  // namespace support
