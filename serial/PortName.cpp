#include <cctype>
#include <charconv>
#include <system_error>

#include "serial/PortDevice.h"

std::optional<int> ParseComName(std::string_view name) {
    constexpr std::string_view kCom = "COM";
    if (name.size() <= kCom.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < kCom.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != kCom[i]) {
            return std::nullopt;
        }
    }
    const std::string_view digits = name.substr(kCom.size());
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    int n = 0;
    const auto [pEnd, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return ec == std::errc() && pEnd == digits.data() + digits.size() ? n : 0;
}
