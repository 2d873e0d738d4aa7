#include "serial/PortDevice.h"

#include <array>
#include <cstdio>
#include <cstdlib>

// COMn is the device named by $QD7_COMn when set (a USB adapter, a simulator's pty), else the
// usual Linux name of the n-th built-in port, /dev/ttyS(n-1).
std::string PortDevicePath(int port) {
    if (port < 1) {
        return {};
    }
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), "QD7_COM%d", port);
    if (const char* pDevice = std::getenv(name.data()); pDevice != nullptr && *pDevice != '\0') {
        return pDevice;
    }
    std::snprintf(name.data(), name.size(), "/dev/ttyS%d", port - 1);
    return name.data();
}
