#include "protocol/Address.h"

#include "protocol/NumberText.h"

std::string FormatAddress(int address) {
    if (IsAddress(address)) {
        const std::array<char, 2> digits = AddressDigits(address);
        return std::string(digits.data(), digits.size());
    }
    return std::to_string(address); // at least two characters already: "-1", "100"
}

std::optional<int> ParseAddress(std::string_view text) {
    if (text.size() > 2) {
        return std::nullopt;
    }
    const auto value = ParseWholeNumber(text, 0, kAddressCount - 1);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}
