// The Windows executables: the 32-bit release as the zip holds it,
// inspected; and run under Wine, the 64-bit build of the same sources under
// this system's wine64, or (built with UNDER_WINE32) the release's 32-bit
// executable under Debian 12's 32-bit Wine in an i386 root
// (tests/rigs/wine32-root.sh).

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

constexpr const char* buildZip = "scripts/package.sh --zip";

// The executable the release zip holds, taken out into folder; why it could
// not be, or empty.
std::string takeOutOfTheZip(const support::TempDir& folder)
{
    for (const std::string& reason :
         {missing(LINE_PLAYER_RELEASE_ZIP, buildZip), missing("/usr/bin/unzip", "apt-get install unzip")})
        if (!reason.empty())
            return reason;
    const support::Ending unzip = support::run(
        {"/usr/bin/unzip", "-j", LINE_PLAYER_RELEASE_ZIP, "*/line_player.exe", "-d", folder.path()}, "/", {}, 30000);
    return unzip.exitCode == 0 ? "" : "the release zip holds no line_player.exe: " + unzip.out + unzip.err;
}

#if !defined(UNDER_WINE32)
TEST(WindowsRelease, IsA32BitConsoleProgramForVistaAndLaterThatAsksForTheInvokersRights)
{
    support::TempDir release;
    for (const std::string& reason : {takeOutOfTheZip(release), missing("/usr/bin/i686-w64-mingw32-objdump",
                                                                        "apt-get install binutils-mingw-w64-i686")})
        if (!reason.empty())
            GTEST_SKIP() << reason;
    const std::string exe = release / "line_player.exe";
    const support::Ending dump = support::run({"/usr/bin/i686-w64-mingw32-objdump", "-p", exe}, "/", {}, 30000);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_NE(dump.out.find("file format pei-i386"), std::string::npos);
    EXPECT_NE(dump.out.find("(PE32)"), std::string::npos);
    EXPECT_NE(dump.out.find("(Windows CUI)"), std::string::npos);
    // The oldest Windows it runs on: Vista (6.0), the first with what it
    // imports (GetTickCount64).
    for (const char* field : {"MajorOSystemVersion\t6\n", "MinorOSystemVersion\t0\n", "MajorSubsystemVersion\t6\n",
                              "MinorSubsystemVersion\t0\n"})
        EXPECT_NE(dump.out.find(field), std::string::npos) << field;
    // Linked statically: only system libraries are imported.
    std::set<std::string> imports;
    std::istringstream lines(dump.out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("DLL Name: ") != std::string::npos)
            imports.insert(line.substr(line.find("DLL Name: ") + 10));
    EXPECT_EQ(imports, (std::set<std::string>{"KERNEL32.dll", "WINMM.DLL", "msvcrt.dll"}));
    // A manifest resource (type 24, id 1) saying asInvoker, no UI access.
    EXPECT_NE(dump.out.find("Entry: ID: 0x000018"), std::string::npos);
    const std::string image = support::readBytes(exe);
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
    EXPECT_EQ(support::run({"/usr/bin/i686-w64-mingw32-objdump", "-h", exe}, "/", {}, 30000).out.find(".debug"),
              std::string::npos);
    EXPECT_NE(dump.out.find("Time/Date\t\tThu Jan  1 00:00:00 1970"), std::string::npos);
}
#endif

constexpr int rate = 44100;

// When the tone first sounds, in seconds, or -1 (support::segments).
double firstHeard(const std::vector<short>& heard, double tone)
{
    const std::vector<support::Segment> stretches = support::segments(heard, {tone});
    return stretches.empty() ? -1 : stretches.front().start;
}

// The tone of each line heard, of 0.3 s lines played at interval 1: their
// starts are at least 1.3 s apart, so a tone that comes back within a second
// of its line's start is that line, broken by a buffer Wine delivered late on
// a busy machine (one came back over half a second after its line's start
// under a load of 5 on two cores).
std::vector<double> linesPlayedASecondApart(const std::vector<support::Segment>& heard)
{
    std::vector<double> lines;
    double lastStart = -1;
    for (const support::Segment& segment : heard) {
        if (!lines.empty() && segment.frequency == lines.back() && segment.start - lastStart < 1.0)
            continue;
        lines.push_back(segment.frequency);
        lastStart = segment.start;
    }
    return lines;
}

