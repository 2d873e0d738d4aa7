#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ValueField.h"

// A meter's setup as qd7-bus backup writes it and restore reads it: the ten settings registers
// (C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1, all but the process value) of both banks, each with its value
// exactly as the meter gave it, decimal places and all, and the reply it came in.
//
//   {
//     "format": "qd7-bus backup",
//     "version": 1,
//     "program": "qd7-bus (qd7test) 1.4.0",
//     "address": 7,
//     "time": "2024-05-01T12:00:00.123Z",
//     "port": "/dev/ttyUSB0",
//     "registers": [
//       {"bank": 0, "register": "C0", "value": 900.0, "decimals": 1, "raw": "06 02 30 37 ..."},
//       ...
//     ]
//   }
struct BackupRegister {
    int bank = 0;
    int registerIndex = 1;
    ValueField value;
    std::string raw; // the reply's bytes in hexadecimal; for reference only
};

struct BackupDocument {
    static constexpr int kVersion = 1;

    int address = 0;
    std::string program; // what wrote it
    std::string time;    // when it was read, ISO 8601 in UTC
    std::string port;    // where it was read
    // Bank 0 then bank 1, each in the register table's order.
    std::vector<BackupRegister> registers;
};

// The banks and registers a backup holds, in its order: index 0 to 19 is bank index / 10,
// register index % 10 + 1.
inline constexpr int kBackupBanks = 2;
inline constexpr int kBackupRegistersPerBank = 10;
inline constexpr int kBackupRegisterCount = kBackupBanks * kBackupRegistersPerBank;

// The document as json, one register to a line, with a final newline.
std::string FormatBackup(const BackupDocument& document);

// Checks a backup against the schema above before anything is done with it: the format and its
// version, every field with its type and range, each of the twenty registers exactly once and
// nothing else, each value exact at its decimal places within six digits. A file edited by hand
// passes when it keeps to that (its raw frames are not compared with its values). Nothing, with
// `error` naming the place ("registers[3] (C2, bank 0): ..."), for any departure.
std::optional<BackupDocument> ParseBackup(std::string_view text, std::string& error);
