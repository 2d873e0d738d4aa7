#pragma once

#include <string>

// Sets or removes a variable of the test process's environment (the C library's getenv sees it).
void SetEnvVariable(const std::string& name, const std::string& value);
void ClearEnvVariable(const std::string& name);
