#pragma once

#include <array>
#include <cstdint>

#include "serial/SerialOps.h"

// The line settings of a terminal device through the kernel's arbitrary-speed interface, so that
// every speed of the list (14400, 56000, 128000, 256000 included) is set exactly. The kernel's
// structure clashes with <termios.h>, so it lives in LineTermiosLinux.cpp only; callers keep a
// copy as opaque bytes.
struct SavedLine {
    alignas(8) std::array<unsigned char, 64> bytes{};
};

// The device's whole terminal settings, kept at open and put back at close, so that the device is
// left as other programs knew it.
bool SaveLineSettings(int fd, SavedLine& saved);
bool RestoreLineSettings(int fd, const SavedLine& saved);

// Raw line as settings says: no echo, no line editing, no character translation, no flow control,
// receiver on, modem status ignored, breaks ignored, bytes with a parity or framing error
// delivered as received. False for a code outside the list, a refusal of the driver, or a speed
// that the driver reports back more than 2 % off (a UART whose divisor cannot come nearer, or a
// speed beyond its clock, which the kernel replaces by another).
bool ApplyRawLine(int fd, const LineSettings& settings);
