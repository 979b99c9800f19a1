// The built line_player, end to end, in temporary folders of recordings,
// with the "default" sound device sent to files.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
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

std::vector<unsigned> runUntilPlayed(const support::TempDir& dir, std::size_t plays,
                                     const std::map<std::string, std::string>& moreEnv = {})
{
    support::AlsaRig rig;
    std::map<std::string, std::string> env = rig.env();
    for (const auto& [variable, value] : moreEnv)
        env[variable] = value;
    const support::Child child = support::start({LINE_PLAYER, "0"}, dir.path(), env);
    const bool played = support::eventually([&] { return playedRates(rig).size() >= plays; }, 20000);
    const support::Ending ending = support::interrupt(child, 5000);
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

    // The Windows C runtime's generator seeded with 42 draws them, over the
    // folder in name order (one, three, Two).
    EXPECT_EQ(first, support::picks<unsigned>({8000, 16000, 11025}, 30));
}

TEST(Program, PlaysACyrillicFolderInTheOrderWindowsListsIt)
{
    // NTFS lists these Ёлка, арбуз, море, Ночь (Ё is U+0401, before А, and
    // letters compare in upper case): the draws from seed 42 pick from that
    // list.
    const std::vector<std::pair<std::string, unsigned>> recordings = {
        {"Ночь", 8000}, {"море", 11025}, {"Ёлка", 16000}, {"арбуз", 22050}};
    const std::vector<unsigned> windowsSequence = support::picks<unsigned>({16000, 22050, 11025, 8000}, 12);
    for (const char* locale : {"C.UTF-8", "ru_RU.CP1251"}) {
        SCOPED_TRACE(locale);
        const std::string whyNot = support::makeLocale(locale);
        if (!whyNot.empty())
            GTEST_SKIP() << whyNot;
        // The names' bytes are in the locale's charset.
        const char* charset = std::string(locale) == "C.UTF-8" ? "UTF-8" : "CP1251";
        support::TempDir dir;
        for (const auto& [name, rate] : recordings)
            support::writeTone(dir / support::convert(name + ".wav", "UTF-8", charset), 440, 0.05,
                               static_cast<int>(rate));
        EXPECT_EQ(runUntilPlayed(dir, windowsSequence.size(), support::localeEnv(locale)), windowsSequence);
    }
}

TEST(Program, EndsAtOnceOnSigintDuringTheWait)
{
    support::TempDir dir;
    fillFolder(dir);
    support::AlsaRig rig;
    const support::Child child = support::start({LINE_PLAYER, "100"}, dir.path(), rig.env());
    // The announcements reach the output file just before the first wait.
    std::string received;
    EXPECT_TRUE(support::awaitOutput(child, "Have a nice dream!", received));
    const support::Ending ending = support::interrupt(child, 2000);
    EXPECT_TRUE(ending.finished);
    EXPECT_EQ(ending.signal, SIGINT);
    EXPECT_EQ(playedRates(rig), std::vector<unsigned>{});
}

// A RIFF WAVE header with the given fields, then `payload`.
std::string wav(unsigned format, unsigned channels, unsigned rate, unsigned bits, std::uint32_t dataBytes,
                const std::string& payload, std::uint32_t riffBytes = 0)
{
    std::string out;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto u16 = [&](unsigned v) {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>((v >> 8) & 0xFF);
    };
    out += "RIFF";
    u32(riffBytes != 0 ? riffBytes : static_cast<std::uint32_t>(36 + payload.size()));
    out += "WAVEfmt ";
    u32(16);
    u16(format);
    u16(channels);
    u32(rate);
    u32(rate * channels * bits / 8);
    u16(channels * bits / 8);
    u16(bits);
    out += "data";
    u32(dataBytes);
    return out + payload;
}

