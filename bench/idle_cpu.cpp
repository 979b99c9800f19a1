// The CPU time one Sleep of the given length costs the process, measured by
// the process itself (getrusage, microseconds).
//   idle_cpu MILLISECONDS

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include "compat/win32.h"

static double cpuMicroseconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

int main(int argc, char** argv)
{
    const DWORD milliseconds = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 10000;
    const double before = cpuMicroseconds();
    Sleep(milliseconds);
    const double spent = cpuMicroseconds() - before;
    std::printf("Sleep(%u): %.0f us of CPU\n", static_cast<unsigned>(milliseconds), spent);
    return 0;
}
