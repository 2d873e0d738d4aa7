// The help of a build describes that build: every option it names is taken, every option taken is
// named, and a feature the build lacks (publishing without MQTT, the kernel's RS485 mode beyond
// Linux) is neither described nor taken. The manual page is made from the same text.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/BusFeatures.h"
#include "cli/BusOptions.h"

namespace {

// Every word of the help that is written as an option: "--name", "-q", at the start of a word.
std::set<std::string> OptionsNamedIn(const std::string& text) {
    static const std::regex option(R"((^|[\s\[(|,"'])(--[a-z][a-z0-9-]*|-[a-z]{1,2})\b)");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        names.insert((*it)[2].str());
    }
    return names;
}

TEST(BusUsage, NamesEveryOptionThisBuildTakesAndNoOther) {
    const std::string help = BusUsage();
    const std::set<std::string> named = OptionsNamedIn(help);
    const std::vector<std::string_view> taken = BusOptionNames();
    EXPECT_EQ(named, std::set<std::string>(taken.begin(), taken.end()));
    // Taken by the parser itself: each may still want a value or a command, but is known.
    for (const std::string& name : named) {
        BusOptions options;
        std::string error;
        const std::vector<std::string_view> args = {name};
        ParseBusOptions(args, options, error);
        EXPECT_EQ(error.find("unknown option"), std::string::npos) << name << ": " << error;
        EXPECT_EQ(error.find("built without"), std::string::npos) << name << ": " << error;
    }
}

TEST(BusUsage, DescribesOnlyWhatThisBuildHolds) {
    const std::string help = BusUsage();
    EXPECT_EQ(help.find("\n@"), std::string::npos) << "a feature block's line is left";
    EXPECT_EQ(std::regex_replace(help, std::regex(R"(\[USER@\])"), "").find('@'), std::string::npos)
        << "a word of the system is left unreplaced";

    const bool bPublish = HasBusFeature(BusFeature::Publish);
    EXPECT_EQ(help.find("Publishing (watch):\n") != std::string::npos, bPublish);
    EXPECT_EQ(help.find("\n  5  --publish") != std::string::npos, bPublish);
    EXPECT_EQ(help.find("MQTT") != std::string::npos, bPublish);
    BusOptions options;
    std::string error;
    const std::vector<std::string_view> args = {"watch", "07", "--publish", "mqtt://127.0.0.1/p"};
    EXPECT_EQ(ParseBusOptions(args, options, error), bPublish) << error;
    if (!bPublish) {
        EXPECT_EQ(error, "--publish: this qd7-bus was built without MQTT");
    }

    const bool bDriverRs485 = HasBusFeature(BusFeature::DriverRs485);
    EXPECT_EQ(help.find("kernel") != std::string::npos, bDriverRs485);
    EXPECT_EQ(help.find("RS485 mode") != std::string::npos, bDriverRs485);
}

TEST(BusFeatures, BlocksStayOnlyForTheFeaturesOfThisBuild) {
    const std::string text = "all\n"
                             "@if publish\n"
                             "publish\n"
                             "@end\n"
                             "@if driver-rs485\n"
                             "driver\n"
                             "@end\n"
                             "@if no-such-feature\n"
                             "never\n"
                             "@end\n"
                             "all again";
    std::string expected = "all\n";
    expected += HasBusFeature(BusFeature::Publish) ? "publish\n" : "";
    expected += HasBusFeature(BusFeature::DriverRs485) ? "driver\n" : "";
    expected += "all again";
    EXPECT_EQ(SelectBusFeatureBlocks(text), expected);
}

} // namespace
