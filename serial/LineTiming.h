#pragma once

#include <cstdint>

#include "serial/LineSettings.h"

// How long characters take on the line, from the settings alone: every backend needs the same
// figures for its transmit wait, so they are worked out here once.

// Bits one character takes on the line: the start bit, the data bits, the parity bit if any and
// the stop bits.
int CharacterBits(const LineSettings& settings);

// Time on the line of `count` characters at the settings' speed, in microseconds, rounded up so
// that a wait of this length never ends before the last stop bit. 0 for a speed or count below 1.
int64_t LineTimeUs(const LineSettings& settings, int count);

// How long RTS stays up beyond the computed end of a frame where the transmitter cannot be asked
// whether it is empty: a USB adapter starts sending only when the host schedules its transfer, up
// to about a millisecond after the bytes were handed over. At least 1 ms and two characters.
int64_t RtsGuardUs(const LineSettings& settings);