// How the Windows program runs here, and why it cannot (empty when it can).
struct WindowsBuild {
    std::string why;
    std::vector<std::string> where;             // what runs a command where Wine is (nothing: here)
    std::string wine;                           // the command that runs a Windows program there
    std::string exe;                            // the program's path, as Wine is given it
    std::map<std::string, std::string> locale;  // the Russian locale Wine runs in
    const char* namesCharset;                   // the charset of the names it reads
    std::vector<std::string> there(const std::vector<std::string>& argv) const
    {
        std::vector<std::string> command = where;
        command.insert(command.end(), argv.begin(), argv.end());
        return command;
    }
    std::vector<std::string> inWine(std::vector<std::string> argv) const
    {
        argv.insert(argv.begin(), wine);
        return there(argv);
    }
};

#if defined(UNDER_WINE32)
// The release's 32-bit executable under Debian 12's 32-bit Wine, in its i386
// root; the names in Windows-1251, as a Russian Windows has them.
WindowsBuild theBuild(const support::TempDir& folder)
{
    WindowsBuild build;
    build.where = {WINE32_SCRIPT, "run", WINE32_ROOT};
    build.wine = "/usr/lib/wine/wine";
    build.why = missing(WINE32_ROOT "/usr/lib/wine/wine", "tests/rigs/wine32-root.sh make " WINE32_ROOT " (as root)");
    if (build.why.empty()) {
        // Entering the root takes root, or user namespaces.
        const support::Ending entered =
            support::run({WINE32_SCRIPT, "run", WINE32_ROOT, "/bin/true"}, "/tmp", {}, 30000);
        if (entered.exitCode != 0)
            build.why = "cannot enter the i386 root: " + entered.err;
    }
    if (build.why.empty())
        build.why = takeOutOfTheZip(folder);
    build.exe = folder / "line_player.exe";
    // The root's own locale, made with it.
    build.locale = {{"LC_ALL", ""},   {"LC_CTYPE", ""},         {"LC_MESSAGES", ""},
                    {"LANGUAGE", ""}, {"LANG", "ru_RU.CP1251"}, {"LOCPATH", ""}};
    build.namesCharset = "CP1251";
    return build;
}
#else
constexpr const char* buildX64 = "cmake --preset mingw-x64 && cmake --build --preset mingw-x64";

// The 64-bit build under this system's wine64, in a Russian UTF-8 locale.
WindowsBuild theBuild(const support::TempDir&)
{
    WindowsBuild build;
    build.wine = "/usr/lib/wine/wine64";
    build.why = missing(build.wine, "apt-get install wine64");
    if (build.why.empty())
        build.why = missing(LINE_PLAYER_EXE_X64, buildX64);
    if (build.why.empty())
        build.why = support::makeLocale("ru_RU.UTF-8");
    build.exe = LINE_PLAYER_EXE_X64;
    build.locale = support::localeEnv("ru_RU.UTF-8");
    build.namesCharset = "UTF-8";
    return build;
}
#endif

