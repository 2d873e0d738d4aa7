#pragma once

#include <memory>
#include <string>

#include "serial/ConsoleList.h"
#include "serial/DeviceHolder.h"
#include "serial/SerialOps.h"

// The files of the kernel that the Linux backend consults before it opens a device; tests hand in
// files and folders of their own.
struct LinuxSystemFiles {
    std::string consoleList{kKernelConsoleList};      // its consoles are never opened
    std::string terminalDrivers{kTerminalDriverList}; // a device none of them drives is no line
    std::string procRoot{kProcRoot}; // the processes, for another holder of the device
};

std::unique_ptr<ISerialOps> CreateLinuxSerialOps(LinuxSystemFiles files);
