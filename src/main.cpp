// line_player: plays one WAV recording of the working directory at random
// every N seconds (300 unless the one argument says otherwise), until the
// process is ended from outside (Ctrl+C).

#include <clocale>

#include "announce.h"
#include "lines.h"
#include "playback.h"
#include "settings.h"

int main(int argc, char** argv)
{
    int intervalMs = defaultIntervalMs;
    char** lines = nullptr;
    int lineCount = 0;

    std::setlocale(LC_ALL, "");
    intervalMs = readIntervalMs(argc, argv);

    collectLines(&lines, &lineCount);
    playStartupSound();
    announceStart(argc, intervalMs, lineCount);
    if (lineCount == 0)
        exitNoLines();  // there is nothing to draw from
    playForever(lines, lineCount, intervalMs);
}
