#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "sim/SimOptions.h"

using namespace std::chrono_literals;

namespace {

bool Parse(std::vector<std::string_view> args, SimOptions& options, std::string& error) {
    return ParseSimOptions(args, options, error);
}

TEST(SimOptions, DefaultsServeMeter01OnAPty) {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(Parse({}, options, error)) << error;
    EXPECT_EQ(options.meters, std::vector<int>{1});
    EXPECT_TRUE(options.strLink.empty());
    EXPECT_TRUE(options.strDevice.empty());
    EXPECT_FALSE(options.bVerbose);
}

TEST(SimOptions, ReadsEveryOption) {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(
        Parse({"--meters",  "01,7,12", "--link",   "build/com1", "--device", "/dev/pts/9",
               "--speed",   "19200",   "--seed",   "42",         "--drop",   "10",
               "--corrupt", "20",      "--noise",  "3",          "--delay",  "900",
               "--long",    "45",      "--silent", "07",         "--silent", "12:5:10",
               "--verbose", "--delay", "07:321",   "--delay",    "12:0",     "--count-requests"},
              options, error))
        << error;
    EXPECT_EQ(options.meters, (std::vector<int>{1, 7, 12}));
    EXPECT_EQ(options.strLink, "build/com1");
    EXPECT_EQ(options.strDevice, "/dev/pts/9");
    EXPECT_EQ(options.nSpeed, 19200);
    EXPECT_EQ(options.nSeed, 42U);
    EXPECT_EQ(options.faults.nDropPercent, 10);
    EXPECT_EQ(options.faults.nCorruptPercent, 20);
    EXPECT_EQ(options.faults.nNoiseBytes, 3);
    EXPECT_EQ(options.faults.delay, 900ms);
    EXPECT_EQ(options.faults.nLongExtraBytes, 45);
    ASSERT_EQ(options.silences.size(), 2U);
    EXPECT_EQ(options.silences[0].address, 7);
    EXPECT_TRUE(options.silences[0].bAlways);
    EXPECT_EQ(options.silences[1].address, 12);
    EXPECT_FALSE(options.silences[1].bAlways);
    EXPECT_EQ(options.silences[1].from, 5s);
    EXPECT_EQ(options.silences[1].to, 10s);
    EXPECT_TRUE(options.bVerbose);
    ASSERT_EQ(options.meterDelays.size(), 2U);
    EXPECT_EQ(options.meterDelays[0].address, 7);
    EXPECT_EQ(options.meterDelays[0].delay, 321ms);
    EXPECT_EQ(options.meterDelays[1].address, 12);
    EXPECT_EQ(options.meterDelays[1].delay, 0ms);
    EXPECT_TRUE(options.bCountRequests);
}

TEST(SimOptions, ReadOnlyMetersAreNamedOneByOneAndWritesAnsweredAsAsked) {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(
        Parse({"--meters", "01,07,12", "--read-only", "7", "--read-only", "12"}, options, error))
        << error;
    EXPECT_EQ(options.readOnly, (std::vector<int>{7, 12}));
    EXPECT_EQ(options.nWriteReplyCommand, kCommandWriteResponse);
    ASSERT_TRUE(Parse({"--write-reply", "rd"}, options, error)) << error;
    EXPECT_EQ(options.nWriteReplyCommand, kCommandResponse);
}

TEST(SimOptions, RefusesBadArgumentsNamingTheOption) {
    const struct {
        std::vector<std::string_view> args;
        const char* mentions;
    } cases[] = {
        {{"--meters", "100"}, "00..99"},
        {{"--meters", "-1"}, "00..99"},
        {{"--meters", "1,,2"}, "--meters"},
        {{"--meters", "7,07"}, "twice"},
        {{"--meters", "x1"}, "--meters"},
        {{"--drop", "101"}, "--drop"},
        {{"--corrupt", "-1"}, "--corrupt"},
        {{"--delay", "soon"}, "--delay"},
        {{"--delay", "07:"}, "AA:MS"},
        {{"--delay", "7x:100"}, "AA:MS"},
        {{"--delay", "07:100:5"}, "AA:MS"},
        {{"--meters", "01", "--delay", "07:100"}, "no meter"},
        {{"--seed", "4294967296"}, "--seed"},
        {{"--silent", "01:10:5"}, "--silent"},
        {{"--meters", "01", "--silent", "07"}, "no meter"},
        {{"--meters", "01", "--read-only", "07"}, "no meter"},
        {{"--read-only", "1,7"}, "--read-only"},
        {{"--write-reply", "WX"}, "--write-reply"},
        {{"--link"}, "needs a value"},
        {{"--link", ""}, "--link"},
        {{"--frobnicate", "1"}, "unknown option"},
        {{"stray"}, "stray"},
        {{"--speed", "9600"}, "--device"},
        {{"--device", "/dev/pts/9", "--speed", "12345"}, "standard speed"},
    };
    for (const auto& c : cases) {
        SimOptions options;
        std::string error;
        EXPECT_FALSE(Parse(c.args, options, error)) << c.args[0];
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
}

TEST(SimOptions, HelpListsEveryOption) {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--help"}, options, error));
    EXPECT_TRUE(options.bHelp);
    const std::string usage = SimUsage("qd7-sim");
    for (const char* option :
         {"--meters LIST", "--link PATH", "--device PATH", "--speed N", "--seed N", "--drop PCT",
          "--corrupt PCT", "--noise N", "--delay [AA:]MS", "--long N", "--silent AA",
          "--count-requests", "--read-only AA", "--write-reply wd|rd", "--verbose", "--help",
          "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

} // namespace
