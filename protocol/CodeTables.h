#pragma once

#include <array>
#include <string_view>

// Two-character command codes; requests composed by the window program use index 0, and a reply
// is accepted only with index 1. A write (qd7-bus write) sends index 2; a meter may answer it with
// index 3, which is its word only: a write is judged by reading the register back.
inline constexpr std::array<std::string_view, 4> CommandTable = {"RX", "RD", "WX", "WD"};
inline constexpr int kCommandRead = 0;          // "RX"
inline constexpr int kCommandResponse = 1;      // "RD"
inline constexpr int kCommandWrite = 2;         // "WX"
inline constexpr int kCommandWriteResponse = 3; // "WD"

// Register codes by register index: process value, comparison values HH/H/L/LL, peak max/min,
// prescaling X.Ain, X.Bin, Y.Ain, Y.Bin.
inline constexpr std::array<std::string_view, 11> RegisterCodeTable = {
    "P0", "C0", "C1", "C2", "C3", "K0", "K1", "X0", "X1", "Y0", "Y1"};
inline constexpr int kRegisterCount = static_cast<int>(RegisterCodeTable.size());
inline constexpr int kRegisterProcessValue = 0; // "P0"
