#pragma once

#include <string>

#include "serial/PortDevice.h"

// What the system says about the hardware behind a serial port, for a person choosing one: a USB
// adapter's ids and the strings it reports, and on Windows the device manager's names. Fields the
// system does not know stay empty. Read from the system's device lists alone: the device itself
// is never opened.
struct PortDescription {
    std::string vendorId;     // USB vendor id, four hex digits: "0403"
    std::string productId;    // USB product id: "6001"
    std::string manufacturer; // as the adapter reports it
    std::string product;
    std::string serialNumber;
    std::string friendlyName; // Windows: "USB Serial Port (COM3)"
    std::string hardwareId;   // Windows: "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"
};

// Linux: from sysfs (dirs.ttyClass) above the terminal the device node names; Windows: from the
// ports class of the device manager, by the port's name.
PortDescription DescribePort(const SerialDevice& device, const PortDirectories& dirs);
