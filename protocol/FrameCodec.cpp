#include "protocol/FrameCodec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace {

constexpr double kMaxRequestMagnitude = 999999.5;

// Where each field of a request's body lies: address, command, bank digit, register code, the
// value field.
constexpr int kBodyAddress = 0;
constexpr int kBodyCommand = 2;
constexpr int kBodyBank = 4;
constexpr int kBodyRegister = 5;
constexpr int kBodyValue = 7; // sign, six digits, decimal-places digit
static_assert(kBodyValue + 8 == kFrameBodyLength);

// STX, body, ETX, space (the place of the CRC), terminator, then the CRC over offsets 1..16.
// The CRC's range and place are fixed, not taken from the body's length: a meter checks offsets
// 1..16 against offset 17, so that is what every frame carries. A typed text of 16 characters or
// more therefore loses its character (or ETX) at offset 17 to the CRC, and only offsets 0..34 go
// on the wire. "Send" is for trying frames on a meter by hand: it sends exactly what a meter would
// make of such a text, rather than a longer frame no meter takes.
uint8_t WriteFrame(FrameBuffer& frame, std::string_view body) {
    frame.fill(kFill);
    size_t pos = 0;
    frame[pos++] = kStx;
    std::memcpy(frame.data() + pos, body.data(), body.size());
    pos += body.size();
    frame[pos++] = kEtx;
    frame[pos++] = ' ';
    frame[pos] = 0x00;
    const uint8_t crc = Crc8(frame.data() + 1, 16);
    frame[kCrcOffset] = crc;
    return crc;
}

int Digit(uint8_t byte) {
    return static_cast<int>(byte) - '0';
}

} // namespace

std::optional<uint8_t> BuildRequestFrame(FrameBuffer& frame, int address, int commandIndex,
                                         int bankDigit, int registerIndex, double value) {
    if (!std::isfinite(value) || std::fabs(value) >= kMaxRequestMagnitude) {
        return std::nullopt;
    }
    // "%+07.0f0" field by field: it is sent at every poll, and the printf family costs ten times
    // the rest of the frame. nearbyint rounds as %.0f does (to nearest, ties to even, in the
    // current rounding mode), and the sign is the value's own, so a value that rounds to zero
    // from below keeps its '-' as printf writes it. Below 999999.5 in magnitude, so at most six
    // digits after rounding.
    const ValueField field{std::signbit(value), static_cast<int>(std::fabs(std::nearbyint(value))),
                           0};
    return BuildValueFrame(frame, address, commandIndex, bankDigit, registerIndex, field);
}

std::optional<uint8_t> BuildValueFrame(FrameBuffer& frame, int address, int commandIndex,
                                       int bankDigit, int registerIndex, const ValueField& value) {
    if (!IsAddress(address) || commandIndex < 0 ||
        commandIndex >= static_cast<int>(CommandTable.size()) || bankDigit < 0 || bankDigit > 9 ||
        registerIndex < 0 || registerIndex >= kRegisterCount || value.nDigits < 0 ||
        value.nDigits > ValueField::kMaxDigits || value.nDecimals < 0 ||
        value.nDecimals > ValueField::kMaxDecimals) {
        return std::nullopt;
    }
    const std::string_view command = CommandTable[static_cast<size_t>(commandIndex)];
    const std::string_view reg = RegisterCodeTable[static_cast<size_t>(registerIndex)];
    std::array<char, kFrameBodyLength> body{};
    const std::array<char, 2> digits = AddressDigits(address);
    body[kBodyAddress] = digits[0];
    body[kBodyAddress + 1] = digits[1];
    body[kBodyCommand] = command[0];
    body[kBodyCommand + 1] = command[1];
    body[kBodyBank] = static_cast<char>('0' + bankDigit);
    body[kBodyRegister] = reg[0];
    body[kBodyRegister + 1] = reg[1];
    const std::array<char, 8> field = ValueFieldCharacters(value);
    std::copy(field.begin(), field.end(), body.begin() + kBodyValue);
    return WriteFrame(frame, std::string_view(body.data(), body.size()));
}

