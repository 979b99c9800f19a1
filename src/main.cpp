// line_player: plays one WAV recording of the working directory at random,
// N seconds (300 unless the one argument says otherwise) after the previous
// one has ended, until the process is ended from outside (Ctrl+C).

#include <clocale>

#include "announce.h"
#include "exits.h"
#include "lines.h"
#include "playback.h"
#include "settings.h"

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    // The argument sets the interval only when it is the one argument (argc
    // 2), and the hint about it is printed only when there is none (argc
    // below 2): two or more arguments get the default and no hint.
    const int intervalMs = readIntervalMs(argc, argv);
    char** lines = nullptr;
    int lineCount = 0;
    DWORD searchError = ERROR_FILE_NOT_FOUND;

    collectLines(&lines, &lineCount, &searchError);
    playStartupSound();
    announceStart(argc, intervalMs, lineCount);
    if (lineCount == 0)
        exitNoLines(searchError);  // there is nothing to draw from
    playForever(lines, lineCount, intervalMs);
}
