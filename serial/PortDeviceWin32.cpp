#include "serial/PortDevice.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <tuple>

#include <windows.h>

#include "serial/PortsClassWin32.h"
#include "serial/TextWin32.h"

// On Windows a port's number is its name: COMn is the device \\.\COMn, present or not. The ports
// present are those of the system's device map (HARDWARE\DEVICEMAP\SERIALCOMM), which adds the
// driver's name of each device and tells an adapter from a built-in port, and those of the device
// manager's ports class, where some drivers of virtual and USB ports enter theirs alone.

namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr std::string_view kDevicePrefix = "\\\\.\\";

std::string DevicePath(int port) {
    return std::string(kDevicePrefix) + "COM" + std::to_string(port);
}

// A bare port name as users write it ("COM12") opens as \\.\COM12: without the prefix the system
// finds COM1 to COM9 only. Anything else is taken as it is.
std::string OpenablePath(const std::string& value) {
    const int n = ParseComName(value).value_or(0);
    return n > 0 ? DevicePath(n) : value;
}

PortLocation Locate(int port, const std::vector<SerialDevice>& devices) {
    PortLocation location;
    if (port < 1) {
        return location;
    }
    if (const std::optional<std::string> named = PortFromEnvironment(port)) {
        location.bFromEnvironment = true;
        // The C library's environment is in the ANSI code page; paths here are UTF-8.
        location.device.path = OpenablePath(Utf8FromAnsi(*named));
        location.device.device = location.device.path;
        return location;
    }
    location.device.path = DevicePath(port);
    location.device.device = location.device.path;
    location.nPresent = static_cast<int>(devices.size());
    const auto it = std::find_if(devices.begin(), devices.end(), [&](const SerialDevice& d) {
        return d.path == location.device.path;
    });
    if (it != devices.end()) {
        location.device.byIdName = it->byIdName; // the driver's name: \Device\Serial0, ...
    }
    return location;
}

} // namespace

std::vector<SerialDevice> ListSerialDevices(const PortDirectories&) {
    std::vector<std::tuple<int, SerialDevice>> found;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        for (DWORD nIndex = 0;; ++nIndex) {
            std::array<char, 256> valueName{};
            std::array<char, 64> data{};
            DWORD nNameLength = static_cast<DWORD>(valueName.size());
            DWORD nDataLength = static_cast<DWORD>(data.size() - 1);
            DWORD nType = 0;
            const LONG nResult =
                RegEnumValueA(hKey, nIndex, valueName.data(), &nNameLength, nullptr, &nType,
                              reinterpret_cast<BYTE*>(data.data()), &nDataLength);
            if (nResult == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (nResult != ERROR_SUCCESS || nType != REG_SZ) {
                continue;
            }
            const std::string portName(data.data()); // "COM3"; the data may lack its terminator
            if (const int n = ParseComName(portName).value_or(0); n > 0) {
                found.emplace_back(n, SerialDevice{DevicePath(n), DevicePath(n),
                                                   std::string(valueName.data(), nNameLength)});
            }
        }
        RegCloseKey(hKey);
    }
    for (const PortsClassDevice& port : ListPortsClassDevices()) {
        const int n = ParseComName(port.portName).value_or(0);
        const bool bListed = std::any_of(
            found.begin(), found.end(), [n](const auto& entry) { return std::get<0>(entry) == n; });
        if (n > 0 && !bListed) {
            found.emplace_back(n, SerialDevice{DevicePath(n), DevicePath(n), std::string()});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
    std::vector<SerialDevice> devices;
    for (auto& [n, device] : found) {
        devices.push_back(std::move(device));
    }
    return devices;
}

PortLocation LocatePort(int port, const PortDirectories& dirs) {
    const std::vector<SerialDevice> devices = ListSerialDevices(dirs);
    return Locate(port, devices);
}

std::vector<PortLocation> LocatePorts(int count, const PortDirectories& dirs) {
    const std::vector<SerialDevice> devices = ListSerialDevices(dirs);
    std::vector<PortLocation> locations;
    for (int port = 1; port <= count; ++port) {
        locations.push_back(Locate(port, devices));
    }
    return locations;
}

int HighestPortNumber(const std::vector<SerialDevice>& present) {
    int highest = 0;
    for (const SerialDevice& device : present) {
        const size_t slash = device.path.find_last_of('\\');
        const std::string name =
            slash == std::string::npos ? device.path : device.path.substr(slash + 1);
        highest = std::max(highest, ParseComName(name).value_or(0));
    }
    return highest;
}