uint8_t BuildTextFrame(FrameBuffer& frame, std::string_view text) {
    return WriteFrame(frame, text.substr(0, kMaxTextLength));
}

DecodedResponse ParseResponseFrame(const uint8_t* bytes, int length) {
    return ParseReplyFrame(bytes, length, kCommandResponse);
}

DecodedResponse ParseReplyFrame(const uint8_t* bytes, int length, int commandIndex) {
    DecodedResponse result;
    if (bytes == nullptr || length < kMinResponseLength ||
        Crc8(bytes + kResponseCrcFirst, kResponseCrcLength) != bytes[kResponseCrcOffset]) {
        result.status = ResponseStatus::ResponseCorrupt;
        return result;
    }
    result.status = ResponseStatus::ResponseRejected;
    if (bytes[0] != kAck || bytes[1] != kStx) {
        return result;
    }
    if (commandIndex < 0 || commandIndex >= static_cast<int>(CommandTable.size())) {
        return result;
    }
    const std::string_view expected = CommandTable[static_cast<size_t>(commandIndex)];
    if (bytes[4] != static_cast<uint8_t>(expected[0]) ||
        bytes[5] != static_cast<uint8_t>(expected[1])) {
        return result;
    }
    const auto found = std::find_if(RegisterCodeTable.begin(), RegisterCodeTable.end(),
                                    [bytes](std::string_view code) {
                                        return bytes[7] == static_cast<uint8_t>(code[0]) &&
                                               bytes[8] == static_cast<uint8_t>(code[1]);
                                    });
    if (found == RegisterCodeTable.end()) {
        return result;
    }
    const std::optional<int> address = ReplyAddress(bytes[2], bytes[3]);
    if (!address) {
        return result;
    }

    result.address = *address;
    result.registerIndex = static_cast<int>(found - RegisterCodeTable.begin());
    result.bank = Digit(bytes[6]);
    const double sign = bytes[9] == '-' ? -1.0 : 1.0;
    long n = 0;
    for (int j = 0; j < 6; ++j) {
        n = n * 10 + Digit(bytes[10 + j]);
    }
    result.decimals = Digit(bytes[16]);
    // Repeated multiplication by the float nearest 0.1, kept in double, then one rounding to
    // float; not a division by a power of ten: 123456 with three decimals must decode to
    // 123.456009, where a division would give 123.456001.
    double scaled = static_cast<double>(n);
    for (int i = 0; i < result.decimals; ++i) {
        scaled *= static_cast<double>(0.1F);
    }
    result.value = static_cast<float>(sign * scaled);
    result.status = ResponseStatus::ResponseOk;
    return result;
}

std::string FormatFixed(float value, int decimals) {
    // std::to_chars ignores the process locale: a desktop that writes a decimal comma must not
    // turn -12.34 into "-12,34", which the display cannot show and which splits a csv field.
    std::array<char, 64> digits{};
    const auto [end, error] =
        std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<double>(value),
                      std::chars_format::fixed, std::clamp(decimals, 0, 9));
    return error == std::errc() ? std::string(digits.data(), end) : std::string();
}

std::string FormatValueText(float value, int decimals) {
    // "%*.*f": right-aligned in 5 characters without decimals, else in 6.
    const size_t width = decimals == 0 ? 5 : 6;
    std::string text = FormatFixed(value, decimals);
    if (text.empty()) {
        return text;
    }
    if (text.size() < width) {
        text.insert(0, width - text.size(), ' ');
    }
    if (text.size() > kMaxDisplayText) {
        text.resize(kMaxDisplayText);
    }
    return text;
}

std::string FrameBody(const FrameBuffer& frame) {
    return std::string(reinterpret_cast<const char*>(frame.data() + 1), kFrameBodyLength);
}

std::string FormatCrcText(uint8_t crc) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "ETX,%02X", crc);
    return text.data();
}

std::string FormatHexDump(const uint8_t* bytes, int count) {
    std::string out;
    if (bytes == nullptr || count <= 0) {
        return out;
    }
    out.reserve(static_cast<size_t>(count) * 3);
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    for (int i = 0; i < count; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
        out += ' ';
    }
    return out;
}
