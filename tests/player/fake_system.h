// A fixture for the player's modules: the recording fake of the Win32 part
// (fake_win32.h), reset around each test, and the line list the player
// keeps for the whole run, given back after it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fake_win32.h"
#include "lines.h"
#include "playback.h"

class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override
    {
        fake::reset();
        release();
    }

    // The player keeps its list for the whole run; a test gives it back.
    void release()
    {
        for (int i = 0; i < lineCount; ++i)
            std::free(lines[i]);
        std::free(static_cast<void*>(lines));
        lines = nullptr;
        lineCount = 0;
    }

    void collect() { collectLines(&lines, &lineCount, &searchError); }

    // Runs the loop until the fake has seen `plays` file plays.
    void play(int intervalMs, std::size_t plays)
    {
        fake::endRunAfter(plays);
        EXPECT_THROW(playForever(lines, lineCount, intervalMs), fake::EndOfRun);
    }

    void useNames(const std::vector<std::string>& names)
    {
        release();
        fake::folder.clear();
        for (const std::string& name : names)
            fake::folder.push_back({name, false});
        collect();
    }

    char** lines = nullptr;
    int lineCount = 0;
    DWORD searchError = 0;
};
