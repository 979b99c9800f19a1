// The start-up messages of the built program, byte for byte, in the charset
// of the locale it runs under.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support.h"

namespace {

class Messages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new support::TempDir;
        for (int i = 1; i <= 12; ++i)
            support::writeTone(*folder / ("line" + std::to_string(i) + ".wav"), 200.0 + 50 * i, 0.1);
    }
    static void TearDownTestSuite() { delete folder; }

    static std::map<std::string, std::string> localeEnv(const std::string& name)
    {
        std::map<std::string, std::string> env = rig().env();
        for (const auto& [variable, value] : support::localeEnv(name))
            env[variable] = value;
        return env;
    }

    static const support::AlsaRig& rig()
    {
        static const support::AlsaRig theRig;
        return theRig;
    }

    // Standard output of a run that is ended by SIGINT during its first wait.
    static std::string startupOutput(const std::vector<std::string>& args, const std::string& locale,
                                     bool toPipe = false)
    {
        std::vector<std::string> argv = {LINE_PLAYER};
        argv.insert(argv.end(), args.begin(), args.end());
        support::StartOptions options;
        options.outputToPipe = toPipe;
        support::Child child = support::start(argv, folder->path(), localeEnv(locale), options);
        std::string received;
        EXPECT_TRUE(support::awaitOutput(child, "dream!", received));
        const support::Ending ending = support::interrupt(child, 5000);
        EXPECT_EQ(ending.signal, SIGINT);
        EXPECT_EQ(ending.err, "");
        return toPipe ? received + ending.out : ending.out;
    }

    static support::TempDir* folder;
};

support::TempDir* Messages::folder = nullptr;

TEST_F(Messages, FollowTheArgumentsUnderAUtf8Locale)
{
    EXPECT_EQ(startupOutput({}, "C.UTF-8"), support::startupText(300, true, 12));
    EXPECT_EQ(startupOutput({"60"}, "C.UTF-8"), support::startupText(60, false, 12));
    EXPECT_EQ(startupOutput({"60", "90"}, "C.UTF-8"), support::startupText(300, false, 12));
    EXPECT_EQ(startupOutput({"-5"}, "C.UTF-8"), support::startupText(-5, false, 12));
    EXPECT_EQ(startupOutput({"3000000"}, "C.UTF-8"), support::startupText(-1294967, false, 12));
}

TEST_F(Messages, AreWindows1251BytesUnderAWindows1251Locale)
{
    const std::string whyNot = support::makeLocale("ru_RU.CP1251");
    if (!whyNot.empty())
        GTEST_SKIP() << whyNot;
    EXPECT_EQ(startupOutput({}, "ru_RU.CP1251"), support::toWindows1251(support::startupText(300, true, 12)));
    EXPECT_EQ(startupOutput({"7s"}, "ru_RU.CP1251"), support::toWindows1251(support::startupText(7, false, 12)));
}

TEST_F(Messages, AreUtf8UnderTheCLocale)
{
    EXPECT_EQ(startupOutput({"60"}, "C"), support::startupText(60, false, 12));
}

TEST_F(Messages, ReachAPipeBeforeTheFirstWait)
{
    EXPECT_EQ(startupOutput({}, "C.UTF-8", true), support::startupText(300, true, 12));
}

TEST_F(Messages, AnEmptyFolderReportsNoLinesThenTheErrorInTheLocalesCharset)
{
    support::TempDir empty;
    for (const std::string locale : {"C.UTF-8", "ru_RU.CP1251"}) {
        SCOPED_TRACE(locale);
        const std::string whyNot = support::makeLocale(locale);
        if (!whyNot.empty())
            GTEST_SKIP() << whyNot;
        const support::Ending ending = support::run({LINE_PLAYER}, empty.path(), localeEnv(locale), 10000);
        EXPECT_EQ(ending.exitCode, 1);
        const std::string error = "\nВ папке \"" + empty.path() + "\" нет ни одного файла *.wav, играть нечего.\n";
        if (locale == "C.UTF-8") {
            EXPECT_EQ(ending.out, support::startupText(300, true, 0));
            EXPECT_EQ(ending.err, error);
        } else {
            EXPECT_EQ(ending.out, support::toWindows1251(support::startupText(300, true, 0)));
            EXPECT_EQ(ending.err, support::toWindows1251(error));
        }
    }
}

}  // namespace
