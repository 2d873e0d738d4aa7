#pragma once

#include <string>
#include <string_view>

// The parts of an open failure's text that differ between operating systems.

// The system's own words for one of its error numbers (errno on Linux, GetLastError on Windows).
std::string SystemErrorText(int nCode);

// What a user usually does when the system denies access to a serial device; empty when there is
// no usual fix.
std::string_view PermissionFix();
