#include "cli/LateReplyNotes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

TEST(LateReplyNotes, SuggestsATimeoutWithRoomAboveTheDelay) {
    struct SuggestCase {
        std::chrono::milliseconds delay;
        std::chrono::milliseconds suggested;
    };
    const std::vector<SuggestCase> cases = {
        {0ms, 50ms},    {25ms, 50ms},   {26ms, 100ms},          {150ms, 200ms},
        {175ms, 200ms}, {176ms, 250ms}, {600'000ms, 600'000ms}, // the longest --timeout taken
    };
    for (const SuggestCase& c : cases) {
        EXPECT_EQ(SuggestedTimeout(c.delay), c.suggested) << c.delay.count();
    }
}

// Once per meter; again only when a reply needs a longer timeout than the one already named.
TEST(LateReplyNotes, SaysEachMeterOnceUnlessItGetsSlower) {
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    CLateReplyNotes notes(err);
    const auto late = [](int address, std::chrono::milliseconds delay, bool bBeyond = false) {
        LateReply reply;
        reply.address = address;
        reply.delay = delay;
        reply.bBeyondWindow = bBeyond;
        return reply;
    };
    for (const LateReply& reply : {late(7, 150ms), late(7, 160ms), late(12, 151ms), late(7, 120ms),
                                   late(7, 180ms), late(7, 170ms), late(12, 900ms, true)}) {
        notes.Note(reply);
    }
    std::string text;
    std::rewind(err);
    for (int c; (c = std::fgetc(err)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(err);
    EXPECT_EQ(text, "qd7-bus: 07 answered 150 ms after its request; --timeout 200 waits for it\n"
                    "qd7-bus: 12 answered 151 ms after its request; --timeout 200 waits for it\n"
                    "qd7-bus: 07 answered 180 ms after its request; --timeout 250 waits for it\n"
                    "qd7-bus: 12 answered 900 ms after its request, beyond its reply window; "
                    "--timeout 950 waits for it\n");
}

} // namespace
