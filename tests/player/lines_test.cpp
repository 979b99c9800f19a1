// The line list: collecting the recordings the search reports.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <sys/resource.h>

#include "fake_system.h"

namespace {

using Collection = FakeSystem;

// Allows a little more address space than is in use, then collects a folder
// far larger than that.
void collectUnderMemoryCap()
{
    std::ifstream status("/proc/self/statm");
    unsigned long pages = 0;
    status >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (32u << 20);
    const rlimit cap{limit, limit};
    setrlimit(RLIMIT_AS, &cap);
    fake::generatedFiles = 100u << 20;
    char** lines = nullptr;
    int lineCount = 0;
    DWORD searchError = 0;
    collectLines(&lines, &lineCount, &searchError);
    std::exit(0);
}

TEST_F(Collection, CollectsFileNamesInSearchOrderAsCopies)
{
    const std::string longName = std::string(255, 'x') + ".wav";  // 259 characters
    fake::folder = {{"b.wav", false}, {"x.wav", true}, {"A.WAV", false}, {longName, false}, {"a.wav", false}};
    collect();

    EXPECT_EQ(fake::patterns, std::vector<std::string>{"*.wav"});
    ASSERT_EQ(lineCount, 4);
    EXPECT_STREQ(lines[0], "b.wav");
    EXPECT_STREQ(lines[1], "A.WAV");
    EXPECT_STREQ(lines[2], longName.c_str());
    EXPECT_STREQ(lines[3], "a.wav");

    // Each name is its own copy: the search record is reused for every entry.
    std::set<const char*> distinct(lines, lines + lineCount);
    EXPECT_EQ(distinct.size(), 4u);
}

TEST_F(Collection, FindsNothingWhenOnlyDirectoriesMatch)
{
    fake::folder = {{"x.wav", true}};
    collect();
    EXPECT_EQ(lineCount, 0);
    EXPECT_EQ(lines, nullptr);

    fake::folder.clear();
    collect();
    EXPECT_EQ(lineCount, 0);
    EXPECT_EQ(lines, nullptr);
}

TEST_F(Collection, RunningOutOfMemoryWhileCollectingIsAClearError)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
    EXPECT_EXIT(collectUnderMemoryCap(), ::testing::ExitedWithCode(1), "Не хватает памяти");
}

}  // namespace
