#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "serial/ConsoleList.h"
#include "serial/UniqueFd.h"

// The device ends the simulator serves: a fresh pseudo-terminal, or a port or pty that exists.

// A new pseudo-terminal: the master (non-blocking), the path of the slave that the peer opens, and
// a slave fd held open by the simulator (see OpenPtySlaveKeeper). The slave is set raw (no echo,
// no line editing, no translation) before the peer can open it.
struct SimPty {
    CUniqueFd master;
    CUniqueFd slaveKeeper;
    std::string slavePath;
};
std::optional<SimPty> OpenPty();

// Opens the slave of the pty whose master is `masterFd`, so that the master keeps working while
// the peer has closed its side (without it, reads give EIO and poll reports a hang-up). An invalid
// fd when `masterFd` is not a pty master.
CUniqueFd OpenPtySlaveKeeper(int masterFd);

// Opens `path` non-blocking as a raw 8N1 line at `speed` bit/s without flow control. Speeds are
// the standard ones from 50 to 4000000. A device the kernel uses as its console (listed at
// `consoleListPath`, or /dev/console and /dev/tty) is refused, as the tool's own port refuses it:
// frames written there would disturb the system. On failure the fd is invalid and `error` says
// why.
CUniqueFd OpenSerialDevice(const std::string& path, int speed, std::string& error,
                           std::string_view consoleListPath = kKernelConsoleList);

bool IsStandardSpeed(int speed);
