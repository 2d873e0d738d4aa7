#pragma once

#include <array>
#include <cstdint>

// The line settings as five indices into the setup dialog's lists.
struct PortSettings {
    int32_t portIndex = 0;     // 0..7: COM1..COM8
    int32_t speedIndex = 6;    // 0..14 into kBaudTable: 9600
    int32_t dataBitsIndex = 1; // 0: 7 bits, 1: 8 bits
    int32_t parityIndex = 0;   // 0 none, 1 odd, 2 even
    int32_t stopBitsIndex = 0; // 0: one stop bit (code 0), 1: two (code 2)

    bool operator==(const PortSettings&) const = default;
};

inline constexpr std::array<int, 15> kBaudTable = {110,   300,   600,    1200,   2400,
                                                   4800,  9600,  14400,  19200,  38400,
                                                   56000, 57600, 115200, 128000, 256000};
inline constexpr int kPortCount = 8;

inline int PortNumber(const PortSettings& s) {
    return s.portIndex + 1;
}
inline int LineSpeed(const PortSettings& s) {
    return kBaudTable[static_cast<size_t>(s.speedIndex)];
}
inline int DataBits(const PortSettings& s) {
    return s.dataBitsIndex == 0 ? 7 : 8;
}
inline int ParityCode(const PortSettings& s) {
    return s.parityIndex;
}
inline int StopBitsCode(const PortSettings& s) {
    return s.stopBitsIndex == 0 ? 0 : 2;
}
