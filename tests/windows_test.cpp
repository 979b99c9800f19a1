// The Windows executables: the 32-bit release build inspected, the 64-bit
// build of the same sources run under Wine.

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <iconv.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support.h"

namespace {

// The messages as the Windows program writes them to a file: Windows-1251,
// with the C runtime's CR LF line ends.
std::string windowsText(const std::string& utf8)
{
    std::string crlf;
    for (char c : utf8) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    iconv_t converter = iconv_open("CP1251", "UTF-8");
    std::string out(crlf.size(), '\0');
    char* in = crlf.data();
    std::size_t inLeft = crlf.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(converter, &in, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

std::string startupText(int seconds, bool hint, int count)
{
    std::string text = "\nЕсли только что был слышен системный звук, значит все работает.";
    text += "\nРеплики будут звучать каждые " + std::to_string(seconds) + " секунд.";
    if (hint)
        text += " Задать интервал (в секундах) можно параметром командной строки.";
    text += "\nВсего реплик " + std::to_string(count) + ".";
    text += "\nОтрегулировать громкость голоса можно в \"Микшере громкости\" (динамик в трее).";
    text += "\nЗавершение программы - по Ctrl+C.";
    text += "\n\nHave a nice dream!";
    return text;
}

TEST(WindowsRelease, IsA32BitConsoleProgramThatAsksForTheInvokersRights)
{
    const support::Ending dump =
        support::run({"/usr/bin/i686-w64-mingw32-objdump", "-p", LINE_PLAYER_EXE_I686}, "/", {}, 30000);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_NE(dump.out.find("file format pei-i386"), std::string::npos);
    EXPECT_NE(dump.out.find("(PE32)"), std::string::npos);
    EXPECT_NE(dump.out.find("(Windows CUI)"), std::string::npos);
    // Linked statically: only system libraries are imported.
    std::set<std::string> imports;
    std::istringstream lines(dump.out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("DLL Name: ") != std::string::npos)
            imports.insert(line.substr(line.find("DLL Name: ") + 10));
    EXPECT_EQ(imports, (std::set<std::string>{"KERNEL32.dll", "WINMM.DLL", "msvcrt.dll"}));
    // A manifest resource (type 24, id 1) saying asInvoker, no UI access.
    EXPECT_NE(dump.out.find("Entry: ID: 0x000018"), std::string::npos);
    const std::string image = support::readBytes(LINE_PLAYER_EXE_I686);
    EXPECT_NE(image.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
}

constexpr int rate = 44100;

// How strongly a tone sounds in the 10 ms block at start (Goertzel).
double level(const std::vector<short>& samples, std::size_t start, double frequency)
{
    const std::size_t block = rate / 100;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (std::size_t i = 0; i < block && start + i < samples.size(); ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / (block - 1));
        const double current = window * samples[start + i] / 32768.0 + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return std::sqrt(power) / (block / 4.0);
}

// The first 10 ms block in which the tone sounds, or -1.
long firstBlockWith(const std::vector<short>& heard, double frequency)
{
    for (std::size_t start = 0; start + rate / 100 <= heard.size(); start += rate / 100)
        if (level(heard, start, frequency) > 0.2)
            return static_cast<long>(start / (rate / 100));
    return -1;
}

class UnderWine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prefix = new support::TempDir;
        // A new prefix takes a while to set up; do it once for the suite.
        const support::Ending boot = support::run({wine, "wineboot", "--init"}, "/", wineEnv(), 240000);
        booted = boot.finished && boot.exitCode == 0;
        // The system default sound of this Windows: a 1 kHz tone.
        support::writeTone(*prefix / "ding.wav", 1000, 0.4, rate);
        const support::Ending sound = support::run(
            {wine, "reg", "add", "HKCU\\AppEvents\\Schemes\\Apps\\.Default\\SystemDefault\\.Current", "/ve", "/d",
             "Z:" + windowsPath(*prefix / "ding.wav"), "/f"},
            "/", wineEnv(), 60000);
        booted = booted && sound.exitCode == 0;
    }
    static void TearDownTestSuite()
    {
        support::run({"/usr/lib/wine/wineserver", "-k"}, "/", wineEnv(), 30000);
        delete prefix;
    }
    void SetUp() override { ASSERT_TRUE(booted) << "the Wine prefix could not be set up"; }

    static std::string windowsPath(std::string path)
    {
        for (char& c : path)
            c = c == '/' ? '\\' : c;
        return path;
    }
    static std::map<std::string, std::string> wineEnv(std::map<std::string, std::string> env = {})
    {
        env["WINEPREFIX"] = prefix->path();
        env["WINEDEBUG"] = "-all";
        env["DISPLAY"] = "";
        return env;
    }
    // Standard output of a run ended during its first wait.
    static support::Ending startup(const std::vector<std::string>& args, const std::string& folder)
    {
        std::vector<std::string> argv = {wine, LINE_PLAYER_EXE_X64};
        argv.insert(argv.end(), args.begin(), args.end());
        const support::Child child = support::start(argv, folder, wineEnv());
        std::string received;
        EXPECT_TRUE(support::eventually(
            [&] { return support::outputSoFar(child, received).find("dream!") != std::string::npos; }, 60000));
        kill(child.pid, SIGINT);
        return support::wait(child, 10000);
    }

    static constexpr const char* wine = "/usr/lib/wine/wine64";
    static support::TempDir* prefix;
    static bool booted;
};

support::TempDir* UnderWine::prefix = nullptr;
bool UnderWine::booted = false;

TEST_F(UnderWine, WritesTheMessagesAsWindows1251AndEndsOnCtrlC)
{
    support::TempDir folder;
    for (const char* name : {"one.wav", "two.wav", "three.wav"})
        support::writeTone(folder / name, 300, 0.2, 8000);
    mkdir((folder / "x.wav").c_str(), 0700);

    const support::Ending none = startup({}, folder.path());
    EXPECT_TRUE(none.finished);
    EXPECT_EQ(none.out, windowsText(startupText(300, true, 3)));
    const support::Ending one = startup({"60"}, folder.path());
    EXPECT_TRUE(one.finished);
    EXPECT_EQ(one.out, windowsText(startupText(60, false, 3)));
}

TEST_F(UnderWine, AnEmptyFolderEndsWithStatusOneAndTheMessage)
{
    support::TempDir folder;
    mkdir((folder / "x.wav").c_str(), 0700);
    const support::Ending ending = support::run({wine, LINE_PLAYER_EXE_X64, "5"}, folder.path(), wineEnv(), 60000);
    EXPECT_EQ(ending.exitCode, 1);
    EXPECT_EQ(ending.out, windowsText(startupText(5, false, 0)));
    EXPECT_EQ(ending.err, windowsText("\nВ папке \"Z:" + windowsPath(folder.path())
                                      + "\" нет ни одного файла *.wav, играть нечего.\n"));
}

TEST_F(UnderWine, TheStartupSoundThenTheLinesReachTheSoundServer)
{
    support::PulseRig rig;
    if (!rig.running())
        GTEST_SKIP() << "no PulseAudio server could be started";
    support::TempDir folder;
    support::writeTone(folder / "line.wav", 300, 0.5, rate);

    std::map<std::string, std::string> env = rig.env();
    env.erase("HOME");
    // Wine's own processes reach the sound server only when started where
    // it can be found: start them anew here.
    support::run({"/usr/lib/wine/wineserver", "-k"}, "/", wineEnv(), 30000);
    rig.startRecording();
    const support::Child child = support::start({wine, LINE_PLAYER_EXE_X64, "1"}, folder.path(), wineEnv(env));
    support::sleepThenCheck(6000);
    kill(child.pid, SIGKILL);
    const support::Ending ending = support::wait(child, 10000);
    const std::vector<short> heard = rig.stopRecording();
    EXPECT_TRUE(ending.finished);

    const long ding = firstBlockWith(heard, 1000);
    const long line = firstBlockWith(heard, 300);
    EXPECT_GE(ding, 0) << "the start-up sound was not heard";
    EXPECT_GT(line, ding) << "the line was not heard after the start-up sound";
}

}  // namespace
