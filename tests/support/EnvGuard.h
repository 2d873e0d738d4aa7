#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Sets and unsets environment variables for a test (QD7_COMn above all) and puts each one back as
// it was before the guard first changed it, when the guard goes: a fixture member restores them
// after every test, a local one at the end of its scope. A user's own QD7_COM1 survives the suite.
class CEnvGuard {
public:
    CEnvGuard() = default;
    ~CEnvGuard();
    CEnvGuard(const CEnvGuard&) = delete;
    CEnvGuard& operator=(const CEnvGuard&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

private:
    void Remember(const std::string& name);

    // Each variable's value before the first change (none: it was not set), in order of change.
    std::vector<std::pair<std::string, std::optional<std::string>>> m_vecSaved;
};
