#include "support/recordings.h"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace support {

namespace {

void writeFrames(const std::string& path, const std::vector<double>& samples, int rate, int format, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    sf_writef_double(file, samples.data(),
                     static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels)));
    sf_close(file);
}

}  // namespace

void writeTone(const std::string& path, double frequency, double seconds, int rate, int format, int channels)
{
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<double> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                (0.5 / (c + 1)) * std::sin(2 * M_PI * frequency * static_cast<double>(i) / rate);
    writeFrames(path, samples, rate, format, channels);
}

void writeTones(const std::string& path, const std::vector<std::pair<double, double>>& tones, int rate)
{
    std::vector<double> samples;
    for (const auto& [frequency, seconds] : tones) {
        const auto frames = static_cast<std::size_t>(seconds * rate);
        for (std::size_t i = 0; i < frames; ++i)
            samples.push_back(0.5 * std::sin(2 * M_PI * frequency * static_cast<double>(i) / rate));
    }
    writeFrames(path, samples, rate, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
}

double toneLevel(const std::vector<short>& samples, std::size_t start, double frequency)
{
    constexpr double rate = 44100;
    constexpr std::size_t block = 441;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (std::size_t i = 0; i < block && start + i < samples.size(); ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / (block - 1));
        const double current = window * samples[start + i] / 32768.0 + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return std::sqrt(power) / (block / 4.0);
}

std::vector<Segment> segments(const std::vector<short>& heard, const std::vector<double>& tones)
{
    return SegmentsSoFar(tones).update(heard);
}

const std::vector<Segment>& SegmentsSoFar::update(const std::vector<short>& heard)
{
    constexpr std::size_t rate = 44100;
    constexpr std::size_t block = rate / 100;
    for (; next_ + block <= heard.size(); next_ += block) {
        const double at = static_cast<double>(next_) / rate;
        for (double tone : tones_) {
            if (toneLevel(heard, next_, tone) < 0.2)
                continue;
            if (!found_.empty() && found_.back().frequency == tone && at - found_.back().end < 0.015)
                found_.back().end = at + 0.01;
            else
                found_.push_back({tone, at, at + 0.01});
        }
    }
    return found_;
}

std::vector<LastPart> lastParts(const std::vector<short>& heard, double firstTone, double lastTone)
{
    return LastPartsSoFar(firstTone, lastTone).update(heard);
}

const std::vector<LastPart>& LastPartsSoFar::update(const std::vector<short>& heard)
{
    constexpr std::size_t millisecond = 44;  // at 44100 Hz, near enough
    constexpr std::size_t window = 441;
    for (; next_ + window <= heard.size(); next_ += millisecond) {
        const double first = toneLevel(heard, next_, firstTone_);
        const double last = toneLevel(heard, next_, lastTone_);
        if (last > 0.05 && last > first) {
            if (run_++ == 0)
                parts_.push_back({0, sinceFirst_ <= 20, 0});
            parts_.back().seconds = static_cast<double>(run_) / 1000.0;
            parts_.back().end = static_cast<double>(next_ + window) / 44100;
            continue;
        }
        run_ = 0;
        sinceFirst_ = first > 0.05 ? 0 : sinceFirst_ + 1;
    }
    return parts_;
}

}  // namespace support
