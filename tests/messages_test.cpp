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
        locales = new support::TempDir;
        // A Windows-1251 locale of our own (LOCPATH), as Debian ships none.
        support::run({"/usr/bin/localedef", "-i", "ru_RU", "-f", "CP1251", *locales / "ru_RU.CP1251"}, "/", {}, 60000);
    }
    static void TearDownTestSuite()
    {
        delete folder;
        delete locales;
    }

    static std::map<std::string, std::string> localeEnv(const std::string& name)
    {
        std::map<std::string, std::string> env = rig().env();
        env["LC_ALL"] = "";
        env["LC_CTYPE"] = "";
        env["LANGUAGE"] = "";
        env["LANG"] = name;
        env["LOCPATH"] = name == "ru_RU.CP1251" ? locales->path() : "";
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
        support::Child child = support::start(argv, folder->path(), localeEnv(locale), toPipe);
        std::string received;
        const bool printed = support::eventually(
            [&] { return support::outputSoFar(child, received).find("dream!") != std::string::npos; }, 10000);
        EXPECT_TRUE(printed);
        kill(child.pid, SIGINT);
        const support::Ending ending = support::waitForExit(child, 5000);
        EXPECT_EQ(ending.signal, SIGINT);
        EXPECT_EQ(ending.err, "");
        return toPipe ? received + ending.out : ending.out;
    }

    static support::TempDir* folder;
    static support::TempDir* locales;
};

support::TempDir* Messages::folder = nullptr;
support::TempDir* Messages::locales = nullptr;

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
    if (access("/usr/bin/localedef", X_OK) != 0)
        GTEST_SKIP() << "needs localedef to make a Windows-1251 locale (apt-get install locales)";
    ASSERT_EQ(access((locales->path() + "/ru_RU.CP1251").c_str(), F_OK), 0) << "localedef made no locale";
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