TEST(Program, BadInputNeitherStopsNorHangsTheRunNorPrintsAnything)
{
    support::TempDir dir;
    support::writeTone(dir / "good.wav", 440, 0.05, 8000);
    support::writeTone(dir / "doomed.wav", 440, 0.05, 16000);
    const std::string samples(800, '\x10');
    support::writeBytes(dir / "zero-bytes.wav", "");
    support::writeBytes(dir / "text.wav", "Not a recording.\n");
    support::writeBytes(dir / "no-channels.wav", wav(1, 0, 8000, 16, 800, samples));
    support::writeBytes(dir / "no-rate.wav", wav(1, 1, 0, 16, 800, samples));
    support::writeBytes(dir / "huge-rate.wav", wav(1, 1, 0xFFFFFFF0u, 16, 800, samples));
    support::writeBytes(dir / "many-channels.wav", wav(1, 65535, 8000, 16, 800, samples));
    support::writeBytes(dir / "data-past-the-end.wav", wav(1, 1, 8000, 16, 0xFFFFFFF0u, samples));
    support::writeBytes(dir / "huge-riff.wav", wav(1, 1, 8000, 16, 800, samples, 0xFFFFFFFFu));
    support::writeBytes(dir / "odd-format.wav", wav(0x7777, 1, 8000, 16, 800, samples));
    mkfifo((dir / "fifo.wav").c_str(), 0600);
    ASSERT_EQ(symlink("/dev/zero", (dir / "device.wav").c_str()), 0);
    ASSERT_EQ(symlink("loop.wav", (dir / "loop.wav").c_str()), 0);
    // Names a shell would act on, and bytes that are not UTF-8: each holds a
    // playable recording at 11025 Hz.
    for (const std::string name : {"with space.wav", "quote\"'.wav", "$(touch pwned).wav", "new\nline.wav",
                                   "`touch pwned`;.wav", "\xff\xfe\xe9.wav"})
        support::writeTone(dir / name, 440, 0.05, 11025);

    support::AlsaRig rig;
    // A play lasts as long as its sound: a short bell in place of the chime
    // keeps the hundreds of plays short.
    const std::string theme = rig.env().at("XDG_DATA_HOME") + "/sounds/freedesktop/stereo";
    support::makeFolders(theme);
    support::writeTone(theme + "/bell.wav", 880, 0.01, 44100);
    const support::Child child = support::start({LINE_PLAYER, "0"}, dir.path(), rig.env());
    const auto playedAtLeast = [&](std::size_t plays) {
        return support::eventually([&] { return rig.captures().size() >= plays; }, 30000);
    };
    EXPECT_TRUE(playedAtLeast(200));
    // Recordings change under the running player.
    unlink((dir / "doomed.wav").c_str());
    support::writeBytes(dir / "good.wav", support::readBytes(dir / "good.wav").substr(0, 20));
    support::writeBytes(dir / "with space.wav", std::string(5000, '\x7f'));
    const std::size_t before = rig.captures().size();
    EXPECT_TRUE(playedAtLeast(before + 200));
    const support::Ending ending = support::interrupt(child, 5000);

    EXPECT_TRUE(ending.finished);
    EXPECT_EQ(ending.signal, SIGINT);
    EXPECT_EQ(ending.err, "");
    EXPECT_NE(ending.out.find("\nВсего реплик 20."), std::string::npos);
    const std::string last = "\n\nHave a nice dream!";
    ASSERT_GE(ending.out.size(), last.size());
    EXPECT_EQ(ending.out.substr(ending.out.size() - last.size()), last) << "printed more than the messages";
    std::set<unsigned> rates;
    for (const support::Capture& capture : rig.captures())
        rates.insert(capture.rate);
    EXPECT_EQ(rates, (std::set<unsigned>{8000, 11025, 16000, 44100}));
    EXPECT_NE(access((dir / "pwned").c_str(), F_OK), 0) << "a name reached a shell";
}

// A device that fails in its own way, and what a run without an interval
// then costs at most: each try fails, and the next waits its second.
enum class Failure { NoSoundServer, RefusingDevice, ServerWithoutSink, NoThreadLeft };

class FailingDevice : public ::testing::TestWithParam<Failure> {};

