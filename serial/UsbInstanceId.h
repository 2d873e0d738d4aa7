#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the instance id of a USB device on Windows says of it: "USB\VID_0403&PID_6001\A50285BI" is
// an adapter with vendor id 0403, product id 6001 and serial number A50285BI. Windows makes up
// the last part of the id, with "&" in it ("5&2A1B3C4D&0&2"), for a device without a serial
// number, and an interface of a composite device ("USB\VID_2341&PID_0043&MI_00\6&...") names no
// serial number either: its parent, the device itself, does.
struct UsbInstance {
    std::string vendorId;     // four hex digits, as written: "0403"
    std::string productId;    // "6001"
    std::string serialNumber; // empty: none, or not known from this id
    bool bInterface = false;  // one interface of a composite device: look at its parent
};

// Nothing for an id that is not a USB device's (a port's own "FTDIBUS\...", "ACPI\PNP0501\1").
std::optional<UsbInstance> ParseUsbInstanceId(std::string_view id);

// The four hex digits after `key` ("VID_", "PID_") in a hardware id, whatever stands around them:
// "USB\VID_0403&PID_6001", "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000". Empty when there are none.
std::string UsbIdAfter(std::string_view id, std::string_view key);
