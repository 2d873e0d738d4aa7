#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text inside the programs is UTF-8 on every system. Windows takes and gives it as UTF-16 through
// its wide-character calls, which alone reach every character: the "A" calls go through the
// system's ANSI code page, and a console shows bytes in yet another, its OEM code page.

// Bytes that are no UTF-8 become U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
// Text in the ANSI code page (what the C library's narrow environment holds), as UTF-8.
std::string Utf8FromAnsi(std::string_view text);

// The length of the longest start of text that does not end inside a character: text arriving in
// pieces is converted up to there, the rest waits for the next piece. Bytes that cannot start a
// character count as whole (they become U+FFFD at once).
size_t CompleteUtf8Length(std::string_view text);
