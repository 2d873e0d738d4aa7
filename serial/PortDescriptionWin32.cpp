#include "serial/PortDescription.h"

#include <array>
#include <memory>
#include <string_view>

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include "serial/TextWin32.h"

namespace {

// "USB\VID_0403&PID_6001\..." or "FTDIBUS\VID_0403+PID_6001+...": the four hex digits after a key.
std::string IdAfter(std::string_view hardwareId, std::string_view key) {
    const size_t at = hardwareId.find(key);
    if (at == std::string_view::npos || at + key.size() + 4 > hardwareId.size()) {
        return {};
    }
    return std::string(hardwareId.substr(at + key.size(), 4));
}

std::string RegistryText(HDEVINFO hInfo, SP_DEVINFO_DATA& data, DWORD property) {
    std::array<wchar_t, 512> buffer{};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(
            hInfo, &data, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
            static_cast<DWORD>(sizeof(buffer) - sizeof(wchar_t)), nullptr)) {
        return {};
    }
    return Utf8FromWide(buffer.data()); // a multi-string's first entry: the most specific id
}

// The port's name ("COM3") from its device's own registry key.
std::string PortName(HDEVINFO hInfo, SP_DEVINFO_DATA& data) {
    const HKEY hKey =
        SetupDiOpenDevRegKey(hInfo, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (hKey == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::array<wchar_t, 64> name{};
    DWORD size = static_cast<DWORD>(sizeof(name) - sizeof(wchar_t));
    DWORD type = 0;
    const LONG result = RegQueryValueExW(hKey, L"PortName", nullptr, &type,
                                         reinterpret_cast<BYTE*>(name.data()), &size);
    RegCloseKey(hKey);
    return result == ERROR_SUCCESS && type == REG_SZ ? Utf8FromWide(name.data()) : std::string();
}

} // namespace

PortDescription DescribePort(const SerialDevice& device, const PortDirectories&) {
    PortDescription description;
    // The port's name at the end of its path: \\.\COM3 names COM3.
    const size_t slash = device.path.find_last_of('\\');
    const std::string wanted =
        slash == std::string::npos ? device.path : device.path.substr(slash + 1);
    const HDEVINFO hInfo =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (hInfo == INVALID_HANDLE_VALUE) {
        return description;
    }
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(hInfo, i, &data); ++i) {
        if (_stricmp(PortName(hInfo, data).c_str(), wanted.c_str()) != 0) {
            continue;
        }
        description.friendlyName = RegistryText(hInfo, data, SPDRP_FRIENDLYNAME);
        description.hardwareId = RegistryText(hInfo, data, SPDRP_HARDWAREID);
        description.manufacturer = RegistryText(hInfo, data, SPDRP_MFG);
        description.vendorId = IdAfter(description.hardwareId, "VID_");
        description.productId = IdAfter(description.hardwareId, "PID_");
        break;
    }
    SetupDiDestroyDeviceInfoList(hInfo);
    return description;
}
