// The POSIX PlaySoundA through real ALSA, one process per play, with the
// "default" device sent to files by the ALSA file plug-in.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <sstream>
#include <thread>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "support.h"

namespace {

support::Ending probe(const support::AlsaRig& rig, const std::string& folder, const std::string& command,
                      const std::string& argument)
{
    return support::run({SOUND_PROBE, command, argument}, folder, rig.env(), 10000);
}

// The samples libsndfile decodes from path, in the stream's sample type.
template <typename Sample>
std::string decoded(const std::string& path, sf_count_t (*read)(SNDFILE*, Sample*, sf_count_t))
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << path;
    if (file == nullptr)
        return std::string();
    std::vector<Sample> samples(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t frames = read(file, samples.data(), info.frames);
    sf_close(file);
    return std::string(reinterpret_cast<const char*>(samples.data()),
                       static_cast<std::size_t>(frames * info.channels) * sizeof(Sample));
}

bool silent(const std::string& samples)
{
    return samples.find_first_not_of('\0') == std::string::npos;
}

struct Encoding {
    const char* name;
    int format;
    int rate;
    int channels;
    const char* streamFormat;
};

class SamplesReachTheDevice : public ::testing::TestWithParam<Encoding> {};

TEST_P(SamplesReachTheDevice, Unchanged)
{
    const Encoding& encoding = GetParam();
    support::AlsaRig rig;
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.7, encoding.rate, encoding.format, encoding.channels);

    const support::Ending ending = probe(rig, dir.path(), "play", "line.wav");
    EXPECT_TRUE(ending.finished);
    EXPECT_EQ(ending.exitCode, 0) << ending.err;
    EXPECT_EQ(ending.err, "");

    const std::vector<support::Capture> captures = rig.captures();
    ASSERT_EQ(captures.size(), 1u);
    const support::Capture& capture = captures[0];
    EXPECT_EQ(capture.rate, static_cast<unsigned>(encoding.rate));
    EXPECT_EQ(capture.channels, static_cast<unsigned>(encoding.channels));
    ASSERT_EQ(capture.format, encoding.streamFormat);