TEST_P(FailingDevice, IsTriedOnceASecondQuietlyAndTheRunIdles)
{
    support::TempDir dir, runtime;
    support::writeTone(dir / "line.wav", 440, 0.05);
    std::map<std::string, std::string> env;
    support::StartOptions options;
    double mostCpu = 0.15;  // 5 % of a core over the three seconds
    std::optional<support::AlsaRig> alsa;
    std::optional<support::PulseRig> pulse;
    switch (GetParam()) {
    case Failure::NoSoundServer:
        // ALSA's "default" leads to PulseAudio, which is not running; a HOME
        // that is not a folder makes its client library complain at every
        // try, and each try loads it anew.
        env = {{"HOME", "/dev/null"},
               {"XDG_RUNTIME_DIR", runtime.path()},
               {"PULSE_SERVER", ""},
               {"XDG_DATA_DIRS", "/none"}};
        mostCpu = 0.75;
        break;
    case Failure::RefusingDevice:
        // It opens, and refuses every stream's format, the start-up
        // sound's in the line's place too.
        env = alsa.emplace(support::AlsaRig::Refusing).env();
        break;
    case Failure::ServerWithoutSink:
        // The server takes the connection and refuses every stream.
        if (!support::PulseRig::installed())
            GTEST_SKIP() << "apt-get install pulseaudio pulseaudio-utils libasound2-plugins";
        pulse.emplace(support::PulseRig::Low, support::SinkFormat{}, support::PulseRig::NoSink);
        ASSERT_TRUE(pulse->running());
        env = pulse->env();
        break;
    case Failure::NoThreadLeft:
        // `ulimit -u` reached: no play can start a thread of its own.
        options.unprivileged = true;
        options.processLimit = 1;
        if (!support::supported(options))
            GTEST_SKIP() << "cannot run a program as user nobody with a process limit";
        chmod(dir.path().c_str(), 0755);
        env = {{"HOME", dir.path()}};
        break;
    }
    const support::Observed run = support::observe({LINE_PLAYER, "0"}, dir.path(), env, 3000, options);
    EXPECT_EQ(run.ending.signal, SIGINT);
    EXPECT_EQ(run.ending.err, "");
    EXPECT_LT(run.cpuSeconds, mostCpu) << "busy while the device fails";
}

std::string failureName(const ::testing::TestParamInfo<Failure>& failure)
{
    static const char* const names[] = {"NoSoundServer", "RefusingDevice", "ServerWithoutSink", "NoThreadLeft"};
    return names[static_cast<int>(failure.param)];
}

INSTANTIATE_TEST_SUITE_P(, FailingDevice,
                         ::testing::Values(Failure::NoSoundServer, Failure::RefusingDevice, Failure::ServerWithoutSink,
                                           Failure::NoThreadLeft),
                         failureName);

TEST(Program, PipesWhoseReaderHasGoneEndNeitherTheRunNorItsTurns)
{
    // Standard output read by a reader that has exited, and ALSA's file
    // plug-in writing each stream to a command that exits without reading
    // it: the writes fail, and the turns go on.
    support::AlsaRig rig(support::AlsaRig::ReaderGone);
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.05);
    support::StartOptions readerGone;
    readerGone.outputReaderGone = true;
    const support::Child child = support::start({LINE_PLAYER, "0"}, dir.path(), rig.env(), readerGone);
    EXPECT_TRUE(support::eventually([&] { return rig.captures().size() >= 4; }, 10000));
    const support::Ending ending = support::interrupt(child, 5000);
    EXPECT_EQ(ending.signal, SIGINT) << "ended by signal " << ending.signal;
}

TEST(Program, ALsasConfigurationIsReadOnceWhilePlaysFail)
{
    // Reading it again after each failure loaded the sound server's plug-in
    // afresh every time (PipeWire's keeps 16 KB of each load).
    support::AlsaRig rig(support::AlsaRig::NoDevice);
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.05);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, (rig.home() + "/.asoundrc").c_str(), IN_OPEN), 0);
    const support::Child child = support::start({LINE_PLAYER, "0"}, dir.path(), rig.env());
    support::pause(3500);  // the start-up sound and three tries of the line fail
    EXPECT_EQ(support::interrupt(child, 5000).signal, SIGINT);
    int opens = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;)
        opens += static_cast<int>(got / static_cast<ssize_t>(sizeof(inotify_event)));
    close(watch);
    EXPECT_EQ(opens, 1);
}

