// Reads what a sink's monitor recorded (raw 16-bit mono samples at 44100 Hz
// on standard input) of sounds in two tones, the first then the last, and
// prints for each sound how long its last tone was heard, in milliseconds
// (measured about 3 ms longer than it is). Sounds may follow one another
// with no pause. A sound whose end was cut shows it here; its start may be
// lost to a recorder's artefacts, its end is not.
//   tone_ends FIRST_HZ LAST_HZ < heard.raw

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/recordings.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tone_ends FIRST_HZ LAST_HZ < heard.raw\n");
        return 2;
    }
    std::vector<short> samples;
    short buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, sizeof buffer[0], 4096, stdin)) > 0;)
        samples.insert(samples.end(), buffer, buffer + got);
    for (const support::LastPart& part : support::lastParts(samples, std::atof(argv[1]), std::atof(argv[2])))
        std::printf("%.0f\n", part.seconds * 1000);
    return 0;
}
