#pragma once

#include <chrono>

// Faults the bus applies to every reply while they are set. Shares are percentages, 0..100; counts
// and times are held to the ranges below when they are set.
struct SimFaults {
    static constexpr int kMaxExtraBytes = 4096;
    static constexpr std::chrono::milliseconds kMaxDelay{600000};

    int nDropPercent = 0;               // share of replies that are never sent
    int nCorruptPercent = 0;            // share of replies whose CRC byte is wrong
    int nNoiseBytes = 0;                // random bytes sent just before each reply
    std::chrono::milliseconds delay{0}; // each reply goes out this much later
    int nLongExtraBytes = 0; // random bytes appended to each reply, which then has 19 + n bytes
    bool bReject = false; // replies echo the command RX with a correct CRC; the tool refuses them
};

// The same faults held to their ranges.
SimFaults ClampFaults(SimFaults faults);
