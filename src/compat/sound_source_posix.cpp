// The sound to play: a file decoded by libsndfile, or samples in memory.

#include "compat/sound_posix.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
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

}  // namespace

bool Source::openFile(const char* name, bool wavOnly)
{
    close();
    // Only regular files are opened: opening a device may act by itself (a
    // watchdog arms, a tape rewinds), and a FIFO would block. The type is
    // looked at first, and the opened descriptor checked to be the same file.
    struct stat named;
    if (stat(name, &named) != 0 || !S_ISREG(named.st_mode))
        return false;
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat opened;
    SF_INFO sfInfo;
    std::memset(&sfInfo, 0, sizeof sfInfo);
    SNDFILE* file = nullptr;
    // The descriptor stays ours (libsndfile does not close it), so that it is
    // closed exactly once whatever happens.
    if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev
        && opened.st_ino == named.st_ino)
        file = sf_open_fd(fd, SFM_READ, &sfInfo, SF_FALSE);
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
    file_ = file;
    fd_ = fd;
    format = streamFormat(sfInfo.format);
    channels = static_cast<unsigned>(sfInfo.channels);
    rate = static_cast<unsigned>(sfInfo.samplerate);
    return true;
}

void Source::openSamples(const std::vector<std::int16_t>& samples, unsigned sampleRate)
{
    close();
    samples_ = samples.data();
    frameCount_ = samples.size();
    format = SND_PCM_FORMAT_S16;
    channels = 1;
    rate = sampleRate;
}

void Source::close()
{
    if (file_ != nullptr)
        sf_close(file_);
    if (fd_ >= 0)
        ::close(fd_);
    file_ = nullptr;
    fd_ = -1;
    samples_ = nullptr;
    frameCount_ = 0;
    position_ = 0;
    format = SND_PCM_FORMAT_S16;
    channels = 1;
    rate = 44100;
}

std::size_t Source::frameBytes() const
{
    return static_cast<std::size_t>(snd_pcm_format_physical_width(format)) / 8 * channels;
}

std::size_t Source::read(void* buffer, std::size_t frames)
{
    if (file_ == nullptr) {
        const std::size_t n = std::min(frames, frameCount_ - position_);
        std::memcpy(buffer, samples_ + position_ * channels, n * channels * sizeof(std::int16_t));
        position_ += n;
        return n;
    }
    const sf_count_t want = static_cast<sf_count_t>(frames);
    sf_count_t got = 0;
    switch (format) {
    case SND_PCM_FORMAT_S32: got = sf_readf_int(file_, static_cast<int*>(buffer), want); break;
    case SND_PCM_FORMAT_FLOAT: got = sf_readf_float(file_, static_cast<float*>(buffer), want); break;
    default: got = sf_readf_short(file_, static_cast<short*>(buffer), want); break;
    }
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

}  // namespace sound
