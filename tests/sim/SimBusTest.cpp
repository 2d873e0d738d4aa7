#include <gtest/gtest.h>

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "protocol/FrameCodec.h"
#include "sim/SimBus.h"
#include "tests/sim/SimPeer.h"

using namespace std::chrono_literals;

namespace {

std::string ReplyBody(const std::vector<uint8_t>& reply) {
    return reply.size() >= kReplyFrameLength
               ? std::string(reinterpret_cast<const char*>(reply.data()) + 2, kFrameBodyLength)
               : std::string();
}

DecodedResponse Decode(const std::vector<uint8_t>& bytes) {
    return ParseResponseFrame(bytes.data(), static_cast<int>(bytes.size()));
}

// Meters 01, 07 and 12 on a bus whose clock the test moves.
class SimBusTest : public ::testing::Test {
protected:
    std::chrono::milliseconds m_now{0};
    CSimBus m_bus{{CSimMeter(1), CSimMeter(7), CSimMeter(12)}, {}, 1, [this] { return m_now; }};

    std::vector<SimReply> Feed(const std::vector<uint8_t>& bytes) { return m_bus.Feed(bytes); }
    std::vector<SimReply> Ask(int address, int bank = 0, int reg = 0) {
        return Feed(RequestBytes(address, bank, reg));
    }
    // The one reply to a request, or empty when there is none.
    std::vector<uint8_t> AskOne(int address, int bank = 0, int reg = 0) {
        std::vector<SimReply> replies = Ask(address, bank, reg);
        return replies.size() == 1 ? replies[0].bytes : std::vector<uint8_t>{};
    }
};

TEST_F(SimBusTest, AnswersRxWithTheResponseFrame) {
    const std::vector<SimReply> replies = Ask(7, 1, 2);
    ASSERT_EQ(replies.size(), 1U);
    EXPECT_EQ(replies[0].delay, 0ms);
    ASSERT_EQ(replies[0].bytes.size(), 19U);
    EXPECT_EQ(replies[0].bytes[0], kAck);
    EXPECT_EQ(ReplyBody(replies[0].bytes), "07RD1C1+0030001");

    const DecodedResponse decoded = Decode(replies[0].bytes);
    ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk);
    EXPECT_EQ(decoded.address, 7);
    EXPECT_EQ(decoded.bank, 1);
    EXPECT_EQ(decoded.registerIndex, 2);
    EXPECT_FLOAT_EQ(decoded.value, 300.0F);
    EXPECT_EQ(decoded.decimals, 1);
    EXPECT_EQ(m_bus.FramesReceived(), 1U);
    EXPECT_EQ(m_bus.RepliesProduced(), 1U);
}

TEST_F(SimBusTest, BanksHoldDifferentRegisters) {
    EXPECT_EQ(ReplyBody(AskOne(12, 0, 4)), "12RD0C3-0015252");
    EXPECT_EQ(ReplyBody(AskOne(12, 1, 4)), "12RD1C3-0004051");
    EXPECT_EQ(ReplyBody(AskOne(12, 0, 9)), "12RD0Y0+0000055");
}

TEST_F(SimBusTest, StaysSilentForWhatNoMeterShouldAnswer) {
    std::vector<uint8_t> badCrc = RequestBytes(1, 0, 0);
    badCrc[kCrcOffset] ^= 0x40;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"wrong CRC", badCrc},
        {"another address", RequestBytes(5, 0, 0)},
        {"a reply (RD)", TextBytes("01RD0P0+0000000")},
        {"a write's reply (WD)", TextBytes("01WD0C0+0000010")},
        {"bank 2", RequestBytes(1, 2, 0)},
        {"unknown register", TextBytes("01RX0Z9+0000000")},
        {"not digits", TextBytes("01RX0P0+00X0000")},
        {"no ETX", TextBytes("01RX0P0+000000")},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Feed(c.bytes).empty()) << c.what;
    }
    EXPECT_EQ(m_bus.RepliesProduced(), 0U);
    EXPECT_DOUBLE_EQ(*m_bus.RegisterValue(1, 0, 1), 900.0) << "a WD heard wrote nothing";
    // The meters still answer afterwards.
    EXPECT_EQ(Ask(1).size(), 1U);
}

