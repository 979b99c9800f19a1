// The Windows executables: the 32-bit release build inspected, the 64-bit
// build of the same sources run under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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
    return support::toWindows1251(crlf);
}

// Why a test cannot run here, or empty when it can.
std::string missing(const std::string& file, const char* howToGetIt)
{
    return access(file.c_str(), F_OK) == 0 ? "" : file + " is missing: " + howToGetIt;
}

constexpr const char* buildI686 = "cmake --preset mingw-i686 && cmake --build --preset mingw-i686";
constexpr const char* buildX64 = "cmake --preset mingw-x64 && cmake --build --preset mingw-x64";

TEST(WindowsRelease, IsA32BitConsoleProgramThatAsksForTheInvokersRights)
{
    for (const std::string& reason :
         {missing(LINE_PLAYER_EXE_I686, buildI686),
          missing("/usr/bin/i686-w64-mingw32-objdump", "apt-get install binutils-mingw-w64-i686")})
        if (!reason.empty())
            GTEST_SKIP() << reason;
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
    // A version resource (type 16) that the file's properties show, in UTF-16.
    EXPECT_NE(dump.out.find("Entry: ID: 0x000010"), std::string::npos);
    for (const char* text : {"ProductName", "line_player", "FileVersion", "0.1.0", "MIT License"}) {
        std::string utf16;
        for (const char c : std::string(text))
            utf16 += std::string{c, '\0'};
        EXPECT_NE(image.find(utf16), std::string::npos) << text;
    }
    // Released stripped, with no link time stamp (the same bytes from every
    // build).
    EXPECT_EQ(support::run({"/usr/bin/i686-w64-mingw32-objdump", "-h", LINE_PLAYER_EXE_I686}, "/", {}, 30000)
                  .out.find(".debug"),
              std::string::npos);
    EXPECT_NE(dump.out.find("Time/Date\t\tThu Jan  1 00:00:00 1970"), std::string::npos);
}

constexpr int rate = 44100;

// When the tone first sounds, in seconds, or -1 (support::segments).
double firstHeard(const std::vector<short>& heard, double tone)
{
    const std::vector<support::Segment> stretches = support::segments(heard, {tone});
    return stretches.empty() ? -1 : stretches.front().start;
}

class UnderWine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prefix = new support::TempDir;
        absent = missing(wine, "apt-get install wine64");
        if (absent.empty())
            absent = missing(LINE_PLAYER_EXE_X64, buildX64);
        if (!absent.empty())
            return;
        // A new prefix takes a while to set up; do it once for the suite.
        const support::Ending boot = support::run({wine, "wineboot", "--init"}, "/", wineEnv(), 240000);
        booted = boot.finished && boot.exitCode == 0;
        // The system default sound of this Windows: a 1.5 kHz tone.
        support::writeTone(*prefix / "ding.wav", 1500, 0.4, rate);
        const support::Ending sound =
            support::run({wine, "reg", "add", "HKCU\\AppEvents\\Schemes\\Apps\\.Default\\SystemDefault\\.Current",
                          "/ve", "/d", "Z:" + windowsPath(*prefix / "ding.wav"), "/f"},
                         "/", wineEnv(), 60000);
        booted = booted && sound.exitCode == 0;
    }
    static void TearDownTestSuite()
    {
        if (absent.empty())
            support::run({"/usr/lib/wine/wineserver", "-k"}, "/", wineEnv(), 30000);
        delete prefix;
    }
    void SetUp() override
    {
        if (!absent.empty())
            GTEST_SKIP() << absent;
        ASSERT_TRUE(booted) << "the Wine prefix could not be set up";
    }

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
        EXPECT_TRUE(support::awaitOutput(child, "dream!", received, 60000));
        return support::interrupt(child, 10000);
    }

    static constexpr const char* wine = "/usr/lib/wine/wine64";
    static support::TempDir* prefix;
    static std::string absent;
    static bool booted;
};

support::TempDir* UnderWine::prefix = nullptr;
std::string UnderWine::absent;
bool UnderWine::booted = false;

