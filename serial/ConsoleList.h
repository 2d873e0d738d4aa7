#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// The kernel's consoles are never opened as a meter port: frames written to them would disturb
// the system (on many servers and virtual machines /dev/ttyS0 is the console).

// True when the character device rdev is /dev/tty, /dev/console or one of the devices in
// consoleList, the text of /proc/consoles (one console a line, "major:minor" as its last field).
bool IsConsoleDevice(dev_t rdev, std::string_view consoleList);

// The text of the console list at path; empty when it cannot be read.
std::string ReadConsoleList(const std::string& path);
