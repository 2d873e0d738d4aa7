#pragma once

#include <string>

// Switches LC_NUMERIC to a locale that writes a decimal comma, as many desktops do, and back at the
// end of its scope. Uses an installed one when there is one; otherwise it compiles de_DE.UTF-8
// from the C library's locale sources (Debian's "locales" package) into a private folder once
// per process and points LOCPATH at it. IsSet() is false when neither works.
class CCommaDecimalLocale {
public:
    CCommaDecimalLocale();
    ~CCommaDecimalLocale();
    CCommaDecimalLocale(const CCommaDecimalLocale&) = delete;
    CCommaDecimalLocale& operator=(const CCommaDecimalLocale&) = delete;

    bool IsSet() const { return m_bSet; }

private:
    std::string m_strPrevious;
    bool m_bSet = false;
};
