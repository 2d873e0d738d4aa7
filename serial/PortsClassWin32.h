#pragma once

#include <string>
#include <vector>

// The serial ports of the device manager's ports class ("Ports (COM & LPT)") present now, as
// SetupAPI and the configuration manager list them: also those that a driver of a virtual or USB
// port did not enter in the system's device map. Read from the system's lists alone: no device
// is opened.
struct PortsClassDevice {
    std::string portName;     // "COM12"
    std::string friendlyName; // "USB Serial Port (COM12)"
    std::string hardwareId;   // the most specific one: "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"
    std::string manufacturer; // as the driver's setup names it: "FTDI"
    std::string product;      // as the adapter reports itself on the bus: "FT232R USB UART"
    std::string vendorId;     // USB ids, of the adapter the port sits on: "0403"
    std::string productId;
    std::string serialNumber; // the adapter's, when it has one
};

std::vector<PortsClassDevice> ListPortsClassDevices();
