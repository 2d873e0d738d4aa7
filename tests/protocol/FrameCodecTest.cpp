#include "protocol/FrameCodec.h"

#include <gtest/gtest.h>

#include "tests/support/CommaLocale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

// ACK STX body ETX crc, the reply layout.
std::vector<uint8_t> Response(std::string_view body, uint8_t crc) {
    std::vector<uint8_t> r(19, 0);
    r[0] = kAck;
    r[1] = kStx;
    std::copy_n(body.begin(), std::min<size_t>(body.size(), 15), r.begin() + 2);
    r[17] = kEtx;
    r[18] = crc;
    return r;
}

// Reply with a correct CRC over whatever body it carries.
std::vector<uint8_t> SignedResponse(std::string_view body) {
    auto r = Response(body, 0);
    r[18] = Crc8(r.data() + 2, 16);
    return r;
}

// --- CRC-8: one table of known check values drives every CRC test ------------------------
struct CrcCase {
    const char* name;
    std::vector<uint8_t> data;
    uint8_t crc;
};

TEST(Crc8, CheckValues) {
    const std::vector<CrcCase> cases = {
        {"standard check", Bytes("123456789"), 0xA1},
        {"single zero", {0x00}, 0x00},
        {"single one", {0x01}, 0x5E},
        {"single ff", {0xFF}, 0x35},
        {"request 01 P0", Bytes("01RX0P0+0000000\x03"), 0xB5},
        {"request 00 P0", Bytes("00RX0P0+0000000\x03"), 0x35},
        {"request 05 C0 bank 1", Bytes("05RX1C0+0000000\x03"), 0x6C},
        {"request 12 Y1", Bytes("12RX0Y1+0000000\x03"), 0x45},
        {"reply 01 P0 123.4", Bytes("01RD0P0+0012341\x03"), 0xB2},
        {"empty text frame",
         {0x03, 0x20, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF},
         0x91},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Crc8(c.data.data(), static_cast<int>(c.data.size())), c.crc) << c.name;
    }
    const uint8_t one = 1;
    EXPECT_EQ(Crc8(nullptr, 5), 0);
    EXPECT_EQ(Crc8(&one, 0), 0);
    EXPECT_EQ(Crc8(&one, -3), 0);
}

// The table against the CRC as the 1-Wire standard defines it: a shift register fed one bit at a
// time, least significant bit first, with x^8 + x^5 + x^4 + 1 fed back. Every one-byte input
// reaches one table entry, so a single wrong entry shows here.
uint8_t Crc8BitByBit(const uint8_t* data, int length) {
    uint8_t crc = 0;
    for (int i = 0; i < length; ++i) {
        uint8_t byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool bFeedback = ((crc ^ byte) & 1U) != 0;
            crc = static_cast<uint8_t>(crc >> 1);
            if (bFeedback) {
                crc ^= 0x8C; // x^8 + x^5 + x^4 + 1, reflected
            }
            byte = static_cast<uint8_t>(byte >> 1);
        }
    }
    return crc;
}

TEST(Crc8, TableMatchesTheBitwiseDefinitionForEveryByte) {
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<uint8_t>(value);
        EXPECT_EQ(Crc8(&byte, 1), Crc8BitByBit(&byte, 1)) << "byte " << value;
    }
    const std::vector<uint8_t> check = Bytes("123456789");
    EXPECT_EQ(Crc8BitByBit(check.data(), static_cast<int>(check.size())), 0xA1)
        << "the reference itself gives the standard's check value";
}

// --- Request frames ------------------------------------------------------------------------
struct RequestCase {
    int address, command, bank, reg;
    double value;
    const char* body;
    uint8_t crc;
};

