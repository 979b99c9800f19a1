// Calls the POSIX PlaySoundA or Sleep once, the way the player does, so that
// tests and benchmarks can run each in a process of its own (with its own
// ALSA configuration) and read the result from the exit status.
//   sound_probe play FILE...      PlaySoundA(FILE, NULL, SND_FILENAME) for each
//                                 in turn: 0 when all yield TRUE, 1 otherwise
//   sound_probe chime-then-play FILE  the start-up sound (async), then FILE
//   sound_probe sleep MS          Sleep(MS)
//   sound_probe play-after MS FILE...  Sleep(MS), then PlaySoundA(FILE, NULL,
//                                 SND_FILENAME), for each in turn: 0 when all
//                                 yield TRUE, 1 otherwise
//   sound_probe play-timed MS FILE...  as play-after, printing how long each
//                                 PlaySoundA took, in milliseconds
//   sound_probe play-peaks MS FILE...  as play-after, but the first play
//                                 without a Sleep before it, printing after
//                                 each PlaySoundA the process's peak resident
//                                 memory, in KiB

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "compat/win32.h"

namespace {

// VmHWM of /proc/self/status, in KiB, or -1.
long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: sound_probe play|play-after|play-timed|play-peaks|chime-then-play|sleep ARGUMENT...\n");
        return 2;
    }
    if (std::strcmp(argv[1], "sleep") == 0) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    DWORD pause = 0;
    int first = 2;
    const bool timed = std::strcmp(argv[1], "play-timed") == 0;
    const bool peaks = std::strcmp(argv[1], "play-peaks") == 0;
    if (std::strcmp(argv[1], "play-after") == 0 || timed || peaks) {
        pause = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
        first = 3;
    } else if (std::strcmp(argv[1], "chime-then-play") == 0) {
        PlaySoundA(reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(SND_ALIAS_SYSTEMDEFAULT)), nullptr,
                   SND_ALIAS_ID | SND_ASYNC);
    } else if (std::strcmp(argv[1], "play") != 0) {
        return 2;
    }
    bool played = true;
    for (int i = first; i < argc; ++i) {
        if (!peaks || i > first)
            Sleep(pause);
        const auto start = std::chrono::steady_clock::now();
        played = PlaySoundA(argv[i], nullptr, SND_FILENAME) && played;
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        if (timed)
            std::printf("%.1f\n", took.count());
        if (peaks)
            std::printf("%ld\n", peakResidentKiB());
    }
    return played ? 0 : 1;
}