TEST_F(SimBusTest, StoresWhatWxWritesAndAnswersWithWdEchoingIt) {
    const struct {
        const char* body;
        const char* reply;
        const char* readBack;
        int bank;
        int reg;
    } cases[] = {
        {"07WX0C0-0012342", "07WD0C0-0012342", "07RD0C0-0012342", 0, 1},
        {"07WX1Y1+0005002", "07WD1Y1+0005002", "07RD1Y1+0005002", 1, 10},
        {"07WX0X0+0000019", "07WD0X0+0000019", "07RD0X0+0000019", 0, 7}, // the finest places
    };
    for (const auto& c : cases) {
        const std::vector<SimReply> replies = Feed(TextBytes(c.body));
        ASSERT_EQ(replies.size(), 1U) << c.body;
        EXPECT_EQ(ReplyBody(replies[0].bytes), c.reply);
        EXPECT_EQ(ReplyBody(AskOne(7, c.bank, c.reg)), c.readBack) << "read back";
    }
    EXPECT_DOUBLE_EQ(*m_bus.RegisterValue(7, 0, 1), -12.34);
    // Meter 01 keeps its own registers, and bank 0 of meter 07 its Y1.
    EXPECT_EQ(ReplyBody(AskOne(1, 0, 1)), "01RD0C0+0090001");
    EXPECT_EQ(ReplyBody(AskOne(7, 0, 10)), "07RD0Y1+1234560");
}

TEST_F(SimBusTest, AReadOnlyMeterAnswersAWriteButKeepsItsValue) {
    ASSERT_TRUE(m_bus.SetReadOnly(7, true));
    EXPECT_EQ(ReplyBody(Feed(TextBytes("07WX0C1+0012341")).at(0).bytes), "07WD0C1+0012341");
    EXPECT_EQ(ReplyBody(AskOne(7, 0, 2)), "07RD0C1+0075051");
    // Its neighbours take what they are sent; a meter that answers writes as reads says RD.
    m_bus.SetWriteReplyCommand(kCommandResponse);
    EXPECT_EQ(ReplyBody(Feed(TextBytes("12WX0C1+0012341")).at(0).bytes), "12RD0C1+0012341");
    EXPECT_EQ(ReplyBody(AskOne(12, 0, 2)), "12RD0C1+0012341");
    EXPECT_FALSE(m_bus.SetReadOnly(5, true));
}

TEST_F(SimBusTest, ProcessValueMovesWithTheClock) {
    // Bank 0: 100 + address, ±20 on a 30 s sine; bank 1: a 0..50 ramp over 50 s.
    const struct {
        std::chrono::milliseconds at;
        int bank;
        const char* reply;
    } cases[] = {
        {0ms, 0, "01RD0P0+0010101"},     {7500ms, 0, "01RD0P0+0012101"},
        {15000ms, 0, "01RD0P0+0010101"}, {22500ms, 0, "01RD0P0+0008101"},
        {0ms, 1, "01RD1P0+0000002"},     {25000ms, 1, "01RD1P0+0025002"},
        {50000ms, 1, "01RD1P0+0000002"},
    };
    for (const auto& c : cases) {
        m_now = c.at;
        EXPECT_EQ(ReplyBody(AskOne(1, c.bank, 0)), c.reply) << c.at.count() << " ms";
    }
    // A written P0 is where the value stands now; it moves on from there.
    m_now = 7500ms;
    EXPECT_EQ(ReplyBody(Feed(TextBytes("01WX0P0+0005001")).at(0).bytes), "01WD0P0+0005001");
    m_now = 15000ms;
    EXPECT_EQ(ReplyBody(AskOne(1)), "01RD0P0+0003001");
}

TEST_F(SimBusTest, DropsAndCorruptsByShare) {
    const std::vector<uint8_t> clean = AskOne(1);
    m_bus.SetDropPercent(100);
    EXPECT_TRUE(Ask(1).empty());
    EXPECT_EQ(m_bus.RepliesDropped(), 1U);

    m_bus.SetDropPercent(0);
    m_bus.SetCorruptPercent(100);
    const std::vector<uint8_t> corrupt = AskOne(1);
    ASSERT_EQ(corrupt.size(), 19U);
    EXPECT_EQ(Decode(corrupt).status, ResponseStatus::ResponseCorrupt);
    EXPECT_TRUE(std::equal(clean.begin(), clean.begin() + 18, corrupt.begin()))
        << "only the CRC is spoilt";
}

TEST_F(SimBusTest, OneShotFaultsHitOnlyTheNextReplies) {
    m_bus.DropNextReplies(2);
    EXPECT_TRUE(Ask(1).empty());
    EXPECT_TRUE(Ask(7).empty());
    EXPECT_EQ(Ask(12).size(), 1U);

    m_bus.CorruptNextReplies();
    EXPECT_EQ(Decode(AskOne(1)).status, ResponseStatus::ResponseCorrupt);
    EXPECT_EQ(Decode(AskOne(1)).status, ResponseStatus::ResponseOk);
}