TEST(BuildRequestFrame, BodiesAndCrcs) {
    const RequestCase cases[] = {
        {1, 0, 0, 0, 0.0, "01RX0P0+0000000", 0xB5},
        {0, 0, 0, 0, 0.0, "00RX0P0+0000000", 0x35},
        {5, 0, 1, 1, 0.0, "05RX1C0+0000000", 0x6C},
        {12, 0, 0, 10, 0.0, "12RX0Y1+0000000", 0x45},
        {99, 3, 9, 5, -42.6, "99WD9K0-0000430", 0},
        {7, 2, 0, 7, 999999.4, "07WX0X0+9999990", 0},
        // Rounded as "%+07.0f" rounds: halves to even, and a value below zero keeps its sign.
        {3, 0, 0, 0, 2.5, "03RX0P0+0000020", 0},
        {3, 0, 0, 0, 3.5, "03RX0P0+0000040", 0},
        {3, 0, 0, 0, 0.5, "03RX0P0+0000000", 0},
        {3, 0, 0, 0, -0.4, "03RX0P0-0000000", 0},
        {3, 0, 0, 0, -999999.4, "03RX0P0-9999990", 0},
    };
    for (const auto& c : cases) {
        FrameBuffer frame{};
        const auto crc = BuildRequestFrame(frame, c.address, c.command, c.bank, c.reg, c.value);
        ASSERT_TRUE(crc.has_value()) << c.body;
        EXPECT_EQ(FrameBody(frame), c.body);
        const std::string bodyEtx = std::string(c.body) + "\x03";
        EXPECT_EQ(*crc, Crc8(reinterpret_cast<const uint8_t*>(bodyEtx.data()), 16)) << c.body;
        if (c.crc != 0) {
            EXPECT_EQ(*crc, c.crc) << c.body;
        }
        EXPECT_EQ(frame[kCrcOffset], *crc);
    }
}

TEST(BuildRequestFrame, WireBytesOfAddressOne) {
    FrameBuffer frame{};
    ASSERT_EQ(BuildRequestFrame(frame, 1, 0, 0, 0, 0.0), std::optional<uint8_t>(0xB5));
    const std::vector<uint8_t> expected = {0x02, 0x30, 0x31, 0x52, 0x58, 0x30, 0x50,
                                           0x30, 0x2B, 0x30, 0x30, 0x30, 0x30, 0x30,
                                           0x30, 0x30, 0x03, 0xB5, 0x00};
    for (size_t i = 0; i < frame.size(); ++i) {
        EXPECT_EQ(frame[i], i < expected.size() ? expected[i] : 0xFF) << "offset " << i;
    }
    EXPECT_EQ(FormatCrcText(0xB5), "ETX,B5");
    EXPECT_EQ(FormatCrcText(0x0A), "ETX,0A");
}

TEST(BuildRequestFrame, OutOfRangeBuildsNothing) {
    const RequestCase bad[] = {
        {-1, 0, 0, 0, 0, "", 0},   {100, 0, 0, 0, 0, "", 0},          {1, -1, 0, 0, 0, "", 0},
        {1, 4, 0, 0, 0, "", 0},    {1, 0, -1, 0, 0, "", 0},           {1, 0, 10, 0, 0, "", 0},
        {1, 0, 0, -1, 0, "", 0},   {1, 0, 0, 11, 0, "", 0},           {1, 0, 0, 0, 999999.5, "", 0},
        {1, 0, 0, 0, -1e9, "", 0}, {1, 0, 0, 0, std::nan(""), "", 0},
    };
    for (const auto& c : bad) {
        FrameBuffer frame{};
        frame.fill(0xAB);
        EXPECT_FALSE(BuildRequestFrame(frame, c.address, c.command, c.bank, c.reg, c.value))
            << c.address << " " << c.command << " " << c.bank << " " << c.reg << " " << c.value;
        EXPECT_EQ(frame[0], 0xAB) << "buffer touched";
    }
}

