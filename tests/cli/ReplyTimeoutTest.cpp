#include "cli/ReplyTimeout.h"
#include "serial/LineTiming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct TimeoutCase {
    int speed;
    int dataBits;
    int parity;
    int stopBits;
    int timeoutMs;
};

// The request's 35 and the reply's 19 characters on the line, rounded up, plus 100 ms for the
// reply to start and 16 ms of an adapter's latency at its end.
TEST(LineTiming, DefaultTimeoutFollowsTheLine) {
    const std::vector<TimeoutCase> cases = {
        {9600, 8, 0, 0, 173},   // 540 bits: 56.25 ms
        {115200, 8, 0, 0, 121}, // 4.69 ms
        {19200, 7, 2, 2, 147},  // 11-bit characters: 30.94 ms
        {110, 8, 0, 0, 5026},   // 4.909 s
        {256000, 8, 1, 0, 119}, // 2.32 ms
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
    EXPECT_EQ(ReplyTimeout(options, true).count(), 181);
    options.line.speed = 1200; // two characters take 16.7 ms
    EXPECT_EQ(ReplyTimeout(options, true).count(), ReplyTimeout(options, false).count() + 22);
    options.timeout = std::chrono::milliseconds(250);
    EXPECT_EQ(ReplyTimeout(options, true).count(), 250);
}

// A meter whose first byte comes 100 ms after the end of its request, through a USB adapter that
// holds the last bytes for its 16 ms latency timer, is within the default timeout at every speed
// a meter may run; a scan listens for the first byte only a little beyond the request, since a
// later answer is still heard within the reply window, which is never shorter than the timeout.
TEST(ReplyTimeout, TheDefaultsCoverASlowMeterAndTheWindowCoversTheTimeout) {
    for (const int speed : {1200, 9600, 115200}) {
        BusOptions options;
        options.line.speed = speed;
        const std::chrono::microseconds request{LineTimeUs(options.line, 35)};
        const std::chrono::microseconds bothFrames{LineTimeUs(options.line, 35 + 19)};
        EXPECT_GE(ReplyTimeout(options), bothFrames + 100ms + 16ms) << speed;
        EXPECT_EQ(FirstByteLimit(options), request + 30ms) << speed;
        EXPECT_EQ(ReplyWindow(options), std::max(700ms, ReplyTimeout(options))) << speed;
    }
    BusOptions options;
    options.replyWindow = 300ms;
    options.timeout = 450ms;
    EXPECT_EQ(ReplyWindow(options), 450ms);
    EXPECT_EQ(FirstByteLimit(options), std::nullopt) << "a timeout given holds for every address";
}

} // namespace
