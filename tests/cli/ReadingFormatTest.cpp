#include "cli/ReadingFormat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/CommaLocale.h"

namespace {

using namespace std::chrono;

system_clock::time_point At(year_month_day date, milliseconds sinceMidnight) {
    return system_clock::time_point(sys_days(date)) + sinceMidnight;
}

TEST(ReadingFormat, TimesAreIsoUtcWithMillisecondsCutNotRounded) {
    EXPECT_EQ(FormatIsoTime(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(
        FormatIsoTime(At(2024y / February / 29, 23h + 59min + 59s + 999ms) + microseconds(900)),
        "2024-02-29T23:59:59.999Z");
    EXPECT_EQ(FormatIsoTime(At(2031y / October / 5, 7h + 3min + 9s + 40ms)),
              "2031-10-05T07:03:09.040Z");
}

struct ValueCase {
    float value;
    int decimals;
    const char* text;
};

TEST(ReadingFormat, ValuesHaveTheRepliesDecimalsAndAPointInAnyLocale) {
    const CCommaDecimalLocale comma;
    ASSERT_TRUE(comma.IsSet()) << "no locale with a decimal comma could be set";
    const std::vector<ValueCase> cases = {
        {123.4F, 1, "123.4"},      {-12.34F, 2, "-12.34"}, {0.00005F, 5, "0.00005"},
        {123456.0F, 0, "123456"},  {-0.0F, 1, "0.0"},      {123.456009F, 3, "123.456"},
        {1.5F, 12, "1.500000000"}, {7.0F, -3, "7"},
    };
    for (const ValueCase& c : cases) {
        EXPECT_EQ(FormatValue(c.value, c.decimals), c.text) << c.value << " / " << c.decimals;
    }
}

Reading OkReading() {
    Reading r;
    r.time = At(2024y / May / 1, 12h + 34s + 5ms);
    r.address = 7;
    r.bank = 1;
    r.registerCode = "K1";
    r.status = ReplyStatus::Ok;
    r.value = -12.34F;
    r.decimals = 2;
    r.raw = {0x06, 0x02, 0x30, 0x37};
    return r;
}

Reading SilentReading() {
    Reading r = OkReading();
    r.address = 8;
    r.status = ReplyStatus::Silent;
    r.raw = {};
    return r;
}

TEST(ReadingFormat, CsvJsonAndTextRows) {
    const CCommaDecimalLocale comma;
    EXPECT_EQ(CsvHeader(), "time,address,bank,register,value,decimals,status,raw,tries\n");
    EXPECT_EQ(CsvRow(OkReading()), "2024-05-01T12:00:34.005Z,07,1,K1,-12.34,2,ok,06 02 30 37,1\n");
    EXPECT_EQ(CsvRow(SilentReading()), "2024-05-01T12:00:34.005Z,08,1,K1,,,silent,,1\n");
    EXPECT_EQ(
        JsonRow(OkReading()),
        "{\"time\":\"2024-05-01T12:00:34.005Z\",\"address\":7,\"bank\":1,\"register\":\"K1\","
        "\"value\":-12.34,\"decimals\":2,\"status\":\"ok\",\"raw\":\"06 02 30 37\",\"tries\":1}\n");
    EXPECT_EQ(JsonRow(SilentReading()),
              "{\"time\":\"2024-05-01T12:00:34.005Z\",\"address\":8,\"bank\":1,\"register\":\"K1\","
              "\"value\":null,\"decimals\":null,\"status\":\"silent\",\"raw\":\"\",\"tries\":1}\n");
    EXPECT_EQ(TextRow(OkReading(), false), "07  bank 1  K1      -12.34  ok\n");
    EXPECT_EQ(TextRow(SilentReading(), true),
              "2024-05-01T12:00:34.005Z  08  bank 1  K1           -  silent\n");
    // A reading that took more than one request says so in every format.
    Reading retried = OkReading();
    retried.tries = 3;
    EXPECT_EQ(TextRow(retried, false), "07  bank 1  K1      -12.34  ok  (3 tries)\n");
    EXPECT_TRUE(CsvRow(retried).ends_with(",ok,06 02 30 37,3\n")) << CsvRow(retried);
    EXPECT_TRUE(JsonRow(retried).ends_with(",\"tries\":3}\n")) << JsonRow(retried);
}

// A typed body may carry anything where the register code stands.
TEST(ReadingFormat, OddRegisterTextIsQuotedAndEscaped) {
    Reading r = SilentReading();
    r.bank = -1;
    r.registerCode = "\",";
    EXPECT_EQ(CsvRow(r), "2024-05-01T12:00:34.005Z,08,,\"\"\",\",,,silent,,1\n");
    EXPECT_NE(JsonRow(r).find("\"bank\":null,\"register\":\"\\\",\""), std::string::npos)
        << JsonRow(r);
}

} // namespace

namespace {

// A write's read-back of K1: -12.34 with two places.
Reading WrittenReading(ValueField wanted) {
    Reading r = OkReading();
    r.field = ValueField{true, 1234, 2};
    r.wanted = wanted;
    r.bWriteSent = true;
    return r;
}

TEST(ReadingFormat, AWritesRowSaysWhetherTheRegisterHoldsWhatWasWritten) {
    const Reading written = WrittenReading(ValueField{true, 12340, 3}); // -12.340: the same value
    EXPECT_EQ(TextRow(written, false), "07  bank 1  K1      -12.34  written\n");
    EXPECT_EQ(CsvHeader(true),
              "time,address,bank,register,value,decimals,status,raw,tries,wanted,before\n");
    EXPECT_EQ(CsvRow(written, true),
              "2024-05-01T12:00:34.005Z,07,1,K1,-12.34,2,written,06 02 30 37,1,-12.340,\n");
    EXPECT_TRUE(IsGoodRow(written));

    Reading notTaken = WrittenReading(ValueField{false, 5, 0});
    notTaken.before = ValueField{true, 1234, 2};
    EXPECT_EQ(TextRow(notTaken, false),
              "07  bank 1  K1      -12.34  not-taken  (wrote 5)  (was -12.34)\n");
    EXPECT_TRUE(JsonRow(notTaken, true)
                    .ends_with(",\"status\":\"not-taken\",\"raw\":\"06 02 30 37\",\"tries\":1,"
                               "\"wanted\":5,\"before\":-12.34}\n"))
        << JsonRow(notTaken, true);
    EXPECT_FALSE(IsGoodRow(notTaken));

    Reading unanswered = WrittenReading(ValueField{false, 5, 0});
    unanswered.status = ReplyStatus::Silent;
    EXPECT_EQ(TextRow(unanswered, false), "07  bank 1  K1           -  silent  (wrote 5)\n");
    EXPECT_FALSE(IsGoodRow(unanswered));

    // A restore's register that holds the backup's value already, and a dry run's that does not.
    Reading held = WrittenReading(ValueField{true, 1234, 2});
    held.bWriteSent = false;
    EXPECT_EQ(TextRow(held, false), "07  bank 1  K1      -12.34  ok\n");
    Reading differs = WrittenReading(ValueField{false, 5, 0});
    differs.bWriteSent = false;
    EXPECT_EQ(TextRow(differs, false), "07  bank 1  K1      -12.34  ok  (to write 5)\n");
    EXPECT_TRUE(IsGoodRow(differs)) << "read, and nothing was asked of it";
    EXPECT_EQ(CsvRow(OkReading()), CsvRow(OkReading(), false)) << "a read's row stays as it was";
}

} // namespace