// --- Text frames ---------------------------------------------------------------------------
TEST(BuildTextFrame, LayoutByLength) {
    const std::string body = "01RX0P0+0000000";
    FrameBuffer request{};
    ASSERT_TRUE(BuildRequestFrame(request, 1, 0, 0, 0, 0.0));

    FrameBuffer frame{};
    EXPECT_EQ(BuildTextFrame(frame, body), 0xB5);
    EXPECT_EQ(frame, request) << "a 15-character body gives the request frame byte for byte";

    EXPECT_EQ(BuildTextFrame(frame, ""), 0x91);
    EXPECT_EQ(frame[0], kStx);
    EXPECT_EQ(frame[1], kEtx);
    EXPECT_EQ(frame[2], 0x20);
    EXPECT_EQ(frame[3], 0x00);
    for (int i = 4; i < kFrameBufferSize; ++i) {
        EXPECT_EQ(frame[i], i == kCrcOffset ? 0x91 : 0xFF) << "offset " << i;
    }

    const std::string sixteen = body + "X";
    const uint8_t crc16 = BuildTextFrame(frame, sixteen);
    EXPECT_EQ(frame[16], 'X');
    EXPECT_EQ(frame[kCrcOffset], crc16) << "the ETX at 17 is replaced by the CRC";
    EXPECT_EQ(frame[18], 0x20);
    EXPECT_EQ(std::count(frame.begin(), frame.begin() + kWireFrameLength, kEtx), 0);

    const std::string seventeen = body + "XY";
    const uint8_t crc17 = BuildTextFrame(frame, seventeen);
    EXPECT_EQ(frame[kCrcOffset], crc17) << "the 17th character is replaced";
    EXPECT_EQ(frame[18], kEtx);
    EXPECT_EQ(crc17, Crc8(reinterpret_cast<const uint8_t*>(sixteen.data()), 16));

    const std::string long34(34, 'A');
    BuildTextFrame(frame, long34);
    EXPECT_EQ(frame[34], 'A');
    EXPECT_EQ(frame[35], kEtx) << "the ETX lies beyond the 35 bytes on the wire";
}

TEST(BuildTextFrame, LongTextIsCutToSixty) {
    FrameBuffer cut{};
    FrameBuffer sixty{};
    const std::string text(200, 'Z');
    const uint8_t crc = BuildTextFrame(cut, text);
    EXPECT_EQ(crc, BuildTextFrame(sixty, text.substr(0, 60)));
    EXPECT_EQ(cut, sixty);
    EXPECT_EQ(cut[61], kEtx);
    EXPECT_EQ(cut[62], 0x20);
    EXPECT_EQ(cut[63], 0x00);
}

// --- Replies -------------------------------------------------------------------------------
struct ReplyCase {
    const char* body;
    uint8_t crc;
    int address, bank, reg;
    float value;
    int decimals;
    const char* text;
};

TEST(ParseResponseFrame, GoodReplies) {
    const ReplyCase cases[] = {
        {"01RD0P0+0012341", 0xB2, 1, 0, 0, 123.4F, 1, " 123.4"},
        {"01RD0P0-0012342", 0x14, 1, 0, 0, -12.34F, 2, "-12.34"},
        {"07RD1C1+0000000", 0xDA, 7, 1, 2, 0.0F, 0, "    0"},
        {"99RD0P0+1234560", 0x17, 99, 0, 0, 123456.0F, 0, "123456"},
        {"01RD0P0+1234563", 0xAE, 1, 0, 0, 123.456009F, 3, "123.456"},
    };
    for (const auto& c : cases) {
        const auto bytes = Response(c.body, c.crc);
        const auto r = ParseResponseFrame(bytes.data(), static_cast<int>(bytes.size()));
        ASSERT_EQ(r.status, ResponseStatus::ResponseOk) << c.body;
        EXPECT_EQ(r.address, c.address) << c.body;
        EXPECT_EQ(r.bank, c.bank) << c.body;
        EXPECT_EQ(r.registerIndex, c.reg) << c.body;
        EXPECT_EQ(r.value, c.value) << c.body; // bit-exact, not near
        EXPECT_EQ(r.decimals, c.decimals) << c.body;
        EXPECT_EQ(FormatValueText(r.value, r.decimals), c.text) << c.body;
    }
    // Scaling by repeated multiplication differs from a division in the last bit.
    const auto three = Response("01RD0P0+1234563", 0xAE);
    EXPECT_NE(ParseResponseFrame(three.data(), 19).value, static_cast<float>(123456 / 1000.0));
}

