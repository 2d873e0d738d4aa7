#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ReplyFinder.h"
#include "protocol/ValueField.h"

// One row of output: a request and its verdict.
struct Reading {
    std::chrono::system_clock::time_point time; // when the request went out
    int address = 0;
    int bank = -1; // -1: not known (a typed body whose bank is no digit)
    std::string registerCode;
    ReplyStatus status = ReplyStatus::Silent;
    float value = 0.0F; // value and decimals with ReplyStatus::Ok
    int decimals = 0;
    std::vector<uint8_t> raw;
    int tries = 1; // requests it took: more than one when a failed exchange was retried

    // With ReplyStatus::Ok: the reply's value field as it came, places and all (nothing when
    // its digits are no digits), against which a written value is checked.
    std::optional<ValueField> field;

    // Rows of write and restore: the value the register is to hold; whether the write went out
    // (the reading is then its read-back); and what the register held before, when that was read
    // (restore).
    std::optional<ValueField> wanted;
    bool bWriteSent = false;
    std::optional<ValueField> before;

    // The register holds the value wanted: it was read with that very value.
    bool HoldsWanted() const;
};

// A row that says all is well: answered, and, where a value was written, holding it (-q leaves
// such rows out).
bool IsGoodRow(const Reading& reading);

// A row's status: "ok", "silent", "corrupt", "rejected", "nodevice".
std::string_view StatusName(ReplyStatus status);
// The same for a row, where a register written and read back is "written" or "not-taken".
std::string_view RowStatusName(const Reading& reading);
// "2024-05-01T12:00:00.123Z": ISO 8601 in UTC, milliseconds cut, not rounded.
std::string FormatIsoTime(std::chrono::system_clock::time_point time);
// The value with `decimals` places (held to 0..9) and a decimal point whatever the locale
// (FormatFixed); a negative zero is written as zero.
std::string FormatValue(float value, int decimals);
// "06 02 30": the hex dump without the space after the last byte, a field of its own in a row.
std::string FormatHex(const std::vector<uint8_t>& bytes);

// A csv field (RFC 4180: in quotes when it holds a comma, a quote or a line break, quotes
// doubled) and a json string (in quotes, control characters escaped).
std::string CsvField(std::string_view text);
std::string JsonString(std::string_view text);

// The csv header row and rows, and the json objects, each with its newline. With `bWrites` (the
// rows of write and restore) they end in two fields more: wanted and before.
std::string CsvHeader(bool bWrites = false);
std::string CsvRow(const Reading& reading, bool bWrites = false);
std::string JsonRow(const Reading& reading, bool bWrites = false);
// "07  bank 0  P0       107.3  ok", aligned, "  (2 tries)" after a retry; the time first when
// `withTime`. A write's row says what was wanted when the register does not hold it, and a
// restore's what it held before when that differed: "12  bank 0  C1  123.4  written  (was 750.5)".
std::string TextRow(const Reading& reading, bool withTime);