// A Wine prefix, set up once for the suite, whose Windows has a default
// sound: a 1.5 kHz tone.
class UnderWine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prefix = new support::TempDir;
        build = new WindowsBuild(theBuild(*prefix));
        if (!build->why.empty())
            return;
        // A new prefix takes a while to set up; do it once for the suite.
        const support::Ending boot = support::run(build->inWine({"wineboot", "--init"}), "/", wineEnv(), 240000);
        booted = boot.finished && boot.exitCode == 0;
        // The default sound, as Windows (".Default") and Wine's PlaySound
        // (SystemDefault, for SND_ALIAS_SYSTEMDEFAULT) look for it.
        support::writeTone(*prefix / "ding.wav", 1500, 2.0, rate);
        for (const char* event : {".Default", "SystemDefault"}) {
            const support::Ending sound = support::run(
                build->inWine({"reg", "add",
                               std::string("HKCU\\AppEvents\\Schemes\\Apps\\.Default\\") + event + "\\.Current", "/ve",
                               "/d", "Z:" + windowsPath(*prefix / "ding.wav"), "/f"}),
                "/", wineEnv(), 60000);
            booted = booted && sound.exitCode == 0;
        }
    }
    static void TearDownTestSuite()
    {
        if (build->why.empty())
            stopWineserver();
        delete build;
        delete prefix;
    }
    void SetUp() override
    {
        if (!build->why.empty())
            GTEST_SKIP() << build->why;
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
    // Wine's own processes reach a sound server only when started where it
    // can be found: ended here, they are started anew by the next run.
    // -k returns before the server has gone: a client started meanwhile may
    // reach the dying one, so wait (-w).
    static void stopWineserver()
    {
        for (const char* how : {"-k", "-w"})
            support::run(build->there({"/usr/lib/wine/wineserver", how}), "/", wineEnv(), 30000);
    }
    static std::vector<std::string> player(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {build->exe};
        argv.insert(argv.end(), args.begin(), args.end());
        return build->inWine(argv);
    }
    // Standard output of a run ended during its first wait.
    static support::Ending startup(const std::vector<std::string>& args, const std::string& folder)
    {
        const support::Child child = support::start(player(args), folder, wineEnv());
        std::string received;
        EXPECT_TRUE(support::awaitOutput(child, "dream!", received, 60000));
        return support::interrupt(child, 10000);
    }
    // The environment of a run on rig: its sound server, a Russian locale.
    static std::map<std::string, std::string> rigEnv(const support::PulseRig& rig)
    {
        std::map<std::string, std::string> env = rig.env();
        for (const auto& [variable, value] : build->locale)
            env[variable] = value;
        return wineEnv(env);
    }

    static support::TempDir* prefix;
    static WindowsBuild* build;
    static bool booted;
};

support::TempDir* UnderWine::prefix = nullptr;
WindowsBuild* UnderWine::build = nullptr;
bool UnderWine::booted = false;

TEST_F(UnderWine, WritesTheMessagesAsWindows1251AndEndsOnCtrlC)
{
    support::TempDir folder;
    for (const char* name : {"one.wav", "two.wav", "three.wav"})
        support::writeTone(folder / name, 300, 0.2, 8000);
    mkdir((folder / "x.wav").c_str(), 0700);

    // No argument, one, two (the default interval, and no hint).
    const support::Ending none = startup({}, folder.path());
    EXPECT_TRUE(none.finished) << "Ctrl+C did not end it";
    EXPECT_EQ(none.out, windowsText(support::startupText(300, true, 3)));
    const support::Ending one = startup({"60"}, folder.path());
    EXPECT_TRUE(one.finished) << "Ctrl+C did not end it";
    EXPECT_EQ(one.out, windowsText(support::startupText(60, false, 3)));
    const support::Ending two = startup({"60", "90"}, folder.path());
    EXPECT_TRUE(two.finished) << "Ctrl+C did not end it";
    EXPECT_EQ(two.out, windowsText(support::startupText(300, false, 3)));
}

