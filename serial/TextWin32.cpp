#include "serial/TextWin32.h"

#include <algorithm>
#include <climits>

#include <windows.h>

namespace {

constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuation = 0x80;
constexpr size_t kLongestSequence = 4;

// How many bytes a character that starts with lead has; 1 for a byte that starts none.
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 1;
}

std::wstring WideFromCodePage(std::string_view text, UINT nCodePage) {
    // Longer texts than an int can count do not occur here; they are cut rather than wrapped.
    const int nBytes = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
    if (nBytes == 0) {
        return {};
    }
    const int nChars = MultiByteToWideChar(nCodePage, 0, text.data(), nBytes, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(nChars, 0)), L'\0');
    if (nChars > 0) {
        MultiByteToWideChar(nCodePage, 0, text.data(), nBytes, wide.data(), nChars);
    }
    return wide;
}

} // namespace

std::wstring WideFromUtf8(std::string_view text) {
    return WideFromCodePage(text, CP_UTF8);
}

std::string Utf8FromWide(std::wstring_view text) {
    const int nChars = static_cast<int>(std::min<size_t>(text.size(), INT_MAX / 4));
    if (nChars == 0) {
        return {};
    }
    const int nBytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), nChars, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(std::max(nBytes, 0)), '\0');
    if (nBytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), nChars, utf8.data(), nBytes, nullptr, nullptr);
    }
    return utf8;
}

std::string Utf8FromAnsi(std::string_view text) {
    return Utf8FromWide(WideFromCodePage(text, CP_ACP));
}

size_t CompleteUtf8Length(std::string_view text) {
    // Only the last character can be cut: look back for its first byte.
    const size_t nLookBack = std::min(text.size(), kLongestSequence - 1);
    for (size_t i = 1; i <= nLookBack; ++i) {
        const auto byte = static_cast<unsigned char>(text[text.size() - i]);
        if ((byte & kContinuationMask) == kContinuation) {
            continue;
        }
        return SequenceLength(byte) > i ? text.size() - i : text.size();
    }
    return text.size();
}
