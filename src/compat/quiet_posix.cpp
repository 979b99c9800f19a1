#include "compat/quiet_posix.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "compat/lasting.h"

namespace compat {

namespace {

// Quiets in force (on any thread), and the standard error they hid
// (compat::lasting<Hidden>()).
struct Hidden {
    std::mutex lock;
    int quiets = 0;
    int standardError = -1;  // a copy of the real one while quiets > 0
};
Hidden& hidden()
{
    return lasting<Hidden>();
}

}  // namespace

Quiet::Quiet()
{
    Hidden& state = hidden();
    const std::lock_guard<std::mutex> guard(state.lock);
    if (state.quiets++ > 0)
        return;
    std::fflush(stderr);
    state.standardError = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int none = state.standardError >= 0 ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    if (none >= 0) {
        dup2(none, STDERR_FILENO);
        close(none);
    }
}

Quiet::~Quiet()
{
    Hidden& state = hidden();
    const std::lock_guard<std::mutex> guard(state.lock);
    if (--state.quiets > 0)
        return;
    std::fflush(stderr);
    if (state.standardError >= 0) {
        dup2(state.standardError, STDERR_FILENO);
        close(state.standardError);
        state.standardError = -1;
    }
}

void writeStandardError(const char* bytes, std::size_t size)
{
    Hidden& state = hidden();
    const std::lock_guard<std::mutex> guard(state.lock);
    const int fd = state.standardError >= 0 ? state.standardError : STDERR_FILENO;
    while (size > 0) {
        const ssize_t done = write(fd, bytes, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
}

}  // namespace compat
