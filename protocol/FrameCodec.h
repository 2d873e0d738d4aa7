#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "protocol/Crc8.h"
#include "protocol/ValueField.h"

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kFill = 0xFF;

inline constexpr int kFrameBufferSize = 64;   // outgoing buffer, all 0xFF before a frame is written
inline constexpr int kWireFrameLength = 35;   // bytes 0..34 of the buffer go on the wire
inline constexpr int kFrameBodyLength = 15;   // characters between STX and ETX
inline constexpr int kMaxTextLength = 60;     // longest text a text frame takes; longer is cut
inline constexpr int kCrcOffset = 17;         // CRC of offsets 1..16 of an outgoing frame
inline constexpr int kMinResponseLength = 19; // ACK STX body(15) ETX CRC
inline constexpr int kMaxResponseRead = 60;   // a reply is read with at most this many bytes
inline constexpr int kResponseCrcFirst = 2;   // the CRC of a reply covers offsets 2..17
inline constexpr int kResponseCrcLength = 16;
inline constexpr int kResponseCrcOffset = 18;

using FrameBuffer = std::array<uint8_t, kFrameBufferSize>;

// Fills `frame` with the request STX, body "%02d%s%1d%s%+07.0f0", ETX, CRC, 0x00 and gives the
// CRC byte. Arguments outside address 0..99, command 0..3, bank 0..9, register 0..10 or a value
// that is not finite or of magnitude 999999.5 or more build nothing (the buffer is untouched) and
// give no CRC: such fields would push the ETX out of the bytes the CRC covers.
std::optional<uint8_t> BuildRequestFrame(FrameBuffer& frame, int address, int commandIndex,
                                         int bankDigit, int registerIndex, double value);

// Fills `frame` with STX, text, ETX, a space and 0x00 and stores the CRC of offsets 1..16 at 17.
// Texts longer than 60 characters are cut to 60. Gives the CRC byte.
uint8_t BuildTextFrame(FrameBuffer& frame, std::string_view text);

// The request frame with a value field of its own: the body "%02d%s%1d%s" and then the field's
// sign, six digits and decimal-places digit (a write's value, where BuildRequestFrame carries an
// integer and the digit 0). Arguments outside the ranges above, or a field that does not fit
// (digits above 999999, places outside 0..9), build nothing.
std::optional<uint8_t> BuildValueFrame(FrameBuffer& frame, int address, int commandIndex,
                                       int bankDigit, int registerIndex, const ValueField& value);

enum class ResponseStatus { ResponseOk, ResponseCorrupt, ResponseRejected };

struct DecodedResponse {
    ResponseStatus status = ResponseStatus::ResponseCorrupt;
    int address = 0;
    int bank = 0;
    int registerIndex = 0;
    float value = 0.0F;
    int decimals = 0;
};

// Checks and decodes a reply; reads no byte at or beyond `length`.
DecodedResponse ParseResponseFrame(const uint8_t* bytes, int length);
// The same for a reply that carries the command `commandIndex` in place of RD (a write's answer,
// WD): the checks, their order and the decoding are those of ParseResponseFrame.
DecodedResponse ParseReplyFrame(const uint8_t* bytes, int length, int commandIndex);

// A reply's value with `decimals` places, held to 0..9, as "%.*f" writes it in the C locale:
// a decimal point whatever the process locale, no padding. The one formatting of values behind
// the display text and every other text that shows a reading.
std::string FormatFixed(float value, int decimals);

// Text for the seven-segment display: "%*.*f", width 5 for no decimals else 6, precision clamped
// to 0..9 so the text never exceeds kMaxDisplayText characters.
inline constexpr int kMaxDisplayText = 29;
std::string FormatValueText(float value, int decimals);

// The 15 characters of a built frame's body (offsets 1..15), as the exchange shows them.
std::string FrameBody(const FrameBuffer& frame);

// "ETX,%02X".
std::string FormatCrcText(uint8_t crc);

// Each byte as "%02X " (two upper-case digits and a space); empty for no bytes.
std::string FormatHexDump(const uint8_t* bytes, int count);
