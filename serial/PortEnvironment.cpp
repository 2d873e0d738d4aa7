#include "serial/PortDevice.h"

#include <array>
#include <cstdio>
#include <cstdlib>

std::optional<std::string> PortFromEnvironment(int port) {
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), "QD7_COM%d", port);
    const char* pDevice = std::getenv(name.data());
    if (pDevice == nullptr || *pDevice == '\0') {
        return std::nullopt;
    }
    return std::string(pDevice);
}
