#include "tests/support/CommaLocale.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

bool TrySetCommaLocale() {
    for (const char* pszName : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                "ru_RU.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "nl_NL.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, pszName) != nullptr &&
            std::localeconv()->decimal_point[0] == ',') {
            return true;
        }
    }
    return false;
}

// Compiles de_DE.UTF-8 into a private folder and makes the C library look there first.
bool CompilePrivateLocale() {
    static const bool bCompiled = [] {
        std::string dir = "/tmp/qd7-locale-" + std::to_string(::getuid());
        const std::string command = "mkdir -p '" + dir + "' && localedef -c -i de_DE -f UTF-8 '" +
                                    dir + "/de_DE.UTF-8' >/dev/null 2>&1";
        // localedef exits 1 for mere warnings; the setlocale below is the real check.
        (void)std::system(command.c_str());
        ::setenv("LOCPATH", dir.c_str(), 1);
        return true;
    }();
    return bCompiled;
}

} // namespace

CCommaDecimalLocale::CCommaDecimalLocale() : m_strPrevious(std::setlocale(LC_NUMERIC, nullptr)) {
    m_bSet = TrySetCommaLocale() || (CompilePrivateLocale() && TrySetCommaLocale());
    if (!m_bSet) {
        std::setlocale(LC_NUMERIC, m_strPrevious.c_str());
    }
}

CCommaDecimalLocale::~CCommaDecimalLocale() {
    std::setlocale(LC_NUMERIC, m_strPrevious.c_str());
}
