#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "protocol/FrameCodec.h"
#include "sim/RequestScanner.h"
#include "sim/SimFrames.h"
#include "sim/SimMeter.h"
#include "tests/sim/SimPeer.h"

namespace {

std::string Hex(std::span<const uint8_t> bytes) {
    return FormatHexDump(bytes.data(), static_cast<int>(bytes.size()));
}

struct ReplyCase {
    int address;
    int bank;
    int registerIndex;
    double value;
    int decimals;
    const char* wire;
};

// Replies whose bytes the tool's codec documents; the meter must produce exactly these.
TEST(SimReplyFrame, MatchesTheDocumentedResponseBytes) {
    const ReplyCase cases[] = {
        {1, 0, 0, 123.4, 1, "06 02 30 31 52 44 30 50 30 2B 30 30 31 32 33 34 31 03 B2 "},
        {1, 0, 0, -12.34, 2, "06 02 30 31 52 44 30 50 30 2D 30 30 31 32 33 34 32 03 14 "},
        {7, 1, 2, 0.0, 0, "06 02 30 37 52 44 31 43 31 2B 30 30 30 30 30 30 30 03 DA "},
        {99, 0, 0, 123456.0, 0, "06 02 39 39 52 44 30 50 30 2B 31 32 33 34 35 36 30 03 17 "},
        {1, 0, 0, 123.456, 3, "06 02 30 31 52 44 30 50 30 2B 31 32 33 34 35 36 33 03 AE "},
    };
    for (const ReplyCase& c : cases) {
        const SimReplyFrame frame = BuildReplyFrame(c.address, kCommandResponse, c.bank,
                                                    c.registerIndex, c.value, c.decimals);
        EXPECT_EQ(Hex(frame), c.wire) << c.address << " " << c.value;
    }
}

TEST(SimReplyFrame, EncodesValuesWithinTheSixDigits) {
    struct Case {
        double value;
        int decimals;
        bool negative;
        int digits;
        int shownDecimals;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {123.4, 1, false, 1234, 1},  {-12.34, 2, true, 1234, 2},
        {0.0001, 4, false, 1, 4},    {0.00005, 5, false, 5, 5},
        {2.5, 0, false, 3, 0},       {-0.00001, 4, false, 0, 4}, // rounds to +0
        {-0.0, 0, false, 0, 0},      {1e9, 0, false, 999999, 0},
        {-1e9, 2, true, 999999, 2},  {inf, 0, false, 999999, 0},
        {-inf, 0, true, 999999, 0},  {std::nan(""), 1, false, 999999, 1},
        {0.5, 12, false, 999999, 9}, {2.6, -3, false, 3, 0},
    };
    for (const Case& c : cases) {
        const ValueField encoded = EncodeValue(c.value, c.decimals);
        EXPECT_EQ(encoded.bNegative, c.negative) << c.value;
        EXPECT_EQ(encoded.nDigits, c.digits) << c.value;
        EXPECT_EQ(encoded.nDecimals, c.shownDecimals) << c.value;
    }
}

// Every default register of a meter survives the trip through the tool's decoder.
TEST(SimReplyFrame, DefaultRegistersDecodeToTheirValues) {
    const CSimMeter meter(12);
    for (int bank = 0; bank < CSimMeter::kBankCount; ++bank) {
        for (int reg = 0; reg < kRegisterCount; ++reg) {
            const double value = meter.Value(bank, reg, std::chrono::milliseconds{0});
            const int decimals = meter.Decimals(bank, reg);
            const SimReplyFrame frame =
                BuildReplyFrame(12, kCommandResponse, bank, reg, value, decimals);
            const DecodedResponse decoded = ParseResponseFrame(frame.data(), kReplyFrameLength);
            ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk) << bank << "/" << reg;
            EXPECT_EQ(decoded.address, 12);
            EXPECT_EQ(decoded.bank, bank);
            EXPECT_EQ(decoded.registerIndex, reg);
            EXPECT_EQ(decoded.decimals, decimals);
            EXPECT_NEAR(decoded.value, value, std::abs(value) * 1e-6 + 1e-9) << bank << "/" << reg;
        }
    }
}

