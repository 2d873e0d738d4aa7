#include "tests/support/EnvGuard.h"

#include <algorithm>
#include <cstdlib>

#include "tests/support/EnvVariable.h"

CEnvGuard::~CEnvGuard() {
    for (auto it = m_vecSaved.rbegin(); it != m_vecSaved.rend(); ++it) {
        if (it->second) {
            SetEnvVariable(it->first, *it->second);
        } else {
            ClearEnvVariable(it->first);
        }
    }
}

void CEnvGuard::Set(const std::string& name, const std::string& value) {
    Remember(name);
    SetEnvVariable(name, value);
}

void CEnvGuard::Unset(const std::string& name) {
    Remember(name);
    ClearEnvVariable(name);
}

void CEnvGuard::Remember(const std::string& name) {
    const bool bKnown = std::any_of(m_vecSaved.begin(), m_vecSaved.end(),
                                    [&](const auto& saved) { return saved.first == name; });
    if (bKnown) {
        return;
    }
    const char* pszValue = std::getenv(name.c_str());
    m_vecSaved.emplace_back(name, pszValue != nullptr ? std::optional<std::string>(pszValue)
                                                      : std::nullopt);
}
