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
