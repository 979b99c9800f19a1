// Runs a command (no shell) and prints the CPU time it used, in seconds with
// microsecond resolution, its peak resident memory in KiB, and how often its
// threads went to sleep and were woken (voluntary context switches):
//   rusage_run COMMAND [ARGUMENT...]   ->   "<user+system seconds> <peak KiB> <wake-ups>"
// /usr/bin/time reports CPU in hundredths of a second only.

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: rusage_run COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0)
        return 1;
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                       + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%.6f %ld %ld\n", cpu, usage.ru_maxrss, usage.ru_nvcsw);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
