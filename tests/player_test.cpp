// The player's logic against the recording fake of its Win32 part.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <atomic>
#include <vector>

#include "compat/crt.h"
#include "fake_win32.h"
#include "announce.h"
#include "lines.h"
#include "playback.h"
#include "settings.h"
#include "support.h"
#include "windows1251.h"

namespace {

int intervalFor(std::vector<std::string> args)
{
    args.insert(args.begin(), "line_player");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return readIntervalMs(static_cast<int>(args.size()), argv.data());
}

TEST(Interval, OneArgumentIsReadAsSecondsByTheAtoiRule)
{
    EXPECT_EQ(intervalFor({"60"}), 60000);
    EXPECT_EQ(intervalFor({"7s"}), 7000);
    EXPECT_EQ(intervalFor({"  \t+12"}), 12000);
    EXPECT_EQ(intervalFor({"0"}), 0);
    EXPECT_EQ(intervalFor({"abc"}), 0);
    EXPECT_EQ(intervalFor({""}), 0);
    EXPECT_EQ(intervalFor({"-5"}), -5000);
    EXPECT_EQ(intervalFor({"- 5"}), 0);
}

TEST(Interval, AnyOtherArgumentCountKeepsTheDefault)
{
    EXPECT_EQ(intervalFor({}), 300000);
    EXPECT_EQ(intervalFor({"60", "90"}), 300000);
    EXPECT_EQ(intervalFor({"1", "2", "3"}), 300000);
}

TEST(Interval, TheProductWrapsInThirtyTwoBits)
{
    EXPECT_EQ(intervalFor({"3000000"}), -1294967296);
    EXPECT_EQ(intervalFor({"2147483"}), 2147483000);
    EXPECT_EQ(intervalFor({"2147484"}), INT_MIN + 352);
}

TEST(Interval, DigitsBeyondThirtyTwoBitsSaturateBeforeTheProduct)
{
    EXPECT_EQ(readWholeNumber("2147483647"), INT_MAX);
    EXPECT_EQ(readWholeNumber("2147483648"), INT_MAX);
    EXPECT_EQ(readWholeNumber("-2147483648"), INT_MIN);
    EXPECT_EQ(readWholeNumber("-2147483649"), INT_MIN);
    EXPECT_EQ(readWholeNumber("99999999999999999999999999"), INT_MAX);
    EXPECT_EQ(readWholeNumber("000000000000000000000000042"), 42);
    // INT_MAX * 1000 and INT_MIN * 1000 modulo 2^32.
    EXPECT_EQ(intervalFor({"99999999999"}), -1000);
    EXPECT_EQ(intervalFor({"-99999999999"}), 0);
}

// The messages' charset, against iconv: the table the terminal output is
// made from, and the conversion the compiler makes of the texts.
TEST(Windows1251, TheTableAndTheCompileTimeConversionAgreeWithIconv)
{
    std::string utf8;
    std::string bytes;
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
        const char32_t code = windows1251::upperHalf[byte - 0x80];
        if (byte == 0x98)
            continue;
        if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
        } else {
            utf8 += static_cast<char>(0xE0 | (code >> 12));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        }
        utf8 += static_cast<char>(0x80 | (code & 0x3F));
        bytes += static_cast<char>(byte);
        EXPECT_EQ(windows1251::encode(code), static_cast<char>(byte)) << "byte " << byte;
    }
    EXPECT_EQ(support::toWindows1251(utf8), bytes);

#define LETTERS "Ёё АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ абвгдежзийклмнопрстуфхцчшщъыьэюя «№ – —» %d \"\n"
    constexpr auto converted = windows1251::fromUtf8(LETTERS);
    EXPECT_EQ(std::string(converted.bytes), support::toWindows1251(LETTERS));
#undef LETTERS
}

