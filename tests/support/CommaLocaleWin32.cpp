#include "tests/support/CommaLocale.h"

#include <clocale>

// Windows has its locales built in; they go by two kinds of name, depending on the C library.
CCommaDecimalLocale::CCommaDecimalLocale() : m_strPrevious(std::setlocale(LC_NUMERIC, nullptr)) {
    for (const char* pszName : {"de-DE", "German_Germany.1252", "fr-FR", "French_France.1252"}) {
        if (std::setlocale(LC_NUMERIC, pszName) != nullptr &&
            std::localeconv()->decimal_point[0] == ',') {
            m_bSet = true;
            return;
        }
    }
    std::setlocale(LC_NUMERIC, m_strPrevious.c_str());
}

CCommaDecimalLocale::~CCommaDecimalLocale() {
    std::setlocale(LC_NUMERIC, m_strPrevious.c_str());
}
