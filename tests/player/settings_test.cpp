// The run settings: the interval read from the command line.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "settings.h"

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

}  // namespace