TEST(Generator, GivesTheWindowsCRuntimeSequenceWhateverOtherThreadsDraw)
{
    // The first draws of the Windows C runtime after srand(42).
    const std::vector<int> windows = {175, 400, 17869, 30056, 16083, 12879, 8016, 7644};
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

class Player : public ::testing::Test {
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

TEST_F(Player, CollectsFileNamesInSearchOrderAsCopies)
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

TEST_F(Player, FindsNothingWhenOnlyDirectoriesMatch)
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

TEST_F(Player, RunningOutOfMemoryWhileCollectingIsAClearError)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
    EXPECT_EXIT(collectUnderMemoryCap(), ::testing::ExitedWithCode(1), "Не хватает памяти");
}

TEST_F(Player, DrawsWithSeed42ThenWaitsThenPlaysSynchronously)
{
    useNames({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
    play(60000, 40);

    crt::srand(42);
    ASSERT_EQ(fake::calls.size(), 80u);
    for (std::size_t turn = 0; turn < 40; ++turn) {
        const fake::Call& wait = fake::calls[2 * turn];
        const fake::Call& sound = fake::calls[2 * turn + 1];
        EXPECT_EQ(wait.kind, fake::Call::Wait);
        EXPECT_EQ(wait.milliseconds, 60000u);
        EXPECT_EQ(sound.kind, fake::Call::Play);
        EXPECT_EQ(sound.flags, static_cast<DWORD>(SND_FILENAME));
        EXPECT_EQ(sound.name, lines[crt::rand() % 5]) << "turn " << turn;
    }
}

TEST_F(Player, TwoRunsOverTheSameListPlayTheSameSequence)
{
    useNames({"one.wav", "two.wav", "three.wav", "four.wav"});
    play(0, 100);
    const std::vector<std::string> first = fake::playedNames();
    crt::srand(7);  // whatever happened to the generator between runs
    play(0, 100);
    EXPECT_EQ(fake::playedNames(), first);
}

TEST_F(Player, DrawsBeforeWaiting)
{
    // Reseeding inside the wait tells the order apart: a turn drawn before
    // its wait takes the value before the reseed.
    useNames({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav", "f.wav", "g.wav"});
    fake::onSleep = [] { crt::srand(1001); };
    play(1000, 3);

    crt::srand(42);
    const int firstPick = crt::rand() % 7;
    crt::srand(1001);
    const int laterPick = crt::rand() % 7;
    ASSERT_NE(firstPick, laterPick) << "the two seeds must give different picks to tell the order";
    const std::vector<std::string> names = fake::playedNames();
    EXPECT_EQ(names, (std::vector<std::string>{lines[firstPick], lines[laterPick], lines[laterPick]}));
}

TEST_F(Player, EveryLineComesUpAndASingleLineAlwaysPlays)
{
    useNames({"a.wav", "b.wav", "c.wav"});
    play(0, 100);
    const std::vector<std::string> names = fake::playedNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"a.wav", "b.wav", "c.wav"}));

    useNames({"only.wav"});
    play(0, 20);
    EXPECT_EQ(fake::playedNames(), std::vector<std::string>(20, "only.wav"));
}

TEST_F(Player, ANegativeIntervalIsWaitedAsAnUnsignedCount)
{
    useNames({"a.wav"});
    play(-5000, 1);
    ASSERT_FALSE(fake::calls.empty());
    EXPECT_EQ(fake::calls[0].milliseconds, 4294962296u);

    play(intervalFor({"3000000"}), 1);
    EXPECT_EQ(fake::calls[0].milliseconds, 3000000000u);
}

TEST_F(Player, NoLinesSaysWhyAndShowsTheFolderWithoutControlCharacters)
{
    fake::currentFolder = "/home/\x1b]0;owned\x07x";
    collect();
    EXPECT_EQ(searchError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EXIT(exitNoLines(searchError), ::testing::ExitedWithCode(1),
                "В папке \"/home/\\\\x1B\\]0;owned\\\\x07x\" нет ни одного файла \\*\\.wav, играть нечего");
    // Only directories: none found either.
    fake::folder = {{"x.wav", true}};
    collect();
    EXPECT_EQ(searchError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A folder that cannot be read says why.
    fake::folder.clear();
    fake::searchError = ERROR_ACCESS_DENIED;
    collect();
    EXPECT_EXIT(exitNoLines(searchError), ::testing::ExitedWithCode(1), "не удалось прочитать \\(нет доступа\\)");
    fake::searchError = ERROR_READ_FAULT;
    collect();
    EXPECT_EXIT(exitNoLines(searchError), ::testing::ExitedWithCode(1), "не удалось прочитать \\(ошибка 30\\)");
}

}  // namespace
