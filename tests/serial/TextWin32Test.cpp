// Text between the programs (UTF-8) and Windows' wide-character calls, and the system's messages.

#include <gtest/gtest.h>

#include <string>

#include "serial/SystemErrorWin32.h"
#include "serial/TextWin32.h"

namespace {

TEST(TextWin32Test, Utf8AndUtf16CarryEveryCharacter) {
    // Latin, Hangul, and a character beyond the basic plane (a surrogate pair in UTF-16).
    const std::string utf8 = "Ung\xC3\xBCltig \xEC\xA0\x95\xEB\xB3\xB4 \xF0\x9F\x94\x8C";
    const std::wstring wide = L"Ung\u00FCltig \uC815\uBCF4 \U0001F50C";
    EXPECT_EQ(WideFromUtf8(utf8), wide);
    EXPECT_EQ(Utf8FromWide(wide), utf8);
    EXPECT_EQ(WideFromUtf8(""), L"");
    // A byte of another encoding is replaced, not passed on as something else.
    EXPECT_EQ(WideFromUtf8("Ung\xFCltig"), L"Ung\uFFFDltig");
    // Windows-1252, the ANSI code page under wine and on western systems.
    if (GetACP() == 1252) {
        EXPECT_EQ(Utf8FromAnsi("C:\\Z\xE4hler"), "C:\\Z\xC3\xA4hler");
    }
}

TEST(TextWin32Test, TextInPiecesIsCutOnlyBetweenCharacters) {
    struct Case {
        std::string text;
        size_t nComplete;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 3},
        {"ab\xC3", 2},            // first byte of a two-byte character
        {"ab\xC3\xBC", 4},        // the whole of it
        {"a\xEC\xA0", 1},         // two of three
        {"a\xF0\x9F\x94", 1},     // three of four
        {"a\xF0\x9F\x94\x8C", 5}, // all four
        {"a\x8C", 2},             // a stray continuation byte: nothing will complete it
        {"a\xFF", 2},             // no character starts so
        {"\x9F\x94\x8C", 3},      // continuation bytes only
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompleteUtf8Length(c.text), c.nComplete) << testing::PrintToString(c.text);
    }
}

TEST(TextWin32Test, SystemMessagesArriveAsUtf8WithTheirCode) {
    // The full stop and the line break of the system's text are dropped; a code without a
    // message still says which it was.
    const std::string denied = SystemErrorTextIn(ERROR_ACCESS_DENIED, 0);
    EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos) << denied;
    EXPECT_NE(denied.rfind(" (error 5)"), std::string::npos) << denied;
    EXPECT_NE(denied.substr(0, denied.rfind(" (error 5)")).back(), '.') << denied;
    EXPECT_EQ(SystemErrorTextIn(0x2FFFFFFF, 0), "system error (error 805306367)");

    const std::string german =
        SystemErrorTextIn(ERROR_INVALID_HANDLE, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    if (german.rfind("system error", 0) == 0) {
        GTEST_SKIP() << "the system has no German messages";
    }
    // Through the ANSI call the umlaut would come in the ANSI code page (one byte, 0xFC).
    EXPECT_EQ(german, "Ung\xC3\xBCltiges Handle (error 6)");
}

} // namespace
