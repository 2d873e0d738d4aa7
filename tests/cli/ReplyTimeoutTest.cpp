#include "cli/ReplyTimeout.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TimeoutCase {
    int speed;
    int dataBits;
    int parity;
    int stopBits;
    int timeoutMs;
};

// The request's 35 and the reply's 19 characters on the line, rounded up, plus 50 ms.
TEST(LineTiming, DefaultTimeoutFollowsTheLine) {
    const std::vector<TimeoutCase> cases = {
        {9600, 8, 0, 0, 107},  // 540 bits: 56.25 ms
        {115200, 8, 0, 0, 55}, // 4.69 ms
        {19200, 7, 2, 2, 81},  // 11-bit characters: 30.94 ms
        {110, 8, 0, 0, 4960},  // 4.909 s
        {256000, 8, 1, 0, 53}, // 2.32 ms
    };
    for (const TimeoutCase& c : cases) {
        EXPECT_EQ(
            DefaultReplyTimeout(LineSettings{c.speed, c.dataBits, c.parity, c.stopBits}).count(),
            c.timeoutMs)
            << c.speed;
    }
    EXPECT_EQ(CharacterTime(LineSettings{9600, 8, 0, 0}).count(), 1042);
}

// On a device server's port the reply comes later by what the server gathers and the network
// takes; a timeout given is taken as it is.
TEST(ReplyTimeout, TheDefaultTimeoutOfANetworkPortHasTheNetworksMargin) {
    BusOptions options;
    EXPECT_EQ(ReplyTimeout(options, true).count(), 115);
    options.line.speed = 1200; // two characters take 16.7 ms
    EXPECT_EQ(ReplyTimeout(options, true).count(), ReplyTimeout(options, false).count() + 22);
    options.timeout = std::chrono::milliseconds(250);
    EXPECT_EQ(ReplyTimeout(options, true).count(), 250);
}

} // namespace
