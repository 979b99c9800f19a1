// The system default sound: the desktop sound theme's bell, or a chime.

#include "compat/sound_posix.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "compat/lasting.h"

namespace sound {

namespace {

// A short two-note chime, for systems without a sound theme
// (compat::lasting<Chime>(): it may still be playing while the process
// exits).
struct Chime {
    std::vector<std::int16_t> samples;
    Chime()
    {
        constexpr unsigned rate = chimeRate;
        constexpr double pi = 3.14159265358979323846;
        const double notes[] = {1318.51, 1046.50};  // E6, C6
        constexpr std::size_t noteFrames = rate * 3 / 10;
        samples.reserve(noteFrames * 2);
        for (double frequency : notes) {
            for (std::size_t i = 0; i < noteFrames; ++i) {
                const double t = static_cast<double>(i) / rate;
                const double attack = std::min(1.0, t / 0.005);
                const double level = 0.4 * attack * std::exp(-t * 9.0);
                samples.push_back(static_cast<std::int16_t>(32767.0 * level * std::sin(2 * pi * frequency * t)));
            }
        }
    }
};

}  // namespace

const std::vector<std::int16_t>& chime()
{
    return compat::lasting<Chime>().samples;
}

// The desktop sound theme's "bell", looked up in the XDG data directories.
std::vector<std::string> themeBells()
{
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && *dataHome == '/')
        folders.push_back(dataHome);
    else if (home != nullptr && *home == '/')
        folders.push_back(std::string(home) + "/.local/share");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = (dataDirs != nullptr && *dataDirs != '\0') ? dataDirs : "/usr/local/share:/usr/share";
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start && list[start] == '/')
            folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> bells;
    for (const std::string& folder : folders)
        for (const char* ending : {"oga", "ogg", "wav"})
            bells.push_back(folder + "/sounds/freedesktop/stereo/bell." + ending);
    return bells;
}

}  // namespace sound