TEST_F(UnderWine, AnEmptyFolderEndsWithStatusOneAndTheMessage)
{
    support::TempDir folder;
    mkdir((folder / "x.wav").c_str(), 0700);
    const support::Ending ending = support::run(player({"5"}), folder.path(), wineEnv(), 60000);
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
    support::TempDir folder;
    for (const auto& [name, tone] :
         std::vector<std::pair<std::string, double>>{{"Ночь", 300}, {"море", 500}, {"Ёлка", 700}, {"арбуз", 900}})
        support::writeTone(folder / support::convert(name + ".wav", "UTF-8", build->namesCharset), tone, 0.3, rate);
    // What the Linux build plays in this folder (Program.PlaysACyrillicFolder
    // InTheOrderWindowsListsIt): the draws from seed 42 over Ёлка, арбуз,
    // море, Ночь.
    const std::vector<double> linuxSequence = support::picks<double>({700, 900, 500, 300}, 12);

    stopWineserver();
    rig.startRecording();
    const support::Child child = support::start(player({"1"}), folder.path(), rigEnv(rig));
    const std::vector<double> tones = {300, 500, 700, 900};
    support::SegmentsSoFar lines(tones);
    const bool played = support::eventually(
        [&] { return linesPlayedASecondApart(lines.update(rig.settledSoFar())).size() >= linuxSequence.size(); },
        90000);
    kill(child.pid, SIGKILL);
    support::waitForExit(child, 10000);
    const std::vector<short> heard = rig.stopRecording();
    EXPECT_TRUE(played) << "fewer lines were heard than expected";

    const double ding = firstHeard(heard, 1500);
    EXPECT_GE(ding, 0) << "the start-up sound was not heard";
    EXPECT_GT(firstHeard(heard, 300), ding) << "the first line was not heard after the start-up sound";
    const std::vector<support::Segment> stretches = support::segments(heard, tones);
    std::vector<double> sequence = linesPlayedASecondApart(stretches);
    sequence.resize(std::min(sequence.size(), linuxSequence.size()));
    std::ostringstream when;
    for (const support::Segment& stretch : stretches)
        when << stretch.frequency << " Hz at " << stretch.start << "-" << stretch.end << " s; ";
    EXPECT_EQ(sequence, linuxSequence) << "heard: " << when.str();
}

// The two-second start-up sound goes on until the first line stops it: at
// interval 1 a second of it is heard; at interval 0 the line follows so soon
// that Wine stops it before any reaches the sink, or nearly.
TEST_F(UnderWine, TheStartupSoundIsHeardUntilTheFirstLineStopsIt)
{
    support::PulseRig rig;
    if (!rig.running())
        GTEST_SKIP() << "no PulseAudio server could be started";
    support::TempDir folder;
    support::writeTone(folder / "line.wav", 300, 1.0, rate);
    for (const char* interval : {"1", "0"}) {
        SCOPED_TRACE(std::string("interval ") + interval);
        stopWineserver();
        rig.startRecording();
        const support::Child child = support::start(player({interval}), folder.path(), rigEnv(rig));
        // Until what is heard runs 1.2 s past the line's start, past where
        // the start-up sound would have gone on had the line not stopped it
        // (counted from its start, as on a busy machine Wine may deliver a
        // buffer late and break the line).
        support::SegmentsSoFar line({300});
        const bool played = support::eventually(
            [&] {
                const std::vector<short> settled = rig.settledSoFar();
                const std::vector<support::Segment>& heard = line.update(settled);
                return !heard.empty() && static_cast<double>(settled.size()) / rate - heard.front().start >= 1.2;
            },
            90000);
        kill(child.pid, SIGKILL);
        const support::Ending ending = support::waitForExit(child, 10000);
        const std::vector<short> heard = rig.stopRecording();
        const std::vector<support::Segment> ding = support::segments(heard, {1500});
        ASSERT_TRUE(played) << "no line was heard in " << heard.size() / rate << " s (the start-up sound was "
                            << (ding.empty() ? "not heard either" : "heard") << "); the player wrote: " << ending.out
                            << ending.err;
        const double lineStarts = firstHeard(heard, 300);
        if (std::string(interval) == "1") {
            ASSERT_FALSE(ding.empty()) << "the start-up sound was not heard";
            EXPECT_LT(ding.front().end - ding.front().start, 1.5) << "the start-up sound was not stopped";
        }
        if (!ding.empty()) {
            EXPECT_LT(ding.front().start, lineStarts) << "the start-up sound was not heard before the line";
            EXPECT_LT(ding.back().end, lineStarts + 0.2) << "the start-up sound went on under the line";
        }
    }
}

}  // namespace
