#include "protocol/ReplyFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "protocol/FrameCodec.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ACK STX body ETX CRC, with the CRC right unless told otherwise.
Bytes Reply(std::string_view body, bool goodCrc = true) {
    Bytes r(kMinResponseLength, 0);
    r[0] = kAck;
    r[1] = kStx;
    std::copy_n(body.begin(), std::min<size_t>(body.size(), kFrameBodyLength), r.begin() + 2);
    r[17] = kEtx;
    const uint8_t crc = Crc8(r.data() + 2, 16);
    r[18] = goodCrc ? crc : static_cast<uint8_t>(crc ^ 0x01);
    return r;
}

// The 35 bytes of the request for P0 of meter 07, as an echoing converter hands them back.
Bytes Echo() {
    FrameBuffer frame{};
    BuildRequestFrame(frame, 7, kCommandRead, 0, kRegisterProcessValue, 0.0);
    return {frame.begin(), frame.begin() + kWireFrameLength};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes kOurs = Reply("07RD0P0+0012341");
const Bytes kNoise = {0x00, 0xFF, 0x06, 0x41, 0x02, 0x06, 0x06, 0x13, 0x7F};
// ACK STX, then bytes that do not make a reply with the bytes after them.
const Bytes kFalseStart = {0x06, 0x02, 0x30, 0x37, 0x52};

struct FinderCase {
    const char* name;
    std::vector<Bytes> chunks; // as the reads deliver them
    ReplyStatus status;
    Bytes raw;
};

// Meter 07 was asked for P0 in bank 0.
TEST(ReplyFinder, FindsTheReplyAndJudgesTheRest) {
    Bytes bigNoise(5000, 0x55);
    bigNoise[4990] = kAck; // a start that the reply right behind it cuts short
    bigNoise[4991] = kStx;
    std::vector<Bytes> oneByOne;
    for (const uint8_t b : Cat({kNoise, kOurs})) {
        oneByOne.push_back({b});
    }
    const Bytes cut(kOurs.begin(), kOurs.begin() + 12);

    const std::vector<FinderCase> cases = {
        {"the reply alone", {kOurs}, ReplyStatus::Ok, kOurs},
        {"noise, then the reply, a byte per read", oneByOne, ReplyStatus::Ok, kOurs},
        {"the echo of the request, then the reply", {Echo(), kOurs}, ReplyStatus::Ok, kOurs},
        {"a false start running into the reply",
         {Cat({kFalseStart, kOurs})},
         ReplyStatus::Ok,
         kOurs},
        {"a reply after more noise than is kept", {bigNoise, kOurs}, ReplyStatus::Ok, kOurs},
        {"another meter's reply, then ours",
         {Reply("08RD0P0+0012341"), kOurs},
         ReplyStatus::Ok,
         kOurs},
        {"a bad CRC, then the reply",
         {Reply("07RD0P0+0012341", false), kOurs},
         ReplyStatus::Ok,
         kOurs},
        {"the reply with more bytes after it",
         {Cat({kOurs, {0x00, 0xFF, 0xFF}})},
         ReplyStatus::Ok,
         kOurs},

        {"nothing", {}, ReplyStatus::Silent, {}},
        {"noise only", {kNoise}, ReplyStatus::Silent, kNoise},
        {"the echo only", {Echo()}, ReplyStatus::Silent, Echo()},
        {"another meter's reply only",
         {Reply("08RD0P0+0012341")},
         ReplyStatus::Silent,
         Reply("08RD0P0+0012341")},
        {"a lone ACK at the end", {{0x41, kAck}}, ReplyStatus::Silent, {0x41, kAck}},

        {"a wrong CRC",
         {Reply("07RD0P0+0012341", false)},
         ReplyStatus::Corrupt,
         Reply("07RD0P0+0012341", false)},
        {"cut short", {kNoise, cut}, ReplyStatus::Corrupt, cut},

        {"the command RX with a good CRC",
         {Reply("07RX0P0+0012341")},
         ReplyStatus::Rejected,
         Reply("07RX0P0+0012341")},
        {"another register",
         {Reply("07RD0C0+0012341")},
         ReplyStatus::Rejected,
         Reply("07RD0C0+0012341")},
        {"another bank",
         {Reply("07RD1P0+0012341")},
         ReplyStatus::Rejected,
         Reply("07RD1P0+0012341")},
        {"an unknown register code",
         {Reply("07RD0Z9+0012341")},
         ReplyStatus::Rejected,
         Reply("07RD0Z9+0012341")},
        {"refused, then a wrong CRC",
         {Reply("07RD0C0+0012341"), Reply("07RD0P0+0012341", false)},
         ReplyStatus::Rejected,
         Reply("07RD0C0+0012341")},
    };
    for (const FinderCase& c : cases) {
        CReplyFinder finder({7, 0, kRegisterProcessValue});
        for (const Bytes& chunk : c.chunks) {
            finder.Feed(chunk.data(), chunk.size());
        }
        EXPECT_EQ(finder.Status(), c.status) << c.name;
        EXPECT_EQ(finder.Raw(), c.raw) << c.name;
        EXPECT_EQ(finder.Found(), c.status == ReplyStatus::Ok) << c.name;
        if (finder.Found()) {
            EXPECT_EQ(finder.Reply().address, 7) << c.name;
            EXPECT_FLOAT_EQ(finder.Reply().value, 123.4F) << c.name;
            EXPECT_EQ(finder.Reply().decimals, 1) << c.name;
        }
    }
}

TEST(ReplyFinder, AnyBankAndRegisterWhenNoneIsExpected) {
    CReplyFinder finder({7, -1, -1});
    const Bytes reply = Reply("07RD1Y1-0005022");
    EXPECT_TRUE(finder.Feed(reply.data(), reply.size()));
    EXPECT_EQ(finder.Reply().bank, 1);
    EXPECT_EQ(finder.Reply().registerIndex, 10);
    EXPECT_FLOAT_EQ(finder.Reply().value, -5.02F);
}

TEST(ReplyFinder, IgnoresBytesAfterTheReply) {
    CReplyFinder finder({7, 0, kRegisterProcessValue});
    finder.Feed(kOurs.data(), kOurs.size());
    const Bytes later = Reply("07RD0P0+0099991", false);
    EXPECT_TRUE(finder.Feed(later.data(), later.size()));
    EXPECT_EQ(finder.Raw(), kOurs);
    EXPECT_FLOAT_EQ(finder.Reply().value, 123.4F);
}

} // namespace

