#include "serial/PortDevice.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUartPrefix = "ttyS";

// The number of a UART's name ("ttyS12" gives 12); -1 for any other name.
int UartNumber(std::string_view name) {
    if (name.substr(0, kUartPrefix.size()) != kUartPrefix || name.size() == kUartPrefix.size()) {
        return -1;
    }
    const std::string_view digits = name.substr(kUartPrefix.size());
    int n = -1;
    const auto [pEnd, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return ec == std::errc() && pEnd == digits.data() + digits.size() ? n : -1;
}

// The port type the driver reports; 0 (no port there) when it cannot be read.
int PortType(const fs::path& ttyFolder) {
    std::ifstream file(ttyFolder / "type");
    int nType = 0;
    if (!(file >> nType)) {
        return 0;
    }
    return nType;
}

// The node a path leads to, links followed; empty when it leads nowhere.
std::string ResolvedDevice(const fs::path& path) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(path, ec);
    return ec ? std::string() : resolved.string();
}

void AppendUarts(const PortDirectories& dirs, std::vector<SerialDevice>& devices) {
    std::vector<std::pair<int, std::string>> uarts;
    std::error_code ec;
    for (fs::directory_iterator it(dirs.ttyClass, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const int n = UartNumber(name);
        if (n >= 0 && PortType(it->path()) != 0) {
            uarts.emplace_back(n, name);
        }
    }
    std::sort(uarts.begin(), uarts.end());
    for (const auto& [n, name] : uarts) {
        const fs::path node = fs::path(dirs.devices) / name;
        std::string device = ResolvedDevice(node);
        if (!device.empty()) {
            devices.push_back({node.string(), std::move(device), {}});
        }
    }
}

void AppendAdapters(const PortDirectories& dirs, std::vector<SerialDevice>& devices) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dirs.byId, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    const size_t nUarts = devices.size();
    for (std::string& name : names) {
        const fs::path link = fs::path(dirs.byId) / name;
        std::string device = ResolvedDevice(link); // a dangling link: the adapter is gone
        const auto uartsEnd = devices.begin() + static_cast<std::ptrdiff_t>(nUarts);
        const bool bListed = std::any_of(devices.begin(), uartsEnd, [&](const SerialDevice& uart) {
            return uart.device == device;
        });
        if (!device.empty() && !bListed) {
            devices.push_back({link.string(), std::move(device), std::move(name)});
        }
    }
}

// COMn; the ports present are listed into `devices` the first time a number needs them.
PortLocation Locate(int port, const PortDirectories& dirs,
                    std::optional<std::vector<SerialDevice>>& devices) {
    PortLocation location;
    if (port < 1) {
        return location;
    }
    if (const std::optional<std::string> named = PortFromEnvironment(port)) {
        location.bFromEnvironment = true;
        location.device.path = *named;
        location.device.device = ResolvedDevice(*named);
        return location;
    }
    if (!devices) {
        devices = ListSerialDevices(dirs);
    }
    location.nPresent = static_cast<int>(devices->size());
    if (static_cast<size_t>(port) <= devices->size()) {
        location.device = (*devices)[static_cast<size_t>(port) - 1];
    }
    return location;
}

} // namespace

std::vector<SerialDevice> ListSerialDevices(const PortDirectories& dirs) {
    std::vector<SerialDevice> devices;
    AppendUarts(dirs, devices);
    AppendAdapters(dirs, devices);
    return devices;
}

PortLocation LocatePort(int port, const PortDirectories& dirs) {
    std::optional<std::vector<SerialDevice>> devices;
    return Locate(port, dirs, devices);
}

std::vector<PortLocation> LocatePorts(int count, const PortDirectories& dirs) {
    std::vector<PortLocation> locations;
    std::optional<std::vector<SerialDevice>> devices;
    for (int port = 1; port <= count; ++port) {
        locations.push_back(Locate(port, dirs, devices));
    }
    return locations;
}

int HighestPortNumber(const std::vector<SerialDevice>& present) {
    return static_cast<int>(present.size());
}
