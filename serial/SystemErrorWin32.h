#pragma once

#include <string>

#include <windows.h>

// The system's message for an error code in the given language (0: the user's own), as UTF-8,
// with the code: "Access is denied (error 5)". "system error (error N)" when the system has no
// message for it in that language.
std::string SystemErrorTextIn(DWORD nCode, LANGID language);
