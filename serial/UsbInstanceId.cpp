#include "serial/UsbInstanceId.h"

#include <algorithm>
#include <cctype>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

size_t FindNoCase(std::string_view text, std::string_view key) {
    for (size_t at = 0; at + key.size() <= text.size(); ++at) {
        if (StartsWithNoCase(text.substr(at), key)) {
            return at;
        }
    }
    return std::string_view::npos;
}

} // namespace

std::string UsbIdAfter(std::string_view id, std::string_view key) {
    const size_t at = FindNoCase(id, key);
    if (at == std::string_view::npos || at + key.size() + 4 > id.size()) {
        return {};
    }
    const std::string_view digits = id.substr(at + key.size(), 4);
    const bool bHex = std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    return bHex ? std::string(digits) : std::string();
}

std::optional<UsbInstance> ParseUsbInstanceId(std::string_view id) {
    if (!StartsWithNoCase(id, "USB\\")) {
        return std::nullopt;
    }
    id.remove_prefix(4);
    const size_t slash = id.find('\\');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view hardware = id.substr(0, slash);
    const std::string_view instance = id.substr(slash + 1);
    UsbInstance usb{UsbIdAfter(hardware, "VID_"),
                    UsbIdAfter(hardware, "PID_"),
                    {},
                    FindNoCase(hardware, "&MI_") != std::string_view::npos};
    if (usb.vendorId.empty() || usb.productId.empty()) {
        return std::nullopt;
    }
    if (!usb.bInterface && !instance.empty() &&
        instance.find_first_of("&\\") == std::string_view::npos) {
        usb.serialNumber = instance;
    }
    return usb;
}
