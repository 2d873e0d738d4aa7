// The exchange steps of the meter session, without a window: the session shows itself through a
// recording view, and the port's system calls are the recording fake, whose line the test plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "protocol/FrameCodec.h"
#include "tests/support/PtyMeter.h"
#include "tests/ui/SessionFixture.h"

namespace {

std::string Entry(int address) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%02d", address);
    return text.data();
}

class ExchangeTest : public SessionFixture {
protected:
    // The bytes written since the last look.
    std::vector<uint8_t> Sent() { return std::exchange(m_line.sent, {}); }
    static std::vector<uint8_t> Wire(const FrameBuffer& frame) {
        return {frame.begin(), frame.begin() + kWireFrameLength};
    }
    void List(std::initializer_list<int> addresses, int selected) {
        SessionFixture::List(addresses);
        m_view.selection = m_view.FindAddressEntry(Entry(selected));
    }
    // The address the poll cycle polled last, as a send tick would have left it.
    void SetCurrentAddress(int address) {
        PollCycleState state = m_session.PollState();
        state.currentAddress = address;
        m_session.SetPollState(state);
    }
    // The reply waits on the line when the session reads.
    bool Receive(const std::vector<uint8_t>& bytes, RegisterSnapshot* pSnapshot = nullptr) {
        m_line.input = bytes;
        return m_session.ReceiveResponse(pSnapshot);
    }
    // The events of the lamps, the texts, their showing and the transmission, in order.
    std::vector<std::string> Timeline() const {
        std::vector<std::string> timeline;
        for (const std::string& event : m_line.events) {
            for (const char* kind :
                 {"inq", "read", "lamp", "crc", "body", "show", "rts", "write"}) {
                if (event.rfind(kind, 0) == 0) {
                    timeline.push_back(event);
                    break;
                }
            }
        }
        return timeline;
    }
};

TEST_F(ExchangeTest, RequestShowsItsBodyAndCrcAndSendsThirtyFiveBytesWithTheLamps) {
    EXPECT_TRUE(m_session.SendRequest(3, 0, 1, 0, 0.0));

    EXPECT_EQ(m_view.textEdit, "03RX1P0+0000000");
    EXPECT_EQ(m_view.crc, "ETX,C4");
    FrameBuffer expected{};
    ASSERT_TRUE(BuildRequestFrame(expected, 3, 0, 1, 0, 0.0));
    EXPECT_EQ(Sent(), Wire(expected));
    // The drain first; the send lamp green and the texts shown before RTS goes up; both lamps at
    // rest once the frame is out, the receive lamp untouched until then.
    EXPECT_EQ(Timeline(), (std::vector<std::string>{"inq", "lamp send green", "crc ETX,C4",
                                                    "body 03RX1P0+0000000", "show", "rts on",
                                                    "write 35", "rts off", "lamp receive darkgreen",
                                                    "lamp send darkgreen"}));
}

TEST_F(ExchangeTest, RequestWithArgumentsOutOfRangeSendsNothingAndSaysSo) {
    EXPECT_FALSE(m_session.SendRequest(100, 0, 0, 0, 0.0));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(m_view.crc, "ETX,CRC");
    EXPECT_EQ(m_view.textEdit, "");
}

TEST_F(ExchangeTest, SendTransmitsTheShownBodyAgainThenReadsTheReplyAfterASecond) {
    m_session.SendRequest(3, 0, 1, 0, 0.0);
    const std::vector<uint8_t> request = Sent();
    ASSERT_EQ(request.size(), 35U);

    // The meter answers while the session waits.
    m_view.fnDuringSleep = [this](int) { m_line.input = ReplyFrame("03RD1P0-0012342"); };
    m_session.SendText();

    EXPECT_EQ(Sent(), request);
    EXPECT_EQ(m_view.sleeps, std::vector<int>{1000});
    EXPECT_EQ(m_view.textEdit, "03RX1P0+0000000");
    EXPECT_EQ(m_view.crc, "ETX,C4");
    EXPECT_EQ(m_view.response.size(), 19U * 3);
    EXPECT_EQ(m_view.response.rfind("06 02 30 33 52 44 ", 0), 0U) << m_view.response;
    EXPECT_EQ(m_view.entries, std::vector<std::string>{"03"});
    EXPECT_EQ(m_view.LampOf(Lamp::Receive), LampColour::Green);
}

TEST_F(ExchangeTest, TypedTextIsSentAsTheUserWroteIt) {
    m_view.textEdit = "07RX0C0+0000000";
    m_session.SendText();
    FrameBuffer expected{};
    const uint8_t crc = BuildTextFrame(expected, "07RX0C0+0000000");
    EXPECT_EQ(Sent(), Wire(expected));
    EXPECT_EQ(m_view.crc, FormatCrcText(crc));
    EXPECT_EQ(m_view.textEdit, "07RX0C0+0000000");
    const std::vector<std::string> timeline = Timeline();
    EXPECT_LT(std::find(timeline.begin(), timeline.end(), "show"),
              std::find(timeline.begin(), timeline.end(), "rts on"))
        << "the green lamp and the CRC are on screen before the frame goes out";
    // No reply: the polled address (none since the reset) stays, the receive lamp turns yellow.
    EXPECT_EQ(m_view.LampOf(Lamp::Receive), LampColour::Yellow);
}