TEST_F(UnderWine, WritesTheMessagesAsWindows1251AndEndsOnCtrlC)
{
    support::TempDir folder;
    for (const char* name : {"one.wav", "two.wav", "three.wav"})
        support::writeTone(folder / name, 300, 0.2, 8000);
    mkdir((folder / "x.wav").c_str(), 0700);

    const support::Ending none = startup({}, folder.path());
    EXPECT_TRUE(none.finished);
    EXPECT_EQ(none.out, windowsText(support::startupText(300, true, 3)));
    const support::Ending one = startup({"60"}, folder.path());
    EXPECT_TRUE(one.finished);
    EXPECT_EQ(one.out, windowsText(support::startupText(60, false, 3)));
}

TEST_F(UnderWine, AnEmptyFolderEndsWithStatusOneAndTheMessage)
{
    support::TempDir folder;
    mkdir((folder / "x.wav").c_str(), 0700);
    const support::Ending ending = support::run({wine, LINE_PLAYER_EXE_X64, "5"}, folder.path(), wineEnv(), 60000);
    EXPECT_EQ(ending.exitCode, 1);
    EXPECT_EQ(ending.out, windowsText(support::startupText(5, false, 0)));
    EXPECT_EQ(ending.err, windowsText("\nВ папке \"Z:" + windowsPath(folder.path())
                                      + "\" нет ни одного файла *.wav, играть нечего.\n"));
}

TEST_F(UnderWine, PlaysACyrillicFolderAfterTheStartupSoundInTheLinuxBuildsSequence)
{
    support::PulseRig rig;
    if (!rig.running())
        GTEST_SKIP() << "no PulseAudio server could be started";
    // A Russian Windows: its ANSI code page, 1251, holds the names.
    const std::string whyNot = support::makeLocale("ru_RU.UTF-8");
    if (!whyNot.empty())
        GTEST_SKIP() << whyNot;
    support::TempDir folder;
    for (const auto& [name, tone] :
         std::vector<std::pair<std::string, double>>{{"Ночь", 300}, {"море", 500}, {"Ёлка", 700}, {"арбуз", 900}})
        support::writeTone(folder / (name + ".wav"), tone, 0.3, rate);
    // What the Linux build plays in this folder (Program.PlaysACyrillicFolder
    // InTheOrderWindowsListsIt): the draws from seed 42 over Ёлка, арбуз,
    // море, Ночь.
    const std::vector<double> linuxSequence = support::picks<double>({700, 900, 500, 300}, 12);

    std::map<std::string, std::string> env = rig.env();
    env.erase("HOME");
    for (const auto& [variable, value] : support::localeEnv("ru_RU.UTF-8"))
        env[variable] = value;
    // Wine's own processes reach the sound server only when started where
    // it can be found: start them anew here.
    support::run({"/usr/lib/wine/wineserver", "-k"}, "/", wineEnv(), 30000);
    rig.startRecording();
    const support::Child child = support::start({wine, LINE_PLAYER_EXE_X64, "1"}, folder.path(), wineEnv(env));
    const std::vector<double> tones = {300, 500, 700, 900};
    support::SegmentsSoFar lines(tones);
    const bool played =
        support::eventually([&] { return lines.update(rig.settledSoFar()).size() >= linuxSequence.size(); }, 90000);
    kill(child.pid, SIGKILL);
    support::waitForExit(child, 10000);
    const std::vector<short> heard = rig.stopRecording();
    EXPECT_TRUE(played) << "fewer lines were heard than expected";

    const double ding = firstHeard(heard, 1500);
    EXPECT_GE(ding, 0) << "the start-up sound was not heard";
    EXPECT_GT(firstHeard(heard, 300), ding) << "the first line was not heard after the start-up sound";
    std::vector<double> sequence;
    for (const support::Segment& segment : support::segments(heard, tones))
        sequence.push_back(segment.frequency);
    sequence.resize(std::min(sequence.size(), linuxSequence.size()));
    EXPECT_EQ(sequence, linuxSequence);
}

}  // namespace