TEST(SimRequestBody, ReadsWhatAMeterUnderstands) {
    const std::optional<SimRequest> read = ParseRequestBody("01RX0P0+0000000");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->address, 1);
    EXPECT_EQ(read->commandIndex, kCommandRead);
    EXPECT_EQ(read->bank, 0);
    EXPECT_EQ(read->registerIndex, 0);
    EXPECT_EQ(read->value, 0.0);

    const std::optional<SimRequest> write = ParseRequestBody("12WX1C3-0012342");
    ASSERT_TRUE(write);
    EXPECT_EQ(write->address, 12);
    EXPECT_EQ(write->commandIndex, 2);
    EXPECT_EQ(write->bank, 1);
    EXPECT_EQ(write->registerIndex, 4);
    EXPECT_DOUBLE_EQ(write->value, -12.34);
    EXPECT_EQ(write->decimals, 2);

    const std::optional<SimRequest> spaceSign = ParseRequestBody("99WD9Y1 0000055");
    ASSERT_TRUE(spaceSign);
    EXPECT_DOUBLE_EQ(spaceSign->value, 0.00005);

    for (const char* body : {"1RX0P0+0000000", "01RX0P0+00000000", "0ARX0P0+0000000",
                             "01ZZ0P0+0000000", "01RXAP0+0000000", "01RX0Z9+0000000",
                             "01RX0P0*0000000", "01RX0P0+00A0000", "01RX0P0+000000X"}) {
        EXPECT_FALSE(ParseRequestBody(body)) << body;
    }
}

TEST(RequestScanner, FindsTheToolsFramesAndSkipsTheirFill) {
    CRequestScanner scanner;
    std::vector<uint8_t> stream = RequestBytes(1, 0, 0);
    const std::vector<uint8_t> second = RequestBytes(12, 1, 10);
    stream.insert(stream.end(), second.begin(), second.end());
    scanner.Push(stream);

    const auto first = scanner.Next();
    ASSERT_TRUE(first && first->bValid);
    EXPECT_EQ(first->body, "01RX0P0+0000000");
    const auto next = scanner.Next();
    ASSERT_TRUE(next && next->bValid);
    EXPECT_EQ(next->body, "12RX1Y1+0000000");
    EXPECT_FALSE(scanner.Next());
    EXPECT_EQ(scanner.PendingSize(), 0U);
}

TEST(RequestScanner, WaitsForAFrameSplitAcrossReads) {
    CRequestScanner scanner;
    const std::vector<uint8_t> frame = RequestBytes(7, 0, 3);
    for (size_t i = 0; i + 1 < 18; ++i) {
        scanner.Push(std::span(&frame[i], 1));
        EXPECT_FALSE(scanner.Next()) << "after byte " << i;
    }
    scanner.Push(std::span(&frame[17], 1));
    const auto found = scanner.Next();
    ASSERT_TRUE(found && found->bValid);
    EXPECT_EQ(found->body, "07RX0C2+0000000");
}

// A stray STX just before a real frame costs one invalid candidate, not the frame.
TEST(RequestScanner, RecoversAFrameBehindNoise) {
    CRequestScanner scanner;
    std::vector<uint8_t> stream = {0x55, kStx, 0x00};
    const std::vector<uint8_t> frame = RequestBytes(5, 0, 1);
    stream.insert(stream.end(), frame.begin(), frame.end());
    scanner.Push(stream);
    const auto noise = scanner.Next();
    ASSERT_TRUE(noise);
    EXPECT_FALSE(noise->bValid);
    const auto found = scanner.Next();
    ASSERT_TRUE(found && found->bValid);
    EXPECT_EQ(found->body, "05RX0C0+0000000");
}

TEST(RequestScanner, RefusesWrongCrcAndMissingEtx) {
    std::vector<uint8_t> badCrc = RequestBytes(1, 0, 0);
    badCrc[kCrcOffset] ^= 0x01;
    // Fourteen characters: the CRC still covers offsets 1..16, but offset 16 holds a space.
    const std::vector<uint8_t> shortText = TextBytes("01RX0P0+000000");
    for (const auto& bytes : {badCrc, shortText}) {
        CRequestScanner scanner;
        scanner.Push(bytes);
        while (const auto frame = scanner.Next()) {
            EXPECT_FALSE(frame->bValid);
        }
    }
}

TEST(RequestScanner, KeepsNothingOfAStreamWithoutStx) {
    CRequestScanner scanner;
    const std::vector<uint8_t> fill(1000, kFill);
    scanner.Push(fill);
    EXPECT_FALSE(scanner.Next());
    EXPECT_EQ(scanner.PendingSize(), 0U);
}

} // namespace
