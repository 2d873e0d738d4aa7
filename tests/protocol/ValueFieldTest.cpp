// The value field a write carries: typed numbers to sign, six digits and places, exactly or not
// at all, and the frame that carries them.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "protocol/FrameCodec.h"
#include "protocol/ValueField.h"

namespace {

std::string Field(const ValueField& f) {
    const std::array<char, 8> c = ValueFieldCharacters(f);
    return {c.begin(), c.end()};
}

struct ExactCase {
    std::string_view typed;
    std::string_view field; // sign, six digits, places, as the frame carries it
    std::string_view shown;
};

TEST(ValueField, TypedNumbersKeepTheirPlacesAndTheirValueExactly) {
    const ExactCase cases[] = {
        {"123.4", "+0012341", "123.4"},
        {"-15.25", "-0015252", "-15.25"},
        {"123.40", "+0123402", "123.40"}, // the places typed are the places a meter shows
        {"+5", "+0000050", "5"},
        {"5.", "+0000050", "5"},
        {".5", "+0000051", "0.5"},
        {"0.0001", "+0000014", "0.0001"},
        {"0.000000001", "+0000019", "0.000000001"},  // the finest the field carries
        {"0.0000000010", "+0000019", "0.000000001"}, // a tenth place of zero is dropped
        {"999999", "+9999990", "999999"},
        {"-999999", "-9999990", "-999999"},
        {"999999.000", "+9999990", "999999"}, // zeros dropped where six digits cannot hold them
        {"100.000000", "+1000003", "100.000"},
        {"007", "+0000070", "7"},
        {"0", "+0000000", "0"},
        {"-0", "+0000000", "0"}, // no negative zero on the wire
        {"-0.000", "+0000003", "0.000"},
    };
    for (const ExactCase& c : cases) {
        std::string error;
        const std::optional<ValueField> field = ParseValueText(c.typed, error);
        ASSERT_TRUE(field) << c.typed << ": " << error;
        EXPECT_EQ(Field(*field), c.field) << c.typed;
        EXPECT_EQ(FormatValueField(*field), c.shown) << c.typed;
    }
}

struct RefusedCase {
    std::string_view typed;
    std::string_view why;
    std::string_view nearest; // the end of the message
};

TEST(ValueField, ANumberThatCannotBeCarriedNamesTheNearestThatCan) {
    const RefusedCase cases[] = {
        {"1.2345678", "cannot be written exactly", "1.23457"},
        {"123456.7", "cannot be written exactly", "123457"},
        {"99999.96", "cannot be written exactly", "100000"}, // coarser places win here
        {"99999.94", "cannot be written exactly", "99999.9"},
        {"-0.00000000049", "cannot be written exactly", "0"},
        {"0.0000000005", "cannot be written exactly", "0.000000001"},
        {"1000000", "out of range", "999999"},
        {"-999999.2", "out of range", "-999999"},
        {"12345678901234567890", "out of range", "999999"},
    };
    for (const RefusedCase& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseValueText(c.typed, error)) << c.typed;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.typed << ": " << error;
        const std::string end =
            "the nearest value that can be written is " + std::string(c.nearest);
        EXPECT_TRUE(error.ends_with(end)) << c.typed << ": " << error;
    }
    for (const std::string_view typed :
         {"", "-", ".", "1e3", "12,5", "1.2.3", " 1", "inf", "0x10"}) {
        std::string error;
        EXPECT_FALSE(ParseValueText(typed, error)) << typed;
        EXPECT_NE(error.find("is not a decimal number"), std::string::npos)
            << typed << ": " << error;
    }
}

TEST(ValueField, ABackupsNumberIsHeldToItsOwnPlaces) {
    std::string error;
    EXPECT_EQ(Field(*ParseValueAtDecimals("950", 1, error)), "+0095001");
    EXPECT_EQ(Field(*ParseValueAtDecimals("-15.250", 2, error)), "-0015252");
    EXPECT_FALSE(ParseValueAtDecimals("12.345", 2, error));
    EXPECT_NE(error.find("more places"), std::string::npos) << error;
    EXPECT_FALSE(ParseValueAtDecimals("123456", 1, error));
    EXPECT_NE(error.find("does not fit six digits"), std::string::npos) << error;
}

TEST(ValueField, EqualNumbersAreEqualWhateverTheirPlaces) {
    const ValueField a{false, 1234, 1};
    EXPECT_TRUE(a.SameValue(ValueField{false, 123400, 3}));
    EXPECT_FALSE(a.SameValue(ValueField{true, 1234, 1}));
    EXPECT_FALSE(a.SameValue(ValueField{false, 1234, 2}));
    EXPECT_TRUE((ValueField{true, 0, 4}).SameValue(ValueField{false, 0, 0}));
    EXPECT_TRUE((ValueField{false, 999999, 0}).SameValue(ValueField{false, 999999, 0}));
}

TEST(ValueField, AReplysFieldIsReadOnlyWhenItsDigitsAreDigits) {
    const std::string good = "-0015252";
    const auto* bytes = reinterpret_cast<const uint8_t*>(good.data());
    const std::optional<ValueField> field = ReadValueField(bytes);
    ASSERT_TRUE(field);
    EXPECT_EQ(FormatValueField(*field), "-15.25");
    const std::string spaced = " 0012341"; // any sign byte but '-' is positive, as replies go
    EXPECT_EQ(FormatValueField(*ReadValueField(reinterpret_cast<const uint8_t*>(spaced.data()))),
              "123.4");
    for (const std::string bad : {"+00:2341", "+001234A"}) {
        EXPECT_FALSE(ReadValueField(reinterpret_cast<const uint8_t*>(bad.data()))) << bad;
    }
}

TEST(ValueField, AWriteFrameCarriesTheFieldInTheRequestsLayout) {
    FrameBuffer frame{};
    const std::optional<uint8_t> crc =
        BuildValueFrame(frame, 7, kCommandWrite, 0, 2, ValueField{false, 1234, 1});
    ASSERT_TRUE(crc);
    EXPECT_EQ(FrameBody(frame), "07WX0C1+0012341");
    EXPECT_EQ(frame[16], kEtx);
    EXPECT_EQ(*crc, Crc8(frame.data() + 1, 16));
    EXPECT_EQ(frame[kCrcOffset], *crc);
    EXPECT_EQ(frame[18], 0x00);
    EXPECT_EQ(frame[34], kFill);
    for (const ValueField bad :
         {ValueField{false, 1000000, 0}, ValueField{false, 1, 10}, ValueField{false, -1, 0}}) {
        EXPECT_FALSE(BuildValueFrame(frame, 7, kCommandWrite, 0, 2, bad));
    }
    EXPECT_FALSE(BuildValueFrame(frame, 100, kCommandWrite, 0, 2, ValueField{}));
}

} // namespace
