// Reads what a sound server's monitor recorded (raw 16-bit mono samples at
// 44100 Hz on standard input) and reports the pauses between the sounds in
// it, against the expected pause: each sound's start minus (the previous
// sound's end + EXPECTED_MS), from the first sound of SHORTEST_MS or longer
// on (the start-up sound comes before; by default from the first pause of at
// least half the interval on). With --span, reports instead how long the
// sound lasted, from its first loud sample to its last; with --spans, how
// long each sound lasted, in milliseconds, one per line.
//   gaps EXPECTED_MS [SHORTEST_MS] < heard.raw
//   gaps --span < heard.raw
//   gaps --spans < heard.raw

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double rate = 44100.0;
using Sound = std::pair<std::size_t, std::size_t>;  // first and last loud sample

double milliseconds(std::size_t samples)
{
    return static_cast<double>(samples) / rate * 1000.0;
}

// The sounds in raw 16-bit samples on standard input: stretches of samples
// above about -30 dB of full scale, apart by 10 ms below it at least.
std::vector<Sound> readSounds()
{
    constexpr int threshold = 1000;
    constexpr std::size_t silence = 441;
    std::vector<std::int16_t> samples;
    std::int16_t buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, sizeof buffer[0], 4096, stdin)) > 0)
        samples.insert(samples.end(), buffer, buffer + got);
    std::vector<Sound> sounds;
    std::size_t quiet = silence;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) >= threshold) {
            if (quiet >= silence)
                sounds.push_back({i, i});
            sounds.back().second = i;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return sounds;
}

int printSpans(const std::vector<Sound>& sounds)
{
    for (const Sound& sound : sounds)
        std::printf("%.1f\n", milliseconds(sound.second - sound.first));
    return sounds.empty();
}

int printSpan(const std::vector<Sound>& sounds)
{
    if (sounds.empty())
        std::printf("nothing heard\n");
    else
        std::printf("heard %.1f ms\n", milliseconds(sounds.back().second - sounds.front().first));
    return sounds.empty();
}

int printPauses(std::vector<Sound> sounds, double expectedMs, double shortestMs)
{
    if (shortestMs >= 0) {
        const auto first = std::find_if(sounds.begin(), sounds.end(), [shortestMs](const Sound& sound) {
            return milliseconds(sound.second - sound.first) >= shortestMs;
        });
        sounds.erase(sounds.begin(), first);
    }
    if (sounds.size() < 2) {
        std::printf("too few sounds heard (%zu)\n", sounds.size());
        return 1;
    }
    // Pauses from the first one of at least half the interval on: the
    // start-up sound, which plays during the first wait, comes before. The
    // last sound may have been cut short.
    std::vector<double> errors;
    for (std::size_t k = 1; k + 1 < sounds.size(); ++k) {
        const double pause = milliseconds(sounds[k].first - sounds[k - 1].second);
        if (shortestMs < 0 && errors.empty() && pause < expectedMs / 2)
            continue;
        errors.push_back(pause - expectedMs);
    }
    if (errors.empty()) {
        std::printf("no pauses heard\n");
        return 1;
    }
    double sum = 0, worst = 0;
    for (double e : errors) {
        sum += e;
        worst = std::max(worst, std::fabs(e));
    }
    std::sort(errors.begin(), errors.end());
    std::printf("%zu pauses: mean %+.1f ms, median %+.1f ms, worst %.1f ms off\n", errors.size(),
                sum / static_cast<double>(errors.size()), errors[errors.size() / 2], worst);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::vector<Sound> sounds = readSounds();
    if (mode == "--spans")
        return printSpans(sounds);
    if (mode == "--span")
        return printSpan(sounds);
    return printPauses(sounds, argc > 1 ? std::atof(argv[1]) : 1000.0, argc > 2 ? std::atof(argv[2]) : -1.0);
}
