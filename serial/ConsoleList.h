#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// The kernel's consoles are never opened as a meter port: frames written to them would disturb
// the system (on many servers and virtual machines /dev/ttyS0 is the console).

// Where Linux lists its consoles.
inline constexpr std::string_view kKernelConsoleList = "/proc/consoles";

// True when the character device rdev is /dev/tty, /dev/console or one of the devices in
// consoleList, the text of /proc/consoles (one console a line, "major:minor" as its last field).
bool IsConsoleDevice(dev_t rdev, std::string_view consoleList);

// The same for the device that path names now, and for the one that fd holds open (the name may
// have been pointed elsewhere between the look-up and the open). What is not a character device is
// no console; a path that cannot be looked up is none either, and opening it fails on its own.
bool IsConsolePath(const std::string& path, std::string_view consoleList);
bool IsConsoleFd(int fd, std::string_view consoleList);

// The text of the console list at path; empty when it cannot be read.
std::string ReadConsoleList(const std::string& path);

// Where Linux lists the drivers of its terminals, each with its device numbers: a character device
// outside every range there (/dev/null, /dev/zero) is no terminal, and so no serial line.
inline constexpr std::string_view kTerminalDriverList = "/proc/tty/drivers";

// False when driverList, the text of /proc/tty/drivers (one driver a line, ending in its major
// number, its minor or range of minors "first-last", and its type), is read and no line covers
// rdev. An empty list says nothing: then every device may be a terminal.
bool MayBeTerminal(dev_t rdev, std::string_view driverList);