    std::string expected;
    if (capture.format == "S16_LE")
        expected = decoded<short>(dir / "line.wav", sf_readf_short);
    else if (capture.format == "S32_LE")
        expected = decoded<int>(dir / "line.wav", sf_readf_int);
    else
        expected = decoded<float>(dir / "line.wav", sf_readf_float);
    // The process's first play follows no other: it begins with a quarter
    // second of silence, for a device that may be waking up.
    const std::size_t leadIn =
        static_cast<std::size_t>(encoding.rate / 4) * encoding.channels * (capture.format == "S16_LE" ? 2 : 4);
    ASSERT_GE(capture.samples.size(), leadIn + expected.size());
    EXPECT_TRUE(silent(capture.samples.substr(0, leadIn)));
    EXPECT_TRUE(capture.samples.compare(leadIn, expected.size(), expected) == 0) << "the samples differ";
    EXPECT_TRUE(silent(capture.samples.substr(leadIn + expected.size()))) << "the padding is not silence";
    EXPECT_FALSE(silent(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, SamplesReachTheDevice,
    ::testing::Values(Encoding{"pcm8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, "S16_LE"},
                      Encoding{"pcm16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, "S16_LE"},
                      Encoding{"pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, "S32_LE"},
                      Encoding{"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1, "FLOAT_LE"},
                      Encoding{"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 8000, 1, "S16_LE"},
                      Encoding{"imaAdpcm", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 11025, 1, "S16_LE"},
                      Encoding{"extensible", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 16000, 1, "S16_LE"}),
    [](const ::testing::TestParamInfo<Encoding>& param) { return std::string(param.param.name); });

// Each of these cannot be played: the call yields FALSE, the system default
// sound (the built-in chime, as no sound theme is installed) plays instead,
// and nothing is printed.
TEST(UnplayableFiles, PlayTheDefaultSoundAndYieldFalse)
{
    support::TempDir dir;
    support::writeTone(dir / "good.wav", 440, 0.2);
    const std::string good = support::readBytes(dir / "good.wav");
    support::writeBytes(dir / "truncated.wav", good.substr(0, 30));
    support::writeBytes(dir / "empty.wav", "");
    support::writeBytes(dir / "text.wav", "these are not the samples you are looking for\n");
    std::string garbage(4096, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919u) >> 3);
    support::writeBytes(dir / "garbage.wav", garbage);
    support::writeTone(dir / "aiff.wav", 440, 0.2, 8000, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    mkfifo((dir / "fifo.wav").c_str(), 0600);
    mkdir((dir / "folder.wav").c_str(), 0700);
    ASSERT_EQ(symlink("loop.wav", (dir / "loop.wav").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir / "device.wav").c_str()), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (dir / "socket.wav").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    support::writeBytes(dir / "unreadable.wav", good);
    chmod((dir / "unreadable.wav").c_str(), 0);

    for (const char* name : {"truncated.wav", "empty.wav", "text.wav", "garbage.wav", "aiff.wav", "fifo.wav",
                             "folder.wav", "loop.wav", "device.wav", "socket.wav", "missing.wav"}) {
        SCOPED_TRACE(name);
        support::AlsaRig rig;
        const support::Ending ending = probe(rig, dir.path(), "play", name);
        EXPECT_TRUE(ending.finished);
        EXPECT_EQ(ending.exitCode, 1);
        EXPECT_EQ(ending.out + ending.err, "");
        const std::vector<support::Capture> captures = rig.captures();
        ASSERT_EQ(captures.size(), 1u);
        EXPECT_EQ(captures[0].rate, 44100u);
        EXPECT_FALSE(silent(captures[0].samples));
    }
    close(sock);
    // A file its user may not read (root reads any: the play is then user
    // nobody's).
    chmod(dir.path().c_str(), 0755);
    support::AlsaRig rig;
    rig.openToOthers();
    support::StartOptions unprivileged;
    unprivileged.unprivileged = true;
    const support::Ending ending =
        support::run({SOUND_PROBE, "play", "unreadable.wav"}, dir.path(), rig.env(), 10000, unprivileged);
    EXPECT_EQ(ending.exitCode, 1);
    const std::vector<support::Capture> captures = rig.captures();
    ASSERT_EQ(captures.size(), 1u) << "no sound in the unreadable file's place";
    EXPECT_EQ(captures[0].rate, 44100u);
}

TEST(UnplayableFiles, TheSoundThemeBellIsTheDefaultSoundWhereThereIsOne)
{
    support::AlsaRig rig;
    support::TempDir dir;
    const std::string themeFolder = rig.env().at("XDG_DATA_HOME") + "/sounds/freedesktop/stereo";
    support::makeFolders(themeFolder);
    support::writeTone(themeFolder + "/bell.oga", 880, 0.3, 24000, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2);

    const support::Ending ending = probe(rig, dir.path(), "play", "missing.wav");
    EXPECT_EQ(ending.exitCode, 1);
    const std::vector<support::Capture> captures = rig.captures();
    ASSERT_EQ(captures.size(), 1u);
    EXPECT_EQ(captures[0].rate, 24000u);
    EXPECT_EQ(captures[0].channels, 2u);
}

TEST(LeadIn, OnlyAPlayAfterAPauseBeginsWithSilence)
{
    support::AlsaRig rig;
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.2);
    const support::Ending ending = support::run({SOUND_PROBE, "play", "line.wav", "line.wav"}, dir.path(), rig.env());
    EXPECT_EQ(ending.exitCode, 0);
    const std::vector<support::Capture> captures = rig.captures();
    ASSERT_EQ(captures.size(), 2u);
    const std::size_t leadIn = 8000 / 4 * sizeof(short);
    EXPECT_TRUE(silent(captures[0].samples.substr(0, leadIn)));
    EXPECT_FALSE(silent(captures[1].samples.substr(0, 32))) << "the second play came at once and needs no lead-in";
}

TEST(LeadIn, AWaitLongEnoughForTheDeviceToIdleWakesItSoThatThePlayAfterItStartsAtOnce)
{
    support::AlsaRig rig;
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.2);
    const support::Ending ending =
        support::run({SOUND_PROBE, "play-after", "3000", "line.wav", "line.wav"}, dir.path(), rig.env(), 20000);
    EXPECT_EQ(ending.exitCode, 0);
    // Each wait ends with the device woken by a stream of silence (at the
    // built-in chime's rate), and the line follows with no lead-in.
    const std::vector<support::Capture> captures = rig.captures();
    ASSERT_EQ(captures.size(), 4u);
    for (std::size_t i = 0; i < captures.size(); i += 2) {
        SCOPED_TRACE(i);
        EXPECT_EQ(captures[i].rate, 44100u);
        EXPECT_TRUE(silent(captures[i].samples)) << "the waking is heard";
        EXPECT_FALSE(silent(captures[i + 1].samples.substr(0, 32))) << "the line begins with a lead-in";
    }
}

TEST(PlayLength, OnADeviceThatTakesEveryFrameAtOnceAPlayLastsAsLongAsItsSound)
{
    // ALSA's file plug-in, as a night of line_player 0 into a file nobody
    // reads would have it: plays must not follow each other at once.
    support::AlsaRig rig;
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.3);
    const support::Ending ending =
        support::run({SOUND_PROBE, "play-timed", "0", "line.wav", "line.wav", "line.wav"}, dir.path(), rig.env());
    EXPECT_EQ(ending.exitCode, 0);
    std::istringstream took(ending.out);
    std::vector<double> milliseconds{std::istream_iterator<double>(took), std::istream_iterator<double>()};
    ASSERT_EQ(milliseconds.size(), 3u) << ending.out;
    EXPECT_GE(milliseconds[0], 250 + 300) << "the first play, with its lead-in";
    EXPECT_GE(milliseconds[1], 300);
    EXPECT_GE(milliseconds[2], 300);
}

TEST(WithoutProc, ARecordingIsOpenedByItsNameAndPlayed)
{
    // A chroot or a sandbox may have no /proc, through which a recording
    // whose type has been looked at is opened.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's runtime needs /proc: it reads its options there, and checks for leaks "
                    "through it as the program exits";
#endif
    support::StartOptions withoutProc;
    withoutProc.withoutProc = true;
    if (!support::supported(withoutProc))
        GTEST_SKIP() << "no mount namespace to hide /proc in (it takes root, or user namespaces)";
    support::AlsaRig rig;
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.2, 11025);
    const support::Ending ending =
        support::run({SOUND_PROBE, "play", "line.wav"}, dir.path(), rig.env(), 10000, withoutProc);
    EXPECT_EQ(ending.exitCode, 0);
    const std::vector<support::Capture> captures = rig.captures();
    ASSERT_EQ(captures.size(), 1u);
    EXPECT_EQ(captures[0].rate, 11025u) << "not the recording";
}

TEST(UnplayableFiles, AreNotOpenedUnlessTheyAreRegularFiles)
{
    // Opening a device may act by itself; a FIFO shows whether it was
    // opened: a writer waiting for a reader is let through by any open.
    support::AlsaRig rig;
    support::TempDir dir;
    mkfifo((dir / "fifo").c_str(), 0600);
    ASSERT_EQ(symlink("fifo", (dir / "link.wav").c_str()), 0);
    std::atomic<bool> writerThrough{false};
    std::thread writer([&] {
        const int fd = open((dir / "fifo").c_str(), O_WRONLY);
        writerThrough = true;
        close(fd);
    });
    for (const char* name : {"fifo", "link.wav"})
        EXPECT_EQ(probe(rig, dir.path(), "play", name).exitCode, 1);
    const bool opened = writerThrough;
    close(open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK));  // lets the writer go
    writer.join();
    EXPECT_FALSE(opened) << "the player opened a FIFO";
}

TEST(UnplayableFiles, AFifoSwappedInAfterTheTypeIsLookedAtIsNeverOpened)
{
    // The name changes between a recording and a FIFO as fast as rename
    // can exchange them, while the recording is played over and over.
    support::AlsaRig rig;
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 0.01);
    // The writer holds on to the FIFO by a second name of its own.
    mkfifo((dir / "other").c_str(), 0600);
    ASSERT_EQ(link((dir / "other").c_str(), (dir / "pinned").c_str()), 0);
    std::atomic<bool> writerThrough{false};
    std::thread writer([&] {
        const int fd = open((dir / "pinned").c_str(), O_WRONLY);
        writerThrough = true;
        close(fd);
    });
    std::atomic<bool> swapping{true};
    std::thread swapper([&] {
        while (swapping)
            renameat2(AT_FDCWD, (dir / "line.wav").c_str(), AT_FDCWD, (dir / "other").c_str(), RENAME_EXCHANGE);
    });
    std::vector<std::string> argv = {SOUND_PROBE, "play"};
    argv.insert(argv.end(), 60, "line.wav");
    support::run(argv, dir.path(), rig.env(), 60000);
    swapping = false;
    swapper.join();
    const bool opened = writerThrough;
    close(open((dir / "pinned").c_str(), O_RDONLY | O_NONBLOCK));  // lets the writer go
    writer.join();
    EXPECT_FALSE(opened) << "the player opened a FIFO";
}

TEST(NoDevice, PlaysFailPromptlyAndQuietly)
{
    support::AlsaRig rig(support::AlsaRig::NoDevice);
    support::TempDir dir;
    support::writeTone(dir / "line.wav", 440, 5.0);
    for (const char* command : {"play", "chime-then-play"}) {
        SCOPED_TRACE(command);
        const support::Ending ending = probe(rig, dir.path(), command, "line.wav");
        EXPECT_TRUE(ending.finished);
        EXPECT_EQ(ending.exitCode, 1);
        EXPECT_EQ(ending.out + ending.err, "");
    }
}

}  // namespace
