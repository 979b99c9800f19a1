// The endless loop: draws, waits and plays, in that order.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "compat/crt.h"
#include "fake_system.h"
#include "support/draws.h"

namespace {

using Playback = FakeSystem;

TEST_F(Playback, DrawsWithSeed42ThenWaitsThenPlaysSynchronously)
{
    useNames({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
    play(60000, 40);

    const std::vector<std::string> drawn = support::picks<std::string>({"a", "b", "c", "d", "e"}, 40);
    ASSERT_EQ(fake::calls.size(), 80u);
    for (std::size_t turn = 0; turn < 40; ++turn) {
        const fake::Call& wait = fake::calls[2 * turn];
        const fake::Call& sound = fake::calls[2 * turn + 1];
        EXPECT_EQ(wait.kind, fake::Call::Wait);
        EXPECT_EQ(wait.milliseconds, 60000u);
        EXPECT_EQ(sound.kind, fake::Call::Play);
        EXPECT_EQ(sound.flags, static_cast<DWORD>(SND_FILENAME));
        EXPECT_EQ(sound.name, drawn[turn] + ".wav") << "turn " << turn;
    }
}

TEST_F(Playback, TwoRunsOverTheSameListPlayTheSameSequence)
{
    useNames({"one.wav", "two.wav", "three.wav", "four.wav"});
    play(0, 100);
    const std::vector<std::string> first = fake::playedNames();
    crt::srand(7);  // whatever happened to the generator between runs
    play(0, 100);
    EXPECT_EQ(fake::playedNames(), first);
}

TEST_F(Playback, DrawsBeforeWaiting)
{
    // Reseeding inside the wait tells the order apart: a turn drawn before
    // its wait takes the value before the reseed.
    useNames({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav", "f.wav", "g.wav"});
    fake::onSleep = [] { crt::srand(1001); };
    play(1000, 3);

    // The first draw from seed 42 picks a (175 % 7), from seed 1001 d.
    EXPECT_EQ(fake::playedNames(), (std::vector<std::string>{"a.wav", "d.wav", "d.wav"}));
}

TEST_F(Playback, EveryLineComesUpAndASingleLineAlwaysPlays)
{
    useNames({"a.wav", "b.wav", "c.wav"});
    play(0, 100);
    const std::vector<std::string> names = fake::playedNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"a.wav", "b.wav", "c.wav"}));

    useNames({"only.wav"});
    play(0, 20);
    EXPECT_EQ(fake::playedNames(), std::vector<std::string>(20, "only.wav"));
}

TEST_F(Playback, ANegativeIntervalIsWaitedAsAnUnsignedCount)
{
    useNames({"a.wav"});
    play(-5000, 1);
    ASSERT_FALSE(fake::calls.empty());
    EXPECT_EQ(fake::calls[0].milliseconds, 4294962296u);

    play(-1294967296, 1);  // 3000000 s wrapped
    EXPECT_EQ(fake::calls[0].milliseconds, 3000000000u);
}

}  // namespace
