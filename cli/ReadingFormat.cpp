#include "cli/ReadingFormat.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "protocol/Address.h"
#include "protocol/FrameCodec.h"

namespace {

// The text column of the value is this wide, right-aligned; wider values push the status on.
constexpr size_t kTextValueWidth = 10;

bool HasValue(const Reading& reading) {
    return reading.status == ReplyStatus::Ok;
}

std::string Bank(const Reading& reading) {
    return reading.bank < 0 ? std::string() : std::to_string(reading.bank);
}

} // namespace

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, quotes doubled.
std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            // Control characters escaped; UTF-8 beyond ASCII stays as it is, as json is UTF-8.
            std::array<char, 8> escape{};
            std::snprintf(escape.data(), escape.size(), "\\u%04x", byte);
            out += escape.data();
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string_view StatusName(ReplyStatus status) {
    switch (status) {
    case ReplyStatus::Ok:
        return "ok";
    case ReplyStatus::Silent:
        return "silent";
    case ReplyStatus::Corrupt:
        return "corrupt";
    case ReplyStatus::Rejected:
        return "rejected";
    case ReplyStatus::NoDevice:
        return "nodevice";
    }
    return "?";
}

bool Reading::HoldsWanted() const {
    return status == ReplyStatus::Ok && field && wanted && field->SameValue(*wanted);
}

std::string_view RowStatusName(const Reading& reading) {
    if (reading.status == ReplyStatus::Ok && reading.bWriteSent) {
        return reading.HoldsWanted() ? "written" : "not-taken";
    }
    return StatusName(reading.status);
}

bool IsGoodRow(const Reading& reading) {
    return reading.status == ReplyStatus::Ok && (!reading.bWriteSent || reading.HoldsWanted());
}

std::string FormatIsoTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss clock{ms - day};
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<int>(clock.subseconds().count()));
    return text.data();
}

std::string FormatValue(float value, int decimals) {
    return FormatFixed(value == 0.0F ? 0.0F : value, decimals);
}

std::string FormatHex(const std::vector<uint8_t>& bytes) {
    std::string text = FormatHexDump(bytes.data(), static_cast<int>(bytes.size()));
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

std::string CsvHeader(bool bWrites) {
    // tries last, so that a script reading the earlier columns by position reads them still; the
    // columns of writes after it, for the same reason.
    return std::string("time,address,bank,register,value,decimals,status,raw,tries") +
           (bWrites ? ",wanted,before" : "") + "\n";
}

std::string CsvRow(const Reading& r, bool bWrites) {
    const bool bValue = HasValue(r);
    std::string row = FormatIsoTime(r.time);
    row += ',' + FormatAddress(r.address);
    row += ',' + Bank(r);
    row += ',' + CsvField(r.registerCode);
    row += ',' + (bValue ? FormatValue(r.value, r.decimals) : std::string());
    row += ',' + (bValue ? std::to_string(r.decimals) : std::string());
    row += ',' + std::string(RowStatusName(r));
    row += ',' + FormatHex(r.raw);
    row += ',' + std::to_string(r.tries);
    if (bWrites) {
        row += ',' + (r.wanted ? FormatValueField(*r.wanted) : std::string());
        row += ',' + (r.before ? FormatValueField(*r.before) : std::string());
    }
    return row + '\n';
}

std::string JsonRow(const Reading& r, bool bWrites) {
    const bool bValue = HasValue(r);
    std::string row = "{\"time\":" + JsonString(FormatIsoTime(r.time));
    row += ",\"address\":" + std::to_string(r.address);
    row += ",\"bank\":" + (r.bank < 0 ? std::string("null") : std::to_string(r.bank));
    row += ",\"register\":" + JsonString(r.registerCode);
    row += ",\"value\":" + (bValue ? FormatValue(r.value, r.decimals) : std::string("null"));
    row += ",\"decimals\":" + (bValue ? std::to_string(r.decimals) : std::string("null"));
    row += ",\"status\":" + JsonString(RowStatusName(r));
    row += ",\"raw\":" + JsonString(FormatHex(r.raw));
    row += ",\"tries\":" + std::to_string(r.tries);
    if (bWrites) {
        row += ",\"wanted\":" + (r.wanted ? FormatValueField(*r.wanted) : std::string("null"));
        row += ",\"before\":" + (r.before ? FormatValueField(*r.before) : std::string("null"));
    }
    return row + "}\n";
}

std::string TextRow(const Reading& r, bool withTime) {
    std::string row = withTime ? FormatIsoTime(r.time) + "  " : std::string();
    row += FormatAddress(r.address) + "  bank " + (r.bank < 0 ? std::string("-") : Bank(r)) + "  " +
           r.registerCode + "  ";
    const std::string value = HasValue(r) ? FormatValue(r.value, r.decimals) : "-";
    row += std::string(kTextValueWidth - std::min(kTextValueWidth, value.size()), ' ') + value;
    row += "  " + std::string(RowStatusName(r));
    // A write is judged by the value alone; a restore to come also writes places that differ.
    const bool bHeld =
        r.bWriteSent ? r.HoldsWanted() : r.HoldsWanted() && r.field->SameValueAndPlaces(*r.wanted);
    if (r.wanted && !bHeld) {
        row += "  (" + std::string(r.bWriteSent ? "wrote " : "to write ") +
               FormatValueField(*r.wanted) + ")";
    }
    if (r.before && r.wanted && !r.before->SameValueAndPlaces(*r.wanted)) {
        row += "  (was " + FormatValueField(*r.before) + ")";
    }
    if (r.tries > 1) {
        row += "  (" + std::to_string(r.tries) + " tries)";
    }
    return row + '\n';
}
