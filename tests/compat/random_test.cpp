// The player's draws: the Windows C runtime's generator, out of reach of
// other code in the process.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <thread>
#include <vector>

#include "compat/crt.h"
#include "support/draws.h"

namespace {

TEST(Generator, GivesTheWindowsCRuntimeSequenceWhateverOtherThreadsDraw)
{
    const std::vector<int> windows(std::begin(support::windowsDrawsFrom42), std::end(support::windowsDrawsFrom42));
    // Sound libraries seed and draw from the C library's generator on threads
    // of their own (PipeWire's sample converter does, for every stream).
    std::atomic<bool> done{false};
    std::thread other([&] {
        for (unsigned seed = 0; !done; ++seed) {
            std::srand(seed);
            srandom(seed);
            (void)std::rand();
            (void)random();
        }
    });
    std::vector<int> drawn;
    for (int round = 0; round < 1000; ++round) {
        crt::srand(42);
        drawn.clear();
        for (std::size_t i = 0; i < windows.size(); ++i)
            drawn.push_back(crt::rand());
        if (drawn != windows)
            break;
    }
    done = true;
    other.join();
    EXPECT_EQ(drawn, windows);
}

}  // namespace
