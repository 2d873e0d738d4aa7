#include "serial/PortsClassWin32.h"

#include <array>
#include <optional>

#include <windows.h>

#include <initguid.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include "serial/TextWin32.h"
#include "serial/UsbInstanceId.h"

namespace {

// A port sits a few levels below its USB device at most: port, interface, device.
constexpr int kParentsToLook = 4;

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

std::string InstanceId(DEVINST node) {
    std::array<wchar_t, MAX_DEVICE_ID_LEN + 1> id{};
    return CM_Get_Device_IDW(node, id.data(), static_cast<ULONG>(id.size() - 1), 0) == CR_SUCCESS
               ? Utf8FromWide(id.data())
               : std::string();
}

// How the device describes itself on its bus (its USB product string).
std::string BusReportedName(DEVINST node) {
    std::array<wchar_t, 256> text{};
    DEVPROPTYPE type = 0;
    ULONG size = static_cast<ULONG>(sizeof(text) - sizeof(wchar_t));
    if (CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_BusReportedDeviceDesc, &type,
                                 reinterpret_cast<BYTE*>(text.data()), &size, 0) != CR_SUCCESS ||
        type != DEVPROP_TYPE_STRING) {
        return {};
    }
    return Utf8FromWide(text.data());
}

// The USB device that the port sits on, by walking up from the port: its ids, serial number and
// name.
void DescribeUsbAncestor(DEVINST node, PortsClassDevice& port) {
    for (int level = 0; level < kParentsToLook; ++level) {
        if (port.product.empty()) {
            port.product = BusReportedName(node);
        }
        if (const std::optional<UsbInstance> usb = ParseUsbInstanceId(InstanceId(node));
            usb && !usb->bInterface) {
            port.vendorId = usb->vendorId;
            port.productId = usb->productId;
            port.serialNumber = usb->serialNumber;
            return;
        }
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            return;
        }
        node = parent;
    }
}

} // namespace

std::vector<PortsClassDevice> ListPortsClassDevices() {
    std::vector<PortsClassDevice> ports;
    const HDEVINFO hInfo =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (hInfo == INVALID_HANDLE_VALUE) {
        return ports;
    }
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(hInfo, i, &data); ++i) {
        PortsClassDevice port;
        port.portName = PortName(hInfo, data);
        if (port.portName.empty()) {
            continue; // a printer port, or a port without a name yet
        }
        port.friendlyName = RegistryText(hInfo, data, SPDRP_FRIENDLYNAME);
        port.hardwareId = RegistryText(hInfo, data, SPDRP_HARDWAREID);
        port.manufacturer = RegistryText(hInfo, data, SPDRP_MFG);
        DescribeUsbAncestor(data.DevInst, port);
        // A driver of its own ("FTDIBUS\VID_0403+PID_6001...") names the ids in the port's.
        if (port.vendorId.empty()) {
            port.vendorId = UsbIdAfter(port.hardwareId, "VID_");
            port.productId =
                port.vendorId.empty() ? std::string() : UsbIdAfter(port.hardwareId, "PID_");
        }
        ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(hInfo);
    return ports;
}