TEST_F(SimBusTest, NoiseLongAndLateRepliesKeepTheFrameInside) {
    const std::vector<uint8_t> clean = AskOne(12, 0, 5);
    m_bus.SetNoiseBytes(5);
    std::vector<uint8_t> noisy = AskOne(12, 0, 5);
    ASSERT_EQ(noisy.size(), 24U);
    EXPECT_TRUE(std::equal(clean.begin(), clean.end(), noisy.begin() + 5));
    EXPECT_NE(Decode(noisy).status, ResponseStatus::ResponseOk);

    m_bus.SetNoiseBytes(0);
    m_bus.SetLongReply(45);
    const std::vector<uint8_t> longReply = AskOne(12, 0, 5);
    ASSERT_EQ(longReply.size(), 64U);
    EXPECT_TRUE(std::equal(clean.begin(), clean.end(), longReply.begin()));
    // The tool reads at most 60 bytes; those still decode.
    EXPECT_EQ(ParseResponseFrame(longReply.data(), kMaxResponseRead).status,
              ResponseStatus::ResponseOk);

    m_bus.SetLongReply(0);
    m_bus.SetDelay(900ms);
    const std::vector<SimReply> late = Ask(12, 0, 5);
    ASSERT_EQ(late.size(), 1U);
    EXPECT_EQ(late[0].delay, 900ms);
    EXPECT_EQ(late[0].bytes, clean);
}

// The emulator of the exchange tests: one meter late by its own delay, and replies whose value is
// the count of the requests their meter has heard and acted on, a dropped reply's included.
TEST_F(SimBusTest, AMeterOfItsOwnDelayAndRepliesThatCountTheRequests) {
    m_bus.SetDelay(20ms);
    ASSERT_TRUE(m_bus.SetMeterDelay(7, 321ms));
    EXPECT_FALSE(m_bus.SetMeterDelay(42, 1ms)) << "no meter 42";
    EXPECT_EQ(Ask(7)[0].delay, 321ms);
    EXPECT_EQ(Ask(1)[0].delay, 20ms) << "the others keep the bus's delay";
    ASSERT_TRUE(m_bus.SetMeterDelay(7, std::nullopt));
    EXPECT_EQ(Ask(7)[0].delay, 20ms);

    m_bus.SetCountRequests(true);
    EXPECT_EQ(ReplyBody(AskOne(7, 1, 4)), "07RD1C3+0000030") << "its third request";
    m_bus.DropNextReplies();
    EXPECT_TRUE(Ask(7).empty());
    m_bus.SetSilent(7, true);
    EXPECT_TRUE(Ask(7).empty()) << "heard by no one";
    m_bus.SetSilent(7, false);
    EXPECT_EQ(ReplyBody(AskOne(7)), "07RD0P0+0000050");
    EXPECT_EQ(m_bus.RequestsHeard(7), 5U);
    EXPECT_EQ(ReplyBody(AskOne(1)), "01RD0P0+0000020");
    m_bus.SetCountRequests(false);
    EXPECT_EQ(ReplyBody(AskOne(7, 1, 4)), "07RD1C3-0004051");
}

TEST_F(SimBusTest, RejectAndAnswerAsGiveWellFormedRepliesTheToolMustHandle) {
    m_bus.SetReject(true);
    const std::vector<uint8_t> echoed = AskOne(7);
    EXPECT_EQ(ReplyBody(echoed).substr(0, 4), "07RX");
    EXPECT_EQ(Decode(echoed).status, ResponseStatus::ResponseRejected);

    m_bus.SetReject(false);
    ASSERT_TRUE(m_bus.SetAnswerAs(7, 8));
    const DecodedResponse other = Decode(AskOne(7));
    ASSERT_EQ(other.status, ResponseStatus::ResponseOk);
    EXPECT_EQ(other.address, 8);
    m_bus.SetAnswerAs(7, -1);
    EXPECT_EQ(Decode(AskOne(7)).address, 7);
    EXPECT_FALSE(m_bus.SetAnswerAs(42, 8)) << "no meter 42";
}

TEST_F(SimBusTest, SilentMetersAndSilentWindows) {
    ASSERT_TRUE(m_bus.SetSilent(7, true));
    EXPECT_TRUE(Ask(7).empty());
    EXPECT_EQ(Ask(1).size(), 1U) << "the others still answer";
    m_bus.SetSilent(7, false);
    EXPECT_EQ(Ask(7).size(), 1U);

    ASSERT_TRUE(m_bus.AddSilentWindow(12, 5s, 10s));
    const struct {
        std::chrono::milliseconds at;
        bool answers;
    } cases[] = {{4999ms, true}, {5000ms, false}, {9999ms, false}, {10000ms, true}};
    for (const auto& c : cases) {
        m_now = c.at;
        EXPECT_EQ(Ask(12).size(), c.answers ? 1U : 0U) << c.at.count() << " ms";
    }
}