TEST(ParseResponseFrame, StatusOfMalformedReplies) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        ResponseStatus status;
    };
    const auto good = Response("01RD0P0+0012341", 0xB2);
    const std::vector<uint8_t> shortReply(good.begin(), good.begin() + 18);
    auto badCrc = good;
    badCrc[18] ^= 0x01;
    auto nak = good;
    nak[0] = 0x15;
    auto noStx = SignedResponse("01RD0P0+0012341");
    noStx[1] = 0x01;
    const std::vector<Case> cases = {
        {"nothing", {}, ResponseStatus::ResponseCorrupt},
        {"18 bytes", shortReply, ResponseStatus::ResponseCorrupt},
        {"one CRC bit", badCrc, ResponseStatus::ResponseCorrupt},
        {"NAK in byte 0 (not under the CRC)", nak, ResponseStatus::ResponseRejected},
        {"no STX", noStx, ResponseStatus::ResponseRejected},
        {"echoed RX", SignedResponse("01RX0P0+0012341"), ResponseStatus::ResponseRejected},
        {"register Z9", SignedResponse("01RD0Z9+0012341"), ResponseStatus::ResponseRejected},
        {"address A0 = 170", SignedResponse("A0RD0P0+0012341"), ResponseStatus::ResponseRejected},
        {"address below 0", SignedResponse("/0RD0P0+0012341"), ResponseStatus::ResponseRejected},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseResponseFrame(c.bytes.data(), static_cast<int>(c.bytes.size())).status,
                  c.status)
            << c.name;
    }
    EXPECT_EQ(ParseResponseFrame(nullptr, 19).status, ResponseStatus::ResponseCorrupt);
}

TEST(ParseResponseFrame, LooseFieldsAsDecoded) {
    const auto colon = SignedResponse("0:RD0P0+0000050");
    const auto r = ParseResponseFrame(colon.data(), 19);
    ASSERT_EQ(r.status, ResponseStatus::ResponseOk);
    EXPECT_EQ(r.address, 10) << "only the resulting number is tested";

    const auto space = SignedResponse("01RD0P0 0000120");
    EXPECT_EQ(ParseResponseFrame(space.data(), 19).value, 12.0F) << "any sign but '-' is positive";

    auto trailing = Response("01RD0P0+0012341", 0xB2);
    for (const uint8_t extra : {0x00, 0xFF, 0xFF}) {
        trailing.push_back(extra);
    }
    const auto t = ParseResponseFrame(trailing.data(), static_cast<int>(trailing.size()));
    EXPECT_EQ(t.status, ResponseStatus::ResponseOk);
    EXPECT_EQ(t.value, 123.4F);

    const auto notDigits = SignedResponse("01RD0P0+00000A0");
    EXPECT_EQ(ParseResponseFrame(notDigits.data(), 19).value, 17.0F) << "'A' - '0' = 17";

    const auto wideDecimals = SignedResponse("01RD0P0-999999~");
    const auto w = ParseResponseFrame(wideDecimals.data(), 19);
    ASSERT_EQ(w.status, ResponseStatus::ResponseOk);
    EXPECT_EQ(w.decimals, '~' - '0');
    EXPECT_LE(FormatValueText(w.value, w.decimals).size(), 29U);
}

TEST(FormatValueText, WidthPrecisionAndBound) {
    EXPECT_EQ(FormatValueText(0.0F, 0), "    0");
    EXPECT_EQ(FormatValueText(1.5F, 1), "   1.5");
    EXPECT_EQ(FormatValueText(-3.0F, -2), "    -3") << "negative decimals: precision 0, width 6";
    EXPECT_EQ(FormatValueText(1.0F, 12), "1.000000000") << "precision clamped to 9";
    EXPECT_EQ(FormatValueText(-3.4e38F, 9).size(), 29U);
}

TEST(FormatValueText, DecimalPointWhateverTheLocale) {
    // Many desktops write a decimal comma; the display only has a point.
    const CCommaDecimalLocale locale;
    if (!locale.IsSet()) {
        GTEST_SKIP() << "no locale with a decimal comma could be set up";
    }
    EXPECT_EQ(FormatValueText(-12.34F, 2), "-12.34");
    EXPECT_EQ(FormatValueText(123.456009F, 3), "123.456");
    EXPECT_EQ(FormatValueText(0.0F, 0), "    0");
}

TEST(FormatHexDump, UpperCaseWithSpaces) {
    const uint8_t bytes[] = {0x06, 0x02, 0xAB, 0xFF};
    EXPECT_EQ(FormatHexDump(bytes, 4), "06 02 AB FF ");
    EXPECT_EQ(FormatHexDump(bytes, 0), "");
}

} // namespace