// The answer to a write is WD, or RD from meters that answer a write as a read; a read is
// answered by RD alone, so a write's WD, late, never stands for a register's value.
TEST(ReplyFinder, AWritesAnswerIsWdOrRdAndNeverARead) {
    const Bytes wd = Reply("07WD0C1+0012341");
    const Bytes rd = Reply("07RD0C1+0012341");
    ReplyExpectation write{7, 0, 2};
    write.bWrite = true;
    for (const Bytes& answer : {wd, rd}) {
        CReplyFinder finder(write);
        EXPECT_TRUE(finder.Feed(answer.data(), answer.size()));
        EXPECT_FLOAT_EQ(finder.Reply().value, 123.4F);
        EXPECT_EQ(finder.Raw(), answer);
    }
    CReplyFinder read({7, 0, 2});
    EXPECT_FALSE(read.Feed(wd.data(), wd.size()));
    EXPECT_EQ(read.Status(), ReplyStatus::Rejected);
    EXPECT_TRUE(read.Feed(rd.data(), rd.size()));
    const Bytes wx = Reply("07WX0C1+0012341"); // an echo of the write itself
    CReplyFinder echoed(write);
    EXPECT_FALSE(echoed.Feed(wx.data(), wx.size()));
    EXPECT_EQ(echoed.Status(), ReplyStatus::Rejected);
}
