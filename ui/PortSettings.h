#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "serial/SerialOps.h"

// The line settings as five indices into the setup dialog's lists, and the tables that turn them
// into the settings of the line. Each list of the dialog is made from these tables, its items
// carrying their index, so a list and its table cannot drift apart.
struct PortSettings {
    int32_t portIndex = 0;     // 0..7: COM1..COM8
    int32_t speedIndex = 6;    // into kBaudTable: 9600
    int32_t dataBitsIndex = 1; // into kDataBitsChoices: 8 bits
    int32_t parityIndex = 0;   // into kParityChoices: none
    int32_t stopBitsIndex = 0; // into kStopBitsChoices: one stop bit

    bool operator==(const PortSettings&) const = default;
};

inline constexpr int kPortCount = 8; // COM1..COM8
inline constexpr std::array<int, 15> kBaudTable = {110,   300,   600,    1200,   2400,
                                                   4800,  9600,  14400,  19200,  38400,
                                                   56000, 57600, 115200, 128000, 256000};

// An item of a list whose text is not the setting itself: the text the list shows, and the code
// the port receives.
struct LineChoice {
    const char* pszText;
    int nCode;
};
// Data bits.
inline constexpr std::array<LineChoice, 2> kDataBitsChoices = {{{"7-bit", 7}, {"8-bit", 8}}};
// The parity codes of the port: 0 none, 1 odd, 2 even.
inline constexpr std::array<LineChoice, 3> kParityChoices = {
    {{"None", 0}, {"Odd", 1}, {"Even", 2}}};
// The stop-bits codes of the port: 0 one, 2 two (1, one and a half, is never offered).
inline constexpr std::array<LineChoice, 2> kStopBitsChoices = {{{"1-bit", 0}, {"2-bit", 2}}};

inline int PortNumber(const PortSettings& s) {
    return s.portIndex + 1;
}
inline int LineSpeed(const PortSettings& s) {
    return kBaudTable[static_cast<size_t>(s.speedIndex)];
}
inline int DataBits(const PortSettings& s) {
    return kDataBitsChoices[static_cast<size_t>(s.dataBitsIndex)].nCode;
}
inline int ParityCode(const PortSettings& s) {
    return kParityChoices[static_cast<size_t>(s.parityIndex)].nCode;
}
inline int StopBitsCode(const PortSettings& s) {
    return kStopBitsChoices[static_cast<size_t>(s.stopBitsIndex)].nCode;
}

// The line the indices select, as one value for the port.
inline LineSettings ToLineSettings(const PortSettings& s) {
    return {LineSpeed(s), DataBits(s), ParityCode(s), StopBitsCode(s)};
}

// The settings the setup dialog's lists were left at, each index checked: a list can end up with
// no selection (-1), and such an index would reach the tables unchecked, so the current one stays.
inline PortSettings ValidSettingsOr(const PortSettings& chosen, const PortSettings& current) {
    const auto valid = [](int32_t index, size_t count, int32_t fallback) {
        return index >= 0 && static_cast<size_t>(index) < count ? index : fallback;
    };
    return {
        .portIndex = valid(chosen.portIndex, kPortCount, current.portIndex),
        .speedIndex = valid(chosen.speedIndex, kBaudTable.size(), current.speedIndex),
        .dataBitsIndex =
            valid(chosen.dataBitsIndex, kDataBitsChoices.size(), current.dataBitsIndex),
        .parityIndex = valid(chosen.parityIndex, kParityChoices.size(), current.parityIndex),
        .stopBitsIndex =
            valid(chosen.stopBitsIndex, kStopBitsChoices.size(), current.stopBitsIndex),
    };
}