TEST_F(SimBusTest, ASilentMeterWritesNothing) {
    m_bus.SetSilent(1, true);
    EXPECT_TRUE(Feed(TextBytes("01WX0C0+0000010")).empty());
    EXPECT_DOUBLE_EQ(*m_bus.RegisterValue(1, 0, 1), 900.0);
}

TEST_F(SimBusTest, ADroppedReplyStillWrites) {
    m_bus.DropNextReplies();
    EXPECT_TRUE(Feed(TextBytes("01WX0C0+0000010")).empty());
    EXPECT_DOUBLE_EQ(*m_bus.RegisterValue(1, 0, 1), 1.0);
}

TEST_F(SimBusTest, LogsReceivedBodiesInOrderWithinItsCapacity) {
    Ask(1);
    Ask(5);
    Ask(12, 1, 3);
    std::vector<uint8_t> badCrc = RequestBytes(7, 0, 0);
    badCrc[kCrcOffset] ^= 1;
    Feed(badCrc);
    EXPECT_EQ(m_bus.ReceivedBodies(),
              (std::vector<std::string>{"01RX0P0+0000000", "05RX0P0+0000000", "12RX1C2+0000000"}));
    EXPECT_EQ(m_bus.FramesIgnored(), 1U);

    m_bus.ClearReceivedBodies();
    for (int i = 0; i < static_cast<int>(CSimBus::kBodyLogCapacity) + 6; ++i) {
        Ask(i % 100);
    }
    const std::vector<std::string> bodies = m_bus.ReceivedBodies();
    ASSERT_EQ(bodies.size(), CSimBus::kBodyLogCapacity);
    EXPECT_EQ(bodies.front(), "06RX0P0+0000000");
}

TEST_F(SimBusTest, AnswersEachFrameOfOneReadAndFramesSplitOverReads) {
    std::vector<uint8_t> both = RequestBytes(1, 0, 0);
    const std::vector<uint8_t> second = RequestBytes(12, 0, 0);
    both.insert(both.end(), second.begin(), second.end());
    const std::vector<SimReply> replies = Feed(both);
    ASSERT_EQ(replies.size(), 2U);
    EXPECT_EQ(Decode(replies[0].bytes).address, 1);
    EXPECT_EQ(Decode(replies[1].bytes).address, 12);

    const std::vector<uint8_t> frame = RequestBytes(7, 0, 0);
    EXPECT_TRUE(m_bus.Feed(std::span(frame.data(), 10)).empty());
    EXPECT_EQ(m_bus.Feed(std::span(frame.data() + 10, frame.size() - 10)).size(), 1U);
}

TEST(SimBus, SharesFollowTheSeed) {
    auto pattern = [](uint32_t seed) {
        CSimBus bus({CSimMeter(1)}, SimFaults{.nDropPercent = 50}, seed);
        std::string answered;
        for (int i = 0; i < 400; ++i) {
            answered += bus.Feed(RequestBytes(1, 0, 0)).empty() ? '-' : '+';
        }
        return answered;
    };
    const std::string first = pattern(7);
    EXPECT_EQ(first, pattern(7));
    EXPECT_NE(first, pattern(8));
    const auto dropped = std::count(first.begin(), first.end(), '-');
    EXPECT_GT(dropped, 120);
    EXPECT_LT(dropped, 280);
}

TEST(SimBus, HoldsFaultsAndMetersToTheirRanges) {
    CSimBus bus({CSimMeter(3), CSimMeter(3), CSimMeter(120)},
                SimFaults{.nDropPercent = 250, .nCorruptPercent = -4, .nNoiseBytes = 1 << 20});
    EXPECT_EQ(bus.Addresses(), std::vector<int>{3});
    const SimFaults faults = bus.Faults();
    EXPECT_EQ(faults.nDropPercent, 100);
    EXPECT_EQ(faults.nCorruptPercent, 0);
    EXPECT_EQ(faults.nNoiseBytes, SimFaults::kMaxExtraBytes);
    bus.SetDelay(-5ms);
    EXPECT_EQ(bus.Faults().delay, 0ms);
}

TEST(SimBus, ReplyForMatchesWhatTheMeterSends) {
    CSimBus bus({CSimMeter(9)}, {}, 1, [] { return 3000ms; });
    const std::optional<SimReplyFrame> expected = bus.ReplyFor(9, 0, 0);
    ASSERT_TRUE(expected);
    const std::vector<SimReply> replies = bus.Feed(RequestBytes(9, 0, 0));
    ASSERT_EQ(replies.size(), 1U);
    EXPECT_TRUE(std::equal(expected->begin(), expected->end(), replies[0].bytes.begin()));
    EXPECT_FALSE(bus.ReplyFor(10, 0, 0));
}

} // namespace
