#include "serial/SystemError.h"

#include <array>

#include <windows.h>

std::string SystemErrorText(int nCode) {
    std::array<char, 256> text{};
    const DWORD nLength = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                         nullptr, static_cast<DWORD>(nCode), 0, text.data(),
                                         static_cast<DWORD>(text.size()), nullptr);
    std::string message(text.data(), nLength);
    // The system's messages end in a full stop and a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "system error";
    }
    return message + " (error " + std::to_string(nCode) + ")";
}

std::string_view PermissionFix() {
    // Windows answers "access denied" for a port that another program holds, which is reported
    // as in use; a real lack of rights has no usual fix a user can apply.
    return {};
}
