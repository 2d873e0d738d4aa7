#include "sim/SimFrames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "protocol/FrameCodec.h"

namespace {

constexpr int kMaxDigits = 999999;
constexpr int kMaxDecimals = 9;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Index of the two characters at `text` in `table`, or -1.
template <size_t N>
int FindCode(const std::array<std::string_view, N>& table, std::string_view text) {
    const auto found = std::find(table.begin(), table.end(), text);
    return found == table.end() ? -1 : static_cast<int>(found - table.begin());
}

} // namespace

std::optional<SimRequest> ParseRequestBody(std::string_view body) {
    if (body.size() != static_cast<size_t>(kFrameBodyLength)) {
        return std::nullopt;
    }
    const std::optional<int> address = ParseAddress(body.substr(0, 2));
    if (!address || !IsDigit(body[4]) || !IsDigit(body[14])) {
        return std::nullopt;
    }
    SimRequest request;
    request.address = *address;
    request.commandIndex = FindCode(CommandTable, body.substr(2, 2));
    request.bank = body[4] - '0';
    request.registerIndex = FindCode(RegisterCodeTable, body.substr(5, 2));
    if (request.commandIndex < 0 || request.registerIndex < 0) {
        return std::nullopt;
    }
    const char sign = body[7];
    if (sign != '+' && sign != '-' && sign != ' ') {
        return std::nullopt;
    }
    const std::optional<ValueField> field =
        ReadValueField(reinterpret_cast<const uint8_t*>(body.data()) + 7);
    if (!field) {
        return std::nullopt;
    }
    request.field = *field;
    request.decimals = field->nDecimals;
    request.value = (sign == '-' ? -1.0 : 1.0) * field->nDigits * std::pow(10.0, -field->nDecimals);
    return request;
}

ValueField EncodeValue(double value, int decimals) {
    ValueField encoded;
    encoded.nDecimals = std::clamp(decimals, 0, kMaxDecimals);
    const double scaled = std::round(std::fabs(value) * std::pow(10.0, encoded.nDecimals));
    // NaN compares false both ways, so it lands on the maximum with infinities.
    encoded.nDigits = scaled <= kMaxDigits ? static_cast<int>(scaled) : kMaxDigits;
    encoded.bNegative = encoded.nDigits != 0 && std::signbit(value) && !std::isnan(value);
    return encoded;
}

SimReplyFrame BuildReplyFrame(int address, int commandIndex, int bank, int registerIndex,
                              double value, int decimals) {
    return BuildReplyFrame(address, commandIndex, bank, registerIndex,
                           EncodeValue(value, decimals));
}

SimReplyFrame BuildReplyFrame(int address, int commandIndex, int bank, int registerIndex,
                              const ValueField& value) {
    const std::string_view command = CommandTable[static_cast<size_t>(
        std::clamp(commandIndex, 0, static_cast<int>(CommandTable.size()) - 1))];
    const std::string_view reg =
        RegisterCodeTable[static_cast<size_t>(std::clamp(registerIndex, 0, kRegisterCount - 1))];
    std::array<char, kFrameBodyLength + 1> body{};
    std::snprintf(body.data(), body.size(), "%02d%.2s%1d%.2s%.8s",
                  std::clamp(address, 0, kAddressCount - 1), command.data(), std::clamp(bank, 0, 9),
                  reg.data(), ValueFieldCharacters(value).data());

    SimReplyFrame frame{};
    frame[0] = kAck;
    frame[1] = kStx;
    std::memcpy(frame.data() + 2, body.data(), kFrameBodyLength);
    frame[17] = kEtx;
    frame[18] = Crc8(frame.data() + 2, kFrameBodyLength + 1);
    return frame;
}
