// libFuzzer target: arbitrary bytes played by name, as the player plays a
// recording (PlaySoundA with SND_FILENAME), into ALSA's null device.
//   play_fuzzer -max_total_time=600 CORPUS_DIR tests/fuzz/corpus

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "compat/win32.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A private ALSA configuration: the default device discards what it is
    // given, without keeping time. No sound theme: the default sound is the
    // built-in chime.
    const char* tmp = std::getenv("TMPDIR");
    std::string home = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/play_fuzzer.XXXXXX";
    if (mkdtemp(home.data()) == nullptr)
        std::abort();
    const std::string config = home + "/.asoundrc";
    FILE* file = std::fopen(config.c_str(), "w");
    if (file == nullptr)
        std::abort();
    std::fputs("pcm.!default { type null }\n", file);
    std::fclose(file);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("XDG_DATA_DIRS", home.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The recording lives in memory and is opened by a path, like a file.
    static const int fd = memfd_create("line.wav", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0)
        std::abort();
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    PlaySoundA(path.c_str(), nullptr, SND_FILENAME);
    return 0;
}
