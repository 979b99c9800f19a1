// Reads what a sink's monitor recorded (raw 16-bit mono samples at 44100 Hz
// on standard input) of sounds in two tones, the first then the last, and
// prints for each sound how long its last tone was heard, in milliseconds.
// Sounds may follow one another with no pause. A sound whose end was cut
// shows it here; its start may be lost to a recorder's artefacts, its end is
// not.
//   tone_ends FIRST_HZ LAST_HZ < heard.raw

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double rate = 44100;
constexpr std::size_t window = 441;  // 10 ms

// How strongly a tone sounds in the window from start (Goertzel, Hann window),
// relative to a full-scale sine.
double level(const std::vector<std::int16_t>& samples, std::size_t start, double frequency)
{
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (std::size_t i = 0; i < window && start + i < samples.size(); ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / (window - 1));
        const double current = hann * samples[start + i] / 32768.0 + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return std::sqrt(previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious)
           / (window / 4.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tone_ends FIRST_HZ LAST_HZ < heard.raw\n");
        return 2;
    }
    const double first = std::atof(argv[1]), last = std::atof(argv[2]);
    std::vector<std::int16_t> samples;
    std::int16_t buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, sizeof buffer[0], 4096, stdin)) > 0;)
        samples.insert(samples.end(), buffer, buffer + got);

    // Each run of milliseconds in which the last tone sounds louder than
    // the first is one sound's last part; the 10 ms window blurs both of its
    // edges alike.
    std::size_t run = 0;
    for (std::size_t at = 0; at + window <= samples.size(); at += 44) {
        const double l = level(samples, at, last);
        if (l > 0.05 && l > level(samples, at, first)) {
            ++run;
        } else if (run > 0) {
            std::printf("%zu\n", run);
            run = 0;
        }
    }
    return 0;
}
