#include "serial/SystemError.h"

#include <array>

#include "serial/SystemErrorWin32.h"
#include "serial/TextWin32.h"

std::string SystemErrorTextIn(DWORD nCode, LANGID language) {
    // The wide variant: the ANSI one gives the message in the ANSI code page, which a console
    // (OEM code page) and a UTF-8 log both show garbled.
    std::array<wchar_t, 512> text{};
    const DWORD nLength =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, nCode,
                       language, text.data(), static_cast<DWORD>(text.size()), nullptr);
    std::wstring_view message(text.data(), nLength);
    // The system's messages end in a full stop and a line break.
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.remove_suffix(1);
    }
    const std::string words = message.empty() ? "system error" : Utf8FromWide(message);
    return words + " (error " + std::to_string(nCode) + ")";
}

std::string SystemErrorText(int nCode) {
    return SystemErrorTextIn(static_cast<DWORD>(nCode), 0);
}

std::string_view PermissionFix() {
    // Windows answers "access denied" for a port that another program holds, which is reported
    // as in use; a real lack of rights has no usual fix a user can apply.
    return {};
}