TEST_F(ExchangeTest, AcceptedValueOfTheSelectedMeterReachesThePanel) {
    RegisterSnapshot snapshot;
    EXPECT_TRUE(Receive(ReplyFrame("05RD0P0-0012342"), &snapshot)); // -12.34 from 05

    EXPECT_EQ(m_view.entries, std::vector<std::string>{"05"});
    EXPECT_EQ(m_view.AddressListText(), "05");
    EXPECT_STREQ(m_session.DisplayText(), "-12.34");
    EXPECT_EQ(m_view.value, "-12.34");
    EXPECT_EQ(snapshot.address, 5);
    EXPECT_FLOAT_EQ(snapshot.values[0], -12.34F);
    EXPECT_EQ(m_view.LampOf(Lamp::Receive), LampColour::Green);
}

TEST_F(ExchangeTest, AcceptedRepliesThatDoNotChangeTheDisplay) {
    struct Case {
        const char* name;
        const char* body;
        bool bBank1;
        std::vector<std::string> entries; // after
        int snapshotSlot;
    };
    const std::vector<Case> cases = {
        {"bank 0 while Bank 1 is checked", "03RD0P0+0001251", true, {"03", "07"}, 0},
        {"listed but not selected", "07RD0P0+0001251", false, {"03", "07"}, 0},
        {"C0 of the selected meter", "03RD0C0+0001251", false, {"03", "07"}, 1},
        {"unlisted while another is selected", "09RD0P0+0001251", false, {"03", "07", "09"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.entries.clear();
        m_view.selection = -1;
        List({3, 7}, 3);
        m_view.Check(Box::Bank1, c.bBank1);
        m_view.value.clear();
        RegisterSnapshot snapshot;
        EXPECT_TRUE(Receive(ReplyFrame(c.body), &snapshot));
        EXPECT_EQ(m_view.entries, c.entries);
        EXPECT_EQ(m_view.AddressListText(), "03");
        EXPECT_STREQ(m_session.DisplayText(), "    0");
        EXPECT_EQ(m_view.value, "") << "the value was drawn";
        EXPECT_FLOAT_EQ(snapshot.values[static_cast<size_t>(c.snapshotSlot)], 12.5F);
        EXPECT_EQ(m_view.LampOf(Lamp::Receive), LampColour::Green);
    }
}

TEST_F(ExchangeTest, CorruptOrMissingReplyRemovesThePolledAddress) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> badCrc = ReplyFrame("07RD0P0+0001251");
    badCrc.back() ^= 0x01;
    const std::vector<uint8_t> shortReply(badCrc.begin(), badCrc.begin() + 18);
    const std::vector<Case> cases = {
        {"no bytes", {}},
        {"CRC mismatch", badCrc},
        {"18 bytes", shortReply},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.entries.clear();
        m_view.selection = -1;
        List({3, 7, 12}, 12);
        SetCurrentAddress(7);
        m_view.lamps = {};
        EXPECT_FALSE(Receive(c.bytes));
        EXPECT_EQ(m_view.entries, (std::vector<std::string>{"03", "12"}));
        EXPECT_EQ(m_view.AddressListText(), "03");
        EXPECT_EQ(m_view.LampOf(Lamp::Receive), LampColour::Yellow);
        EXPECT_EQ(m_view.response, FormatHexDump(c.bytes.data(), static_cast<int>(c.bytes.size())));
    }
    // With nothing polled since the reset (-1) the list stays as it is.
    SetCurrentAddress(-1);
    EXPECT_FALSE(Receive({}));
    EXPECT_EQ(m_view.entries, (std::vector<std::string>{"03", "12"}));
}

TEST_F(ExchangeTest, RejectedReplyChangesNothingButTheDump) {
    std::vector<uint8_t> noAck = ReplyFrame("03RD0P0+0001251");
    noAck[0] = 0x15;
    const std::vector<std::vector<uint8_t>> rejected = {noAck, ReplyFrame("03RX0P0+0001251"),
                                                        ReplyFrame("03RD0Q9+0001251")};
    List({3}, 3);
    SetCurrentAddress(3);
    for (const auto& bytes : rejected) {
        m_view.lamps = {};
        RegisterSnapshot snapshot;
        snapshot.address = 77;
        EXPECT_FALSE(Receive(bytes, &snapshot));
        EXPECT_EQ(m_view.response, FormatHexDump(bytes.data(), 19));
        EXPECT_EQ(m_view.entries, std::vector<std::string>{"03"});
        EXPECT_EQ(m_view.LampOf(Lamp::Receive), std::nullopt);
        EXPECT_STREQ(m_session.DisplayText(), "    0");
        EXPECT_EQ(snapshot.address, 77);
    }
}

TEST_F(ExchangeTest, ReplyFromAnotherAddressIsHandledWithItsOwn) {
    List({7}, 7);
    SetCurrentAddress(7);
    EXPECT_TRUE(Receive(ReplyFrame("09RD0P0+0001251")));
    EXPECT_EQ(m_view.entries, (std::vector<std::string>{"07", "09"}));
    EXPECT_EQ(m_view.AddressListText(), "07");
}

TEST_F(ExchangeTest, RequestDrainsAtMostSixtyFourWaitingBytes) {
    std::vector<uint8_t> noise(100);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(i);
    }
    m_line.input = noise;
    m_session.SendRequest(3, 0, 0, 0, 0.0);
    EXPECT_EQ(Sent().size(), 35U);
    // The 36 bytes beyond the first 64 lead the next read.
    m_session.ReceiveResponse(nullptr);
    EXPECT_EQ(m_view.response, FormatHexDump(noise.data() + 64, 36));
}

} // namespace
