// Preloaded into a player (LD_PRELOAD): at the process's first
// snd_pcm_writei, stops the process SERVER_PID (a sound server) with SIGSTOP
// and lets it go on STALL_MS milliseconds later, as a busy machine stalls a
// server just when a sound begins.

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<bool> stalled{false};

void stallServer()
{
    const char* pid = std::getenv("SERVER_PID");
    const char* ms = std::getenv("STALL_MS");
    if (pid == nullptr || ms == nullptr || std::atoi(ms) <= 0 || stalled.exchange(true))
        return;
    const pid_t server = std::atoi(pid);
    const std::chrono::milliseconds stall(std::atoi(ms));
    kill(server, SIGSTOP);
    std::thread([server, stall] {
        std::this_thread::sleep_for(stall);
        kill(server, SIGCONT);
    }).detach();
}

}  // namespace

extern "C" snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t* pcm, const void* buffer, snd_pcm_uframes_t size)
{
    using Write = snd_pcm_sframes_t (*)(snd_pcm_t*, const void*, snd_pcm_uframes_t);
    static const auto next = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "snd_pcm_writei"));
    stallServer();
    return next(pcm, buffer, size);
}
