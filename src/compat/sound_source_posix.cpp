// The sound to play: a file decoded by libsndfile, or samples in memory.

#include "compat/sound_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace sound {

namespace {

// The sample format that carries the file's samples unchanged: 8-bit and
// companded encodings decode exactly to 16 bits, 24 and 32 bits to 32,
// floating point to float.
snd_pcm_format_t streamFormat(int sndfileFormat)
{
    switch (sndfileFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32: return SND_PCM_FORMAT_S32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE: return SND_PCM_FORMAT_FLOAT;
    default: return SND_PCM_FORMAT_S16;
    }
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens name for reading if it is a regular file, and nothing else: opening
// a device may act by itself (a watchdog arms, a tape rewinds), and a FIFO
// would block or wake its writer. The name is resolved once, to a
// descriptor that opens nothing (O_PATH); its type is looked at there, and
// that very file is then opened through /proc. Where /proc is not mounted
// (a chroot, a sandbox), the name is opened again, in a way that cannot
// block, take a terminal or follow a link put in its place meanwhile, and
// kept only if it is the file looked at. -1 when it is not a regular file
// or cannot be read.
int openRegularFile(const char* name)
{
    const int path = open(name, O_PATH | O_CLOEXEC);
    if (path < 0)
        return -1;
    struct stat found;
    int fd = -1;
    if (fstat(path, &found) == 0 && S_ISREG(found.st_mode)) {
        const std::string self = "/proc/self/fd/" + std::to_string(path);
        fd = open(self.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0 && errno == ENOENT)
            fd = open(name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        struct stat opened;
        if (fd >= 0
            && (fstat(fd, &opened) != 0 || !sameFile(found, opened)
                || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
            ::close(fd);
            fd = -1;
        }
    }
    ::close(path);
    return fd;
}

}  // namespace

bool Source::openFile(const char* name, bool wavOnly)
{
    close();
    const int fd = openRegularFile(name);
    if (fd < 0)
        return false;
    SF_INFO sfInfo;
    std::memset(&sfInfo, 0, sizeof sfInfo);
    // The descriptor stays ours (libsndfile does not close it), so that it is
    // closed exactly once whatever happens.
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &sfInfo, SF_FALSE);
    if (file == nullptr) {
        ::close(fd);
        return false;
    }
    const int container = sfInfo.format & SF_FORMAT_TYPEMASK;
    const bool wav = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
    if ((wavOnly && !wav) || sfInfo.channels < 1 || sfInfo.samplerate < 1) {
        sf_close(file);
        ::close(fd);
        return false;
    }
    open_.file = file;
    open_.fd = fd;
    open_.format = streamFormat(sfInfo.format);
    open_.channels = static_cast<unsigned>(sfInfo.channels);
    open_.rate = static_cast<unsigned>(sfInfo.samplerate);
    open_.frames = sfInfo.frames > 0 ? static_cast<std::size_t>(sfInfo.frames) : 0;
    return true;
}

void Source::openSamples(const std::vector<std::int16_t>& samples, unsigned sampleRate)
{
    close();
    open_.samples = samples.data();
    open_.frames = samples.size();
    open_.rate = sampleRate;
}

void Source::openNothing(unsigned sampleRate)
{
    close();
    open_.rate = sampleRate;
}

void Source::close()
{
    if (open_.file != nullptr)
        sf_close(open_.file);
    if (open_.fd >= 0)
        ::close(open_.fd);
    open_ = Open();
}

std::size_t Source::frameBytes() const
{
    return static_cast<std::size_t>(snd_pcm_format_physical_width(open_.format)) / 8 * open_.channels;
}

std::size_t Source::read(void* buffer, std::size_t frames)
{
    if (open_.file == nullptr) {
        const std::size_t n = std::min(frames, open_.frames - open_.position);
        if (n == 0)
            return 0;
        std::memcpy(buffer, open_.samples + open_.position, n * sizeof(std::int16_t));  // mono
        open_.position += n;
        return n;
    }
    const sf_count_t want = static_cast<sf_count_t>(frames);
    sf_count_t got = 0;
    switch (open_.format) {
    case SND_PCM_FORMAT_S32: got = sf_readf_int(open_.file, static_cast<int*>(buffer), want); break;
    case SND_PCM_FORMAT_FLOAT: got = sf_readf_float(open_.file, static_cast<float*>(buffer), want); break;
    default: got = sf_readf_short(open_.file, static_cast<short*>(buffer), want); break;
    }
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

}  // namespace sound
