// The built line_player, end to end, in temporary folders of recordings,
// with the "default" sound device sent to files.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support.h"

namespace {

// The rates of the recordings the run played, in order (the start-up sound,
// at 44100 Hz, left out).
std::vector<unsigned> playedRates(const support::AlsaRig& rig)
{
    std::vector<unsigned> rates;
    for (const support::Capture& capture : rig.captures())
        if (capture.rate != 44100)
            rates.push_back(capture.rate);
    return rates;
}

// A folder of three recordings told apart by their rates, a directory that
// matches the pattern, and a file that does not.
void fillFolder(const support::TempDir& dir)
{
    support::writeTone(dir / "one.wav", 440, 0.2, 8000);
    support::writeTone(dir / "Two.WAV", 550, 0.2, 11025);
    support::writeTone(dir / "three.wav", 660, 0.2, 16000);
    mkdir((dir / "folder.wav").c_str(), 0700);
    support::writeTone(dir / "notes.aiff", 770, 0.2, 22050, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
}

std::vector<unsigned> runUntilPlayed(const support::TempDir& dir, std::size_t plays)
{
    support::AlsaRig rig;
    const support::Child child = support::start({LINE_PLAYER, "0"}, dir.path(), rig.env());
    const bool played = support::eventually([&] { return playedRates(rig).size() >= plays; }, 20000);
    kill(child.pid, SIGINT);
    const support::Ending ending = support::wait(child, 5000);
    EXPECT_TRUE(played);
    EXPECT_TRUE(ending.finished);
    EXPECT_EQ(ending.signal, SIGINT);
    EXPECT_EQ(ending.err, "");
    std::vector<unsigned> rates = playedRates(rig);
    rates.resize(plays);
    return rates;
}

TEST(Program, PlaysTheFolderRecordingsInTheSameSequenceOnEveryRun)
{
    support::TempDir dir;
    fillFolder(dir);
    const std::vector<unsigned> first = runUntilPlayed(dir, 30);
    EXPECT_EQ(std::set<unsigned>(first.begin(), first.end()), (std::set<unsigned>{8000, 11025, 16000}));
    EXPECT_EQ(runUntilPlayed(dir, 30), first);

    // The C library's generator seeded with 42 draws them, over the folder in
    // name order (one, three, Two), with nothing else drawing from it.
    const unsigned byName[] = {8000, 16000, 11025};
    std::srand(42);
    std::vector<unsigned> drawn;
    for (int turn = 0; turn < 30; ++turn)
        drawn.push_back(byName[std::rand() % 3]);
    EXPECT_EQ(first, drawn);
}

TEST(Program, EndsAtOnceOnSigintDuringTheWait)
{
    support::TempDir dir;
    fillFolder(dir);
    support::AlsaRig rig;
    const support::Child child = support::start({LINE_PLAYER, "100"}, dir.path(), rig.env());
    // The announcements reach the output file just before the first wait.
    EXPECT_TRUE(support::eventually(
        [&] { return support::readBytes(child.outPath).find("Have a nice dream!") != std::string::npos; }, 10000));
    kill(child.pid, SIGINT);
    const support::Ending ending = support::wait(child, 2000);
    EXPECT_TRUE(ending.finished);
    EXPECT_EQ(ending.signal, SIGINT);
    EXPECT_EQ(playedRates(rig), std::vector<unsigned>{});
}

TEST(Program, AnEmptyFolderEndsWithStatusOneAndSaysWhere)
{
    support::TempDir dir;
    mkdir((dir / "folder.wav").c_str(), 0700);
    support::AlsaRig rig;
    const support::Ending ending = support::run({LINE_PLAYER, "1"}, dir.path(), rig.env(), 10000);
    EXPECT_TRUE(ending.finished);
    EXPECT_EQ(ending.exitCode, 1);
    EXPECT_NE(ending.out.find("\nВсего реплик 0."), std::string::npos) << ending.out;
    EXPECT_EQ(ending.err, "\nВ папке \"" + dir.path() + "\" нет ни одного файла *.wav, играть нечего.\n");
}

}  // namespace