TEST(Program, StandardOutputAndErrorClosedAtTheStartAreTheNullDevice)
{
    // Otherwise the first files the sound libraries open take their numbers,
    // and the messages go there.
    support::AlsaRig rig;
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.05);
    support::StartOptions closed;
    closed.outputsClosed = true;
    const support::Child child = support::start({LINE_PLAYER, "100"}, dir.path(), rig.env(), closed);
    // Once the start-up sound has been played, the libraries have opened
    // what they open.
    EXPECT_TRUE(support::eventually([&] { return !rig.captures().empty(); }, 10000));
    char output[64] = {}, error[64] = {};
    EXPECT_GT(readlink(("/proc/" + std::to_string(child.pid) + "/fd/1").c_str(), output, sizeof output - 1), 0);
    EXPECT_GT(readlink(("/proc/" + std::to_string(child.pid) + "/fd/2").c_str(), error, sizeof error - 1), 0);
    EXPECT_EQ(support::interrupt(child, 5000).signal, SIGINT);
    EXPECT_STREQ(output, "/dev/null");
    EXPECT_STREQ(error, "/dev/null");
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

    // A folder deleted under the shell is named as the shell knew it, and
    // said to be gone.
    mkdir((dir / "gone").c_str(), 0700);
    support::StartOptions removed;
    removed.folderRemoved = true;
    const support::Ending gone =
        support::waitForExit(support::start({LINE_PLAYER, "1"}, dir / "gone", rig.env(), removed), 10000);
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_EQ(gone.err, "\nПапку \"" + (dir / "gone") + "\" не удалось прочитать (папки больше нет), играть нечего.\n");

    // A folder its user may enter but not read (root reads every folder:
    // the run is then user nobody's).
    chmod(dir.path().c_str(), 0755);
    mkdir((dir / "locked").c_str(), 0311);
    support::StartOptions unprivileged;
    unprivileged.unprivileged = true;
    const support::Ending locked = support::run({LINE_PLAYER, "1"}, dir / "locked", {}, 10000, unprivileged);
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_EQ(locked.err, "\nПапку \"" + (dir / "locked") + "\" не удалось прочитать (нет доступа), играть нечего.\n");

    // Said in one write, whole: a socket of datagrams keeps writes apart.
    int error[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, error), 0);
    support::StartOptions toSocket;
    toSocket.errorTo = error[1];
    const support::Child oneWrite = support::start({LINE_PLAYER, "1"}, dir.path(), rig.env(), toSocket);
    close(error[1]);
    EXPECT_EQ(support::waitForExit(oneWrite, 10000).exitCode, 1);
    std::vector<std::string> writes;
    char packet[8192];
    for (ssize_t got; (got = recv(error[0], packet, sizeof packet, MSG_DONTWAIT)) > 0;)
        writes.emplace_back(packet, static_cast<std::size_t>(got));
    close(error[0]);
    EXPECT_EQ(writes, std::vector<std::string>{ending.err});
}

TEST(Program, AFolderNameReachesTheTerminalWithoutItsControlCharacters)
{
    support::TempDir dir;
    support::AlsaRig rig;
    const auto errorIn = [&](const std::string& name, const std::string& locale) {
        const std::string folder = dir / name;
        mkdir(folder.c_str(), 0700);
        std::map<std::string, std::string> env = rig.env();
        for (const auto& [variable, value] : support::localeEnv(locale))
            env[variable] = value;
        const support::Ending ending = support::run({LINE_PLAYER, "1"}, folder, env, 10000);
        EXPECT_EQ(ending.exitCode, 1);
        return ending.err;
    };
    const std::string after = "\" нет ни одного файла *.wav, играть нечего.\n";
    // A name that would retitle the terminal; CSI as a UTF-8 character
    // (U+009B) and as a lone byte.
    EXPECT_EQ(errorIn("\x1b]0;owned\x07", "C.UTF-8"), "\nВ папке \"" + (dir / "\\x1B]0;owned\\x07") + after);
    EXPECT_EQ(errorIn("a\xc2\x9b"
                      "2J",
                      "C.UTF-8"),
              "\nВ папке \"" + (dir / "a\\xC2\\x9B2J") + after);
    EXPECT_EQ(errorIn("b\x9b"
                      "2J",
                      "C.UTF-8"),
              "\nВ папке \"" + (dir / "b\\x9B2J") + after);
    // In Windows-1251, 0x9B is a character (a closing angle quotation mark).
    const std::string whyNot = support::makeLocale("ru_RU.CP1251");
    if (!whyNot.empty())
        GTEST_SKIP() << whyNot;
    EXPECT_EQ(errorIn("c\x9b"
                      "2J",
                      "ru_RU.CP1251"),
              support::toWindows1251("\nВ папке \"") + dir.path()
                  + "/c\x9b"
                    "2J"
                  + support::toWindows1251(after));
}

}  // namespace
