// A backup as written, read back whole; a damaged or foreign one refused with the place named.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cli/BackupDocument.h"
#include "cli/JsonReader.h"

namespace {

BackupDocument Sample() {
    BackupDocument d;
    d.address = 7;
    d.program = "qd7-bus (qd7test) 1.0";
    d.time = "2024-05-01T12:00:00.123Z";
    d.port = "C:\\ports\\\"com1\"";
    for (int bank = 0; bank < kBackupBanks; ++bank) {
        for (int reg = 1; reg <= kBackupRegistersPerBank; ++reg) {
            // A spread of signs, places and sizes: -0.0005 to 999999.
            const ValueField value{reg % 3 == 0, (reg * 99991 + bank) % 1000000, (reg + bank) % 10};
            d.registers.push_back(BackupRegister{bank, reg, value, "06 02 30 37"});
        }
    }
    d.registers[3].value = ValueField{false, 999999, 0};
    return d;
}

// The sample's text with `from` replaced by `to` (once; the text must hold it).
std::string Edited(std::string_view from, std::string_view to) {
    std::string text = FormatBackup(Sample());
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(BackupDocument, WhatIsWrittenIsReadBackExactly) {
    const BackupDocument sample = Sample();
    const std::string text = FormatBackup(sample);
    std::string error;
    const std::optional<BackupDocument> read = ParseBackup(text, error);
    ASSERT_TRUE(read) << error << "\n" << text;
    EXPECT_EQ(read->address, 7);
    EXPECT_EQ(read->program, sample.program);
    EXPECT_EQ(read->time, sample.time);
    EXPECT_EQ(read->port, sample.port);
    ASSERT_EQ(read->registers.size(), 20U);
    for (size_t i = 0; i < read->registers.size(); ++i) {
        const BackupRegister& want = sample.registers[i];
        const BackupRegister& got = read->registers[i];
        EXPECT_EQ(got.bank, want.bank) << i;
        EXPECT_EQ(got.registerIndex, want.registerIndex) << i;
        // The places too, not only the number: a meter shows what it is given.
        EXPECT_EQ(FormatValueField(got.value), FormatValueField(want.value)) << i;
        EXPECT_EQ(got.raw, want.raw);
    }
    EXPECT_NE(text.find("    {\"bank\": 0, \"register\": \"C2\", \"value\": -299.973, "
                        "\"decimals\": 3, \"raw\": \"06 02 30 37\"},\n"),
              std::string::npos)
        << text;
}

TEST(BackupDocument, AFileInAnotherOrderOrWithoutItsNotesIsTheSameBackup) {
    std::string error;
    std::string text = "{\"registers\": [";
    for (int bank = 1; bank >= 0; --bank) {
        for (const char* code : {"Y1", "Y0", "X1", "X0", "K1", "K0", "C3", "C2", "C1", "C0"}) {
            text += std::string(text.back() == '[' ? "" : ",") +
                    "{\"value\": 1.50, \"decimals\": 2, " + "\"register\": \"" + code +
                    "\", \"bank\": " + std::to_string(bank) + "}";
        }
    }
    text += "], \"address\": 12, \"version\": 1, \"format\": \"qd7-bus backup\", "
            "\"port\": \"C:\\\\qd7-\\u00fc\\ud83d\\ude00\"}";
    const std::optional<BackupDocument> read = ParseBackup(text, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->address, 12);
    EXPECT_EQ(read->port, "C:\\qd7-\xC3\xBC\xF0\x9F\x98\x80");
    EXPECT_EQ(read->registers.front().registerIndex, 1);
    EXPECT_EQ(read->registers.front().bank, 0);
    EXPECT_EQ(FormatValueField(read->registers.back().value), "1.50");
}

TEST(BackupDocument, ADamagedOrForeignFileIsRefusedNamingThePlace) {
    const struct {
        std::string text;
        std::string_view says;
    } cases[] = {
        {FormatBackup(Sample()).substr(0, 400), "not json: line"},
        {Edited("\n  ]\n}", ",\n  ]\n}"), "not json: line 29, column 3"},
        {Edited("\"address\": 7,", "\"address\": 7, \"address\": 8,"),
         "\"address\" is given twice"},
        {Edited("qd7-bus backup", "qd7-bus spool"), "not a qd7-bus backup"},
        {"[1, 2]", "not a qd7-bus backup"},
        {Edited("\"version\": 1", "\"version\": 2"),
         "format version 2; this qd7-bus reads version 1"},
        {Edited("\"address\": 7", "\"address\": 100"),
         "\"address\" must be a whole number from 0 to 99"},
        {Edited("\"address\": 7", "\"address\": \"07\""), "\"address\" must be a number"},
        {Edited("\"port\"", "\"unit\""), "\"unit\" is not part of a backup"},
        {Edited("\"register\": \"C1\"", "\"register\": \"C0\""),
         "registers[1] (C0, bank 0): given twice"},
        {Edited("\"register\": \"C1\"", "\"register\": \"P0\""), "P0 is the process value"},
        {Edited("\"register\": \"C1\"", "\"register\": \"c1\""), "\"c1\" is not a register"},
        {Edited("\"bank\": 1, \"register\": \"Y1\"", "\"bank\": 2, \"register\": \"Y1\""),
         "registers[19] (Y1, bank 2): \"bank\" must be a whole number from 0 to 1"},
        {Edited("\"value\": 999999, \"decimals\": 0", "\"value\": 999999, \"decimals\": 1"),
         "registers[3] (C3, bank 0): \"value\": \"999999\" does not fit six digits"},
        {Edited("\"value\": 999999, \"decimals\": 0", "\"value\": 9999.5, \"decimals\": 0"),
         "has more places than its 0 decimal places"},
        {Edited("\"value\": 999999", "\"value\": 1e3"), "is not a decimal number"},
        {Edited("\"decimals\": 2", "\"decimals\": 1.0"), "\"decimals\" must be a whole number"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseBackup(c.text, error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos)
            << "expected: " << c.says << "\ngot: " << error;
    }
}

TEST(BackupDocument, ATwentiethRegisterLeftOutIsMissing) {
    std::string text = FormatBackup(Sample());
    const size_t last = text.rfind(",\n    {");
    text.erase(last, text.find("}\n  ]") + 1 - last);
    std::string error;
    EXPECT_FALSE(ParseBackup(text, error));
    EXPECT_NE(error.find("Y1 of bank 1 is missing"), std::string::npos) << error;
}

TEST(JsonReader, RefusesWhatIsNotStrictlyJsonWithoutExhaustingTheStack) {
    for (const std::string_view bad :
         {"", "{", "{\"a\": 1,}", "[1 2]", "{'a': 1}", "01", "1.", "-", "\"\\x\"", "\"\\ud800\"",
          "\"a\nb\"", "nul", "{\"a\" 1}", "1 2", "[1] // note"}) {
        std::string error;
        EXPECT_FALSE(ParseJson(bad, error)) << bad;
        EXPECT_NE(error.find("line 1, column"), std::string::npos) << bad << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(ParseJson(std::string(100000, '['), error));
    EXPECT_NE(error.find("64 levels"), std::string::npos) << error;
    const std::optional<JsonValue> fine =
        ParseJson(" {\"n\": -0.50e+3, \"t\": [true, false, null], \"s\": \"\\\"\\/\\t\"} ", error);
    ASSERT_TRUE(fine) << error;
    EXPECT_EQ(fine->Find("n")->text, "-0.50e+3");
    EXPECT_EQ(fine->Find("t")->items.size(), 3U);
    EXPECT_EQ(fine->Find("s")->text, "\"/\t");
}

} // namespace
