#include "cli/BusTrace.h"

#include <array>

#include "cli/ReadingFormat.h"
#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "serial/LineTiming.h"

namespace {

// The bytes as text: printable ASCII as it is, everything else as ".".
std::string PrintableText(const uint8_t* bytes, size_t count) {
    std::string text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    }
    return text;
}

std::string HexOf(const uint8_t* bytes, size_t count) {
    return FormatHex(std::vector<uint8_t>(bytes, bytes + count));
}

} // namespace

std::string FormatMs(std::chrono::microseconds time) {
    // Whole microseconds as integers: a float would lose them after a few hours of watching.
    const int64_t us = time.count() < 0 ? 0 : time.count();
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%lld.%03lld", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    return text.data();
}

CBusTrace::CBusTrace(FILE* err, const LineSettings& line)
    : m_pErr(err), m_line(line), m_tStart(std::chrono::steady_clock::now()) {}

void CBusTrace::Line(const std::string& text) {
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - m_tStart);
    std::string ms = FormatMs(since);
    ms.insert(0, ms.size() < 10 ? 10 - ms.size() : 0, ' ');
    std::fprintf(m_pErr, "qd7-bus: trace %s ms  %s\n", ms.c_str(), text.c_str());
    std::fflush(m_pErr);
}

void CBusTrace::Request(const uint8_t* bytes, size_t count) {
    Line("tx  " + HexOf(bytes, count) + "  " + std::to_string(count) + " bytes, " +
         FormatMs(std::chrono::microseconds{LineTimeUs(m_line, static_cast<int>(count))}) +
         " ms on the line  |" + PrintableText(bytes, count) + "|");
}

void CBusTrace::Received(const uint8_t* bytes, size_t count) {
    Line("rx  " + HexOf(bytes, count) + "  |" + PrintableText(bytes, count) + "|");
}

void CBusTrace::Verdict(ReplyStatus status, int address, int registerIndex,
                        std::chrono::microseconds elapsed) {
    const std::string code =
        registerIndex >= 0 && registerIndex < static_cast<int>(RegisterCodeTable.size())
            ? std::string(RegisterCodeTable[static_cast<size_t>(registerIndex)])
            : std::string("--");
    Line(std::string(StatusName(status)) + "  " + FormatAddress(address) + " " + code + " in " +
         FormatMs(elapsed) + " ms");
}

void CBusTrace::Note(const std::string& text) {
    Line(text);
}
