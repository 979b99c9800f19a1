// Child processes run without a shell, with their own folder and
// environment, their output caught in files or a pipe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace support {

// A child process with its own working folder and environment; its standard
// output and error go to files.
struct Child {
    pid_t pid = -1;
    std::string outPath;  // standard output, unless it goes to a pipe
    std::string errPath;
    int outPipe = -1;  // the reading end, when standard output is a pipe
};

struct Ending {
    bool finished = false;  // false: still running when the time was up (then killed)
    int exitCode = -1;      // when it exited
    int signal = 0;         // when a signal ended it
    std::string out;
    std::string err;
};

// How a child is started: its standard output a pipe (so fully buffered)
// rather than a file, or a pipe whose reader has gone; its standard error a descriptor of the caller's (a
// socket that keeps each write apart, say); its standard output and error
// closed (`>&- 2>&-`); its working folder removed just before it runs, as
// when the folder a shell is in has been deleted; in a mount namespace of
// its own where /proc is an empty folder (a chroot, a sandbox); as user
// nobody when the caller is root, so that permissions and limits hold (the
// files it uses must be open to others); with at most processLimit
// processes and threads of its user (`ulimit -u`); with a real-time
// priority where it may have one (a sound server or recorder, as rtkit
// gives a desktop's, so that a busy machine does not starve it), as it is
// elsewhere.
//
// A child that cannot be set up so exits with status 125 before it runs:
// `supported` tells beforehand.
struct StartOptions {
    bool outputToPipe = false;
    bool outputReaderGone = false;
    int errorTo = -1;
    bool outputsClosed = false;
    bool folderRemoved = false;
    bool withoutProc = false;
    bool unprivileged = false;
    long processLimit = 0;  // 0: no limit
    bool realTime = false;
};
bool supported(const StartOptions& options);

// Starts argv[0] (no shell) in folder with the environment of this process
// changed by env (an empty value removes the variable).
Child start(const std::vector<std::string>& argv, const std::string& folder,
            const std::map<std::string, std::string>& env = {}, StartOptions options = {});
// Standard output so far: the file's content, or what the pipe has brought
// up to now (kept in received).
std::string outputSoFar(const Child& child, std::string& received);
// Waits up to timeoutMs for the child to end; kills it after that. From a
// pipe, `out` holds what outputSoFar has not already taken.
Ending waitForExit(const Child& child, int timeoutMs);
// Runs to the end (or timeoutMs).
Ending run(const std::vector<std::string>& argv, const std::string& folder,
           const std::map<std::string, std::string>& env = {}, int timeoutMs = 20000, StartOptions options = {});
// Ends the child as Ctrl+C does (SIGINT), and waits for it.
Ending interrupt(const Child& child, int timeoutMs = 5000);
// Waits up to timeoutMs until the child has printed text on standard
// output; received keeps what a pipe has brought (see outputSoFar).
bool awaitOutput(const Child& child, const std::string& text, std::string& received, int timeoutMs = 10000);
// User and system CPU time a running process has used, in seconds.
double cpuSeconds(pid_t pid);
// A program watched for a while: the CPU it used meanwhile, and how it ended
// when it was then interrupted.
struct Observed {
    double cpuSeconds;
    Ending ending;
};
Observed observe(const std::vector<std::string>& argv, const std::string& folder,
                 const std::map<std::string, std::string>& env, int milliseconds, StartOptions options = {});
// Polls until predicate holds or timeoutMs of wall-clock time pass, however
// long each poll takes; returns whether it held.
template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs);
// Sleeps, for a test that observes a process over a stretch of time (its CPU,
// its being alive) or puts a moment between two of its own steps.
void pause(int milliseconds);

template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        pause(20);
    }
    return true;
}

}  // namespace support
