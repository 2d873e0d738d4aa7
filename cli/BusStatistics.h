#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>

#include "protocol/FrameCodec.h"
#include "protocol/ReplyFinder.h"

// What the bus did, per meter: every request (a retry is a request of its own) by its verdict,
// and how long the answered ones took. Reply times are kept in 0.1 ms steps, counted, so a watch
// of weeks holds a few hundred numbers per meter, and the median is exact to that step.
class CBusStatistics {
public:
    // A nodevice verdict is counted in its column but is no request: nothing was asked.
    void Count(int address, ReplyStatus status, std::chrono::microseconds elapsed);
    // A request counted as `was` (silent or corrupt) whose reply came late after all, `elapsed`
    // after it, and counts for it (a scan lists such a meter).
    void CountLate(int address, ReplyStatus was, std::chrono::microseconds elapsed);

    // The table on `err` under the line "qd7-bus: statistics per meter", one line per meter
    // asked, in address order; nothing when none was.
    //
    //   address  requests      ok  silent  corrupt  rejected  nodevice  loss %  reply ms
    //   min/median/max 07             20      19       1        0         0
    //   0     5.0  48.6/48.9/52.1
    void Print(FILE* err) const;

private:
    struct Meter {
        int64_t requests = 0;                  // every verdict but nodevice
        std::array<int64_t, 5> byStatus{};     // indexed by ReplyStatus
        std::map<int64_t, int64_t> replySteps; // reply time in 0.1 ms steps → how often
    };
    std::array<Meter, kAddressCount> m_aMeters{};
};
