// A long run: twenty thousand back-to-back turns through ALSA (the file
// plug-in, no real time), with the player's resident memory and open
// descriptors sampled every thousand plays: both must stay flat.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support.h"

namespace {

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

int openDescriptors(pid_t pid)
{
    int count = 0;
    if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* entry = readdir(fds))
            count += entry->d_name[0] != '.' ? 1 : 0;
        closedir(fds);
    }
    return count;
}

std::size_t lineCount(const std::string& path)
{
    const std::string text = support::readBytes(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(Soak, ThousandsOfTurnsLeaveMemoryAndDescriptorsFlat)
{
    support::TempDir home;
    // Every stream is counted (one line per play) and thrown away.
    support::writeBytes(home / "count.sh", "#!/bin/sh\nexec wc -c >> \"" + (home / "plays") + "\"\n");
    chmod((home / "count.sh").c_str(), 0700);
    support::writeBytes(home / ".asoundrc", "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"|"
                                                + (home / "count.sh") + "\"\n  format \"raw\"\n}\n");
    // Lines of 2 ms: a play lasts as long as its sound on this device too.
    support::TempDir folder;
    for (int i = 0; i < 3; ++i)
        support::writeTone(folder / ("line" + std::to_string(i) + ".wav"), 300 + 100 * i, 0.002, 8000);

    const support::Child child =
        support::start({LINE_PLAYER, "0"}, folder.path(), {{"HOME", home.path()}, {"XDG_DATA_DIRS", home / "none"}});
    // A sample of both every thousand plays, up to twenty thousand (about a
    // minute here), however long a busy machine takes for them
    // (within minutes).
    constexpr std::size_t plays = 20000, every = 1000;
    std::vector<long> memory;
    std::vector<int> descriptors;
    support::eventually(
        [&] {
            if (lineCount(home / "plays") >= (memory.size() + 1) * every) {
                memory.push_back(residentKiB(child.pid));
                descriptors.push_back(openDescriptors(child.pid));
            }
            return memory.size() >= plays / every;
        },
        240000);
    const support::Ending ending = support::interrupt(child, 5000);
    EXPECT_EQ(ending.signal, SIGINT);
    ASSERT_EQ(memory.size(), plays / every) << "fewer than " << plays << " plays in four minutes";

    // After the first tenth (caches filled), nothing grows but by a step or
    // two: a play's thread that overlaps the last one's end may be given an
    // allocation arena of its own, once (on a busy machine, later). A leak of
    // even one allocation a play (32 bytes or more) is 18,000 of them, over
    // 560 KiB.
    const auto settled = memory.begin() + static_cast<long>(memory.size() / 10);
    const long low = *std::min_element(settled, memory.end());
    const long high = *std::max_element(settled, memory.end());
    EXPECT_GT(low, 0);
    EXPECT_LE(high - low, 256) << "resident memory grew from " << low << " KiB to " << high << " KiB over " << plays
                               << " plays";
    // A play holds a few descriptors while it runs, so a sample may catch one
    // more or fewer: the usual count of the second half (its median) must
    // not pass the most seen in the first. A leak, even one in a hundred
    // plays, lifts it far beyond that.
    const auto half = descriptors.begin() + static_cast<long>(descriptors.size() / 2);
    std::vector<int> later(half, descriptors.end());
    std::nth_element(later.begin(), later.begin() + static_cast<long>(later.size() / 2), later.end());
    EXPECT_LE(later[later.size() / 2],
              *std::max_element(descriptors.begin() + static_cast<long>(descriptors.size() / 10), half));
    ::testing::Test::RecordProperty("residentKiB", static_cast<int>(high));
}

}  // namespace
