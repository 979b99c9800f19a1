// Preloaded into a PulseAudio server (LD_PRELOAD), with TAP_FILE naming a
// file: writes each block that a null sink renders at its place on the
// sink's timeline, and moves that place back when the sink rewinds, so that
// the file ends up as what the sink finally played, the sound a card behind
// it would give a listener. Raw samples in the sink's format, time 0 at the
// sink's start. A sink that mixes ahead takes back, on a rewind, what it had
// rendered of a stream that was closed or flushed: its monitor still holds
// that, and may lose the start of a stream that begins meanwhile; this file
// does neither.
//
// Built without the sanitizers and without the C++ runtime: it runs inside
// the server.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// The parts of PulseAudio's pa_memchunk that are read here.
struct MemChunk {
    void* memblock;
    std::size_t index;
    std::size_t length;
};

int tap = -1;
long long position = 0;  // in bytes, on the sink's timeline

// The null sink renders on a thread of that name; other sinks and threads
// are left alone.
bool onNullSinkThread()
{
    char name[32] = {};
    prctl(PR_GET_NAME, name);
    return std::strcmp(name, "null-sink") == 0;
}

template <typename Function>
Function next(const char* symbol)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

}  // namespace

extern "C" void pa_sink_render(void* sink, std::size_t length, MemChunk* result)
{
    using Render = void (*)(void*, std::size_t, MemChunk*);
    using Acquire = void* (*)(void*);
    using Release = void (*)(void*);
    static const Render render = next<Render>("pa_sink_render");
    static const auto acquire = reinterpret_cast<Acquire>(dlsym(RTLD_DEFAULT, "pa_memblock_acquire"));
    static const auto release = reinterpret_cast<Release>(dlsym(RTLD_DEFAULT, "pa_memblock_release"));
    render(sink, length, result);
    if (!onNullSinkThread())
        return;
    if (tap < 0) {
        const char* path = std::getenv("TAP_FILE");
        if (path == nullptr)
            return;
        tap = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    const char* data = static_cast<const char*>(acquire(result->memblock));
    if (pwrite(tap, data + result->index, result->length, position) < 0) {
        // A block not written is silence in the file, which a test hears.
    }
    release(result->memblock);
    position += static_cast<long long>(result->length);
}

extern "C" void pa_sink_process_rewind(void* sink, std::size_t bytes)
{
    using Rewind = void (*)(void*, std::size_t);
    static const Rewind rewind = next<Rewind>("pa_sink_process_rewind");
    if (onNullSinkThread() && bytes > 0)
        position = position > static_cast<long long>(bytes) ? position - static_cast<long long>(bytes) : 0;
    rewind(sink, bytes);
}
