#include "compat/quiet_posix.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace compat {

std::mutex& standardErrorLock()
{
    // Never destroyed: a sound may still be playing while the process exits.
    static std::mutex* lock = new std::mutex;
    return *lock;
}

Quiet::Quiet() : guard_(standardErrorLock()), saved_(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3))
{
    std::fflush(stderr);
    const int none = saved_ >= 0 ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    if (none >= 0) {
        dup2(none, STDERR_FILENO);
        close(none);
    }
}

Quiet::~Quiet()
{
    std::fflush(stderr);
    if (saved_ >= 0) {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
}

}  // namespace compat
