#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/ValueField.h"

// The meter's side of the wire: what a request body asks for, and the reply a meter sends back.

// A request body (15 characters between STX and ETX) as a meter understands it.
struct SimRequest {
    int address = 0;
    int commandIndex = 0; // index into CommandTable
    int bank = 0;         // the bank digit, 0..9
    int registerIndex = 0;
    double value = 0.0; // sign × digits × 10^-decimals
    int decimals = 0;
    ValueField field; // the value as the frame carries it
};

// Reads "AACCBRRSNNNNNND": two address digits, a command and a register code from the tables, a
// bank digit, a sign ('+', '-' or a space), six digits and a decimal-places digit. Anything else,
// or a body that is not exactly 15 characters, is not understood and gives nothing.
std::optional<SimRequest> ParseRequestBody(std::string_view body);

// A value as the six digits of a frame carry it: N = round(|value| × 10^decimals), at most 999999
// (larger magnitudes, infinities and NaN show as 999999). Decimals are held to 0..9, the digit the
// frame has room for. A value that rounds to 0 is positive.
ValueField EncodeValue(double value, int decimals);

inline constexpr int kReplyFrameLength = 19;
using SimReplyFrame = std::array<uint8_t, kReplyFrameLength>;

// ACK, STX, body "%02d%.2s%1d%.2s%c%06d%1d" (address, command, bank, register code, sign, N,
// decimals), ETX, CRC-8 of offsets 2..17. Meters answer with the command "RD"; other commands are
// only used to build replies the tool must refuse. Arguments outside the tables' ranges are held
// to them (address 0..99, command 0..3, bank 0..9, register 0..10).
SimReplyFrame BuildReplyFrame(int address, int commandIndex, int bank, int registerIndex,
                              double value, int decimals);
// The same with the value field as it is: a reply that echoes a request's field.
SimReplyFrame BuildReplyFrame(int address, int commandIndex, int bank, int registerIndex,
                              const ValueField& value);
