#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "protocol/ReplyFinder.h"
#include "serial/LineSettings.h"

// -v: every request and every byte that comes back, on stderr, as one would paste it into a bug
// report: the time in milliseconds since the program started (a steady clock, so a clock change
// cannot reorder it), the bytes in hexadecimal and as text (control bytes as "."), and for a
// request its time on the line. Each exchange ends with its verdict and how long the reply took.
//
//   qd7-bus: trace   12.346 ms  tx  02 30 37 52 ... 35 bytes, 36.458 ms on the line
//   |.07RX0P0+0000000.5A| qd7-bus: trace   61.903 ms  rx  06 02 30 37 ...  |..07RX0P0+0101.0.3C|
//   qd7-bus: trace   61.910 ms  ok  07 P0 in 49.564 ms
class CBusTrace {
public:
    CBusTrace(FILE* err, const LineSettings& line);

    void Request(const uint8_t* bytes, size_t count);
    void Received(const uint8_t* bytes, size_t count);
    void Verdict(ReplyStatus status, int address, int registerIndex,
                 std::chrono::microseconds elapsed);
    // A line of its own (a retry, a wait for a quiet line).
    void Note(const std::string& text);

private:
    void Line(const std::string& text);

    FILE* m_pErr;
    LineSettings m_line;
    std::chrono::steady_clock::time_point m_tStart;
};

// Milliseconds with three places: "12.346".
std::string FormatMs(std::chrono::microseconds time);
