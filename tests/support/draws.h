// The draws that pick a run's lines: the Windows C runtime's rand() after
// srand(42), which the player follows on every system.
#pragma once

#include <cstddef>
#include <vector>

namespace support {

// Its first 40 values, as the Windows C runtime gives them.
constexpr int windowsDrawsFrom42[] = {175,   400,   17869, 30056, 16083, 12879, 8016,  7644,  15809, 1769,
                                      32409, 29950, 13471, 7099,  2336,  23225, 21188, 13712, 14351, 19676,
                                      8907,  26730, 29686, 25607, 9190,  7040,  6336,  6091,  3445,  3715,
                                      30182, 3597,  28888, 17445, 7906,  31147, 11649, 30172, 8167,  19555};

// The lines a run plays, turn by turn, from a folder of recordings (in the
// order the folder lists them).
template <typename Line>
std::vector<Line> picks(const std::vector<Line>& folder, std::size_t turns)
{
    std::vector<Line> played;
    for (std::size_t turn = 0; turn < turns; ++turn)
        played.push_back(folder[static_cast<std::size_t>(windowsDrawsFrom42[turn]) % folder.size()]);
    return played;
}

}  // namespace support
